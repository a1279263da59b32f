#!/usr/bin/env python3
"""Writes the sample's pictures: a 16-colour icon, a 4-bit and an 8-bit
bitmap. Run once; the outputs are kept next to the script."""
import struct

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]


def dib(width, height, bits, index_of, palette, mask_of=None):
    header = struct.pack('<IiiHHIIiiII', 40, width, height * (2 if mask_of else 1), 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    stride = ((width * bits + 31) // 32) * 4
    rows = b''
    for y in reversed(range(height)):  # bottom-up
        row = bytearray(stride)
        for x in range(width):
            v = index_of(x, y)
            if bits == 4:
                row[x // 2] |= v << (4 if x % 2 == 0 else 0)
            else:
                row[x] = v
        rows += bytes(row)
    mask = b''
    if mask_of:
        mstride = ((width + 31) // 32) * 4
        for y in reversed(range(height)):
            row = bytearray(mstride)
            for x in range(width):
                if mask_of(x, y):
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(row)
    return header + pal + rows + mask


def bmp_file(body):
    offset = 14 + 40 + (body[32] | body[33] << 8) * 4
    return b'BM' + struct.pack('<IHHI', 14 + len(body), 0, 0, offset) + body


# The 4-bit logo: 16 vertical colour bars, 2 pixels each, over 8 rows,
# then a white field with a black diagonal: every pixel is predictable.
def logo4(x, y):
    if y < 8:
        return x // 2
    return 0 if x == y else 15


def logo8(x, y):
    return (x + y * 16) % 256


palette8 = [((i * 37) % 256, (i * 91) % 256, (i * 53) % 256) for i in range(256)]


def icon_index(x, y):
    if 4 <= x < 28 and 4 <= y < 28:
        return 4 if y < 10 else 15 if (x + y) % 2 else 7
    return 0


def icon_mask(x, y):
    return not (4 <= x < 28 and 4 <= y < 28)


with open('logo4.bmp', 'wb') as f:
    f.write(bmp_file(dib(32, 16, 4, logo4, VGA)))
with open('logo8.bmp', 'wb') as f:
    f.write(bmp_file(dib(16, 16, 8, logo8, palette8)))
icon = dib(32, 32, 4, icon_index, VGA, icon_mask)
with open('winsample.ico', 'wb') as f:
    f.write(struct.pack('<HHH', 0, 1, 1))
    f.write(struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4, len(icon), 22))
    f.write(icon)
