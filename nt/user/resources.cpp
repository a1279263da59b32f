// The .res image, dialog and menu templates, DIBs and icons, and the
// loaders built on them. Strings in resources are UTF-16; the programs are
// ANSI, so they are narrowed to Latin-1.
#include "resources.h"

#include <algorithm>
#include <cstring>

#include "state.h"

// A program's resources, embedded by the build; absent in programs without.
extern "C" {
extern const unsigned char qzr_program_res[] __attribute__((weak));
extern const size_t qzr_program_res_size __attribute__((weak));
}

namespace qzr::user {

namespace {

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  void seek(size_t at) {
    if (at > n_)
      ok_ = false;
    else
      pos_ = at;
  }
  void align(size_t to) { seek((pos_ + to - 1) / to * to); }
  uint8_t u8() { return need(1) ? p_[pos_++] : 0; }
  uint16_t u16() {
    if (!need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(p_[pos_] | (p_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | (static_cast<uint32_t>(u16()) << 16);
  }
  int16_t s16() { return static_cast<int16_t>(u16()); }
  std::string wstr() {
    std::string s;
    for (size_t bound = 0; ok_ && bound < 65536; ++bound) {
      uint16_t c = u16();
      if (c == 0) break;
      s += c < 256 ? static_cast<char>(c) : '?';
    }
    return s;
  }
  NameOrId name_or_id() {
    NameOrId r;
    if (!need(2)) return r;
    uint16_t first = static_cast<uint16_t>(p_[pos_] | (p_[pos_ + 1] << 8));
    if (first == 0xFFFF) {
      u16();
      r.numeric = true;
      r.number = u16();
    } else {
      r.name = wstr();
    }
    return r;
  }

 private:
  bool need(size_t k) {
    if (!ok_ || pos_ + k > n_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool ok_ = true;
};

std::string upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

NameOrId name_from(LPCSTR p) {
  NameOrId r;
  if (IS_INTRESOURCE(p)) {
    r.numeric = true;
    r.number = static_cast<WORD>(reinterpret_cast<uintptr_t>(p));
  } else if (p[0] == '#') {
    r.numeric = true;
    r.number = static_cast<WORD>(std::atoi(p + 1));
  } else {
    r.name = upper(p);
  }
  return r;
}

Module* module_of(HINSTANCE inst) {
  Desk& d = desk();
  if (!inst) inst = GetModuleHandleA(nullptr);
  auto it = d.modules.find(reinterpret_cast<uintptr_t>(inst));
  return it == d.modules.end() ? nullptr : it->second.get();
}

}  // namespace

std::optional<std::vector<ResourceEntry>> parse_res(const uint8_t* bytes, size_t size) {
  std::vector<ResourceEntry> out;
  Reader r(bytes, size);
  // Each entry: data size, header size, type, name, then version fields;
  // header and data are each padded to 4 bytes. The first entry is empty.
  for (int bound = 0; bound < 100000 && r.pos() + 32 <= size; ++bound) {
    size_t start = r.pos();
    uint32_t data_size = r.u32();
    uint32_t header_size = r.u32();
    ResourceEntry e;
    e.type = r.name_or_id();
    e.name = r.name_or_id();
    r.align(4);
    r.u32();  // data version
    r.u16();  // memory flags
    e.language = r.u16();
    r.u32();  // version
    r.u32();  // characteristics
    if (!r.ok() || header_size < 32 || start + header_size + data_size > size) return std::nullopt;
    const uint8_t* data = bytes + start + header_size;
    e.data.assign(data, data + data_size);
    r.seek(start + header_size + data_size);
    r.align(4);
    if (!(e.type.numeric && e.type.number == 0 && data_size == 0)) {
      if (!e.name.numeric) e.name.name = upper(e.name.name);
      out.push_back(std::move(e));
    }
    if (r.pos() >= size) break;
  }
  return out;
}

std::optional<DialogTemplate> parse_dialog(const uint8_t* bytes, size_t size) {
  Reader r(bytes, size);
  DialogTemplate t;
  if (size >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF) {
    t.extended = true;
    r.u16(), r.u16();
    r.u32();  // help id
    t.ex_style = r.u32();
    t.style = r.u32();
  } else {
    t.style = r.u32();
    t.ex_style = r.u32();
  }
  WORD count = r.u16();
  t.x = r.s16(), t.y = r.s16(), t.cx = r.s16(), t.cy = r.s16();
  t.menu = r.name_or_id();
  t.class_name = r.name_or_id();
  t.caption = r.wstr();
  if (t.style & DS_SETFONT) {
    t.point_size = r.u16();
    if (t.extended) {
      t.weight = r.u16();
      t.italic = r.u8() != 0;
      r.u8();  // character set
    }
    t.face = r.wstr();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.align(4);
    DialogItem it;
    if (t.extended) {
      r.u32();  // help id
      it.ex_style = r.u32();
      it.style = r.u32();
    } else {
      it.style = r.u32();
      it.ex_style = r.u32();
    }
    it.x = r.s16(), it.y = r.s16(), it.cx = r.s16(), it.cy = r.s16();
    it.id =
        t.extended ? static_cast<int>(static_cast<int32_t>(r.u32())) : static_cast<int>(r.s16());
    it.class_name = r.name_or_id();
    it.text = r.name_or_id();
    WORD extra = r.u16();
    r.seek(r.pos() + extra);
    t.items.push_back(std::move(it));
  }
  if (!r.ok()) return std::nullopt;
  return t;
}

namespace {
bool parse_menu_level(Reader& r, std::vector<MenuTemplateItem>& out, int depth) {
  if (depth > 16) return false;
  for (int bound = 0; bound < 4096 && r.ok(); ++bound) {
    MenuTemplateItem it;
    it.flags = r.u16();
    if (!(it.flags & MF_POPUP)) it.id = r.u16();
    it.text = r.wstr();
    if (it.flags & MF_POPUP)
      if (!parse_menu_level(r, it.children, depth + 1)) return false;
    bool last = (it.flags & MF_END) != 0;
    // A separator is an empty string item with id 0.
    if (!(it.flags & MF_POPUP) && it.id == 0 && it.text.empty()) it.flags |= MF_SEPARATOR;
    it.flags &= static_cast<WORD>(~MF_END);
    out.push_back(std::move(it));
    if (last) return r.ok();
  }
  return false;
}
}  // namespace

std::optional<std::vector<MenuTemplateItem>> parse_menu(const uint8_t* bytes, size_t size) {
  Reader r(bytes, size);
  WORD version = r.u16();
  WORD offset = r.u16();
  if (version != 0) return std::nullopt;  // extended menus are not used by our programs
  r.seek(r.pos() + offset);
  std::vector<MenuTemplateItem> items;
  if (!parse_menu_level(r, items, 0)) return std::nullopt;
  return items;
}

std::optional<Dib> parse_dib(const uint8_t* bytes, size_t size, bool icon) {
  Reader r(bytes, size);
  uint32_t header = r.u32();
  if (header < 40) return std::nullopt;
  int width = static_cast<int32_t>(r.u32());
  int height = static_cast<int32_t>(r.u32());
  r.u16();
  int bits = r.u16();
  uint32_t compression = r.u32();
  r.u32(), r.u32(), r.u32();
  uint32_t used = r.u32();
  if (!r.ok() || compression != 0 || width <= 0 || height == 0 || width > 4096 ||
      std::abs(height) > 8192)
    return std::nullopt;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
  bool bottom_up = height > 0;
  height = std::abs(height);
  if (icon) height /= 2;  // the XOR image and the AND mask are stacked
  r.seek(header);
  std::vector<uint32_t> palette;
  if (bits <= 8) {
    size_t n = used ? used : (1u << bits);
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = r.u8(), g = r.u8(), rr = r.u8();
      r.u8();
      palette.push_back((rr << 16) | (g << 8) | b);
    }
  }
  Dib dib;
  dib.width = width, dib.height = height, dib.bits_per_pixel = bits;
  dib.pixels.assign(static_cast<size_t>(width) * height, 0);
  size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  size_t base = r.pos();
  if (base + stride * height > size) return std::nullopt;
  for (int row = 0; row < height; ++row) {
    const uint8_t* line = bytes + base + stride * row;
    int y = bottom_up ? height - 1 - row : row;
    for (int x = 0; x < width; ++x) {
      uint32_t v = 0;
      switch (bits) {
        case 1:
          v = palette.at(std::min<size_t>((line[x / 8] >> (7 - x % 8)) & 1, palette.size() - 1));
          break;
        case 4: {
          size_t idx = (x % 2 == 0) ? line[x / 2] >> 4 : line[x / 2] & 15;
          v = idx < palette.size() ? palette[idx] : 0;
          break;
        }
        case 8:
          v = line[x] < palette.size() ? palette[line[x]] : 0;
          break;
        case 24:
          v = (line[3 * x + 2] << 16) | (line[3 * x + 1] << 8) | line[3 * x];
          break;
        case 32:
          v = (line[4 * x + 2] << 16) | (line[4 * x + 1] << 8) | line[4 * x];
          break;
      }
      dib.pixels[static_cast<size_t>(y) * width + x] = v;
    }
  }
  if (icon) {
    size_t mask_stride = ((static_cast<size_t>(width) + 31) / 32) * 4;
    size_t mbase = base + stride * height;
    dib.mask.assign(static_cast<size_t>(width) * height, 0);
    if (mbase + mask_stride * height <= size) {
      for (int row = 0; row < height; ++row) {
        const uint8_t* line = bytes + mbase + mask_stride * row;
        int y = bottom_up ? height - 1 - row : row;
        for (int x = 0; x < width; ++x)
          dib.mask[static_cast<size_t>(y) * width + x] = (line[x / 8] >> (7 - x % 8)) & 1;
      }
    }
  }
  return dib;
}

HINSTANCE register_module(const std::string& name, const uint8_t* res, size_t size) {
  Desk& d = desk();
  auto m = std::make_unique<Module>();
  m->name = name;
  if (res && size) {
    if (auto entries = parse_res(res, size)) m->resources = std::move(*entries);
  }
  uintptr_t h = 0x400000 + d.modules.size() * 0x10000;
  d.modules[h] = std::move(m);
  return reinterpret_cast<HINSTANCE>(h);
}

const std::vector<uint8_t>* find_resource(HINSTANCE inst, WORD type, LPCSTR name) {
  Module* m = module_of(inst);
  if (!m || !name) return nullptr;
  NameOrId want = name_from(name);
  for (const auto& e : m->resources)
    if (e.type.numeric && e.type.number == type && e.name == want) return &e.data;
  return nullptr;
}

namespace {

HGDIOBJ make_icon(const Dib& dib, int cursor_id) {
  auto o = std::make_unique<GdiObject>();
  o->type = OBJ_BITMAP;
  o->stock = true;  // icons are not GDI objects the program deletes
  o->pixels.width = dib.width;
  o->pixels.height = dib.height;
  o->pixels.data = dib.pixels;
  o->mask = dib.mask;
  o->bits_per_pixel = dib.bits_per_pixel;
  o->cursor_id = cursor_id;
  return desk().add_object(std::move(o));
}

// The stock icons, drawn the way NT 4.0 shows them at 32 x 32.
Dib paint_stock_icon(int id) {
  Dib d;
  d.width = d.height = 32;
  d.bits_per_pixel = 4;
  d.pixels.assign(32 * 32, 0);
  d.mask.assign(32 * 32, 1);
  auto put = [&](int x, int y, uint32_t c) {
    if (x < 0 || y < 0 || x >= 32 || y >= 32) return;
    d.pixels[y * 32 + x] = c;
    d.mask[y * 32 + x] = 0;
  };
  auto disc = [&](double cx, double cy, double r, uint32_t c) {
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        if ((x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy) <= r * r)
          put(x, y, c);
  };
  if (id == 32513) {  // stop sign: red disc, black rim, white cross
    disc(15, 15, 15, 0x000000);
    disc(15, 15, 14, 0xFF0000);
    for (int i = 0; i < 12; ++i)
      for (int t = -1; t <= 1; ++t) {
        put(9 + i + t, 9 + i, 0xFFFFFF);
        put(20 - i + t, 9 + i, 0xFFFFFF);
      }
    // Shadow to the lower right, as the 3D icon has.
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        double dx = x + 0.5 - 17, dy = y + 0.5 - 17;
        if (d.mask[y * 32 + x] && dx * dx + dy * dy <= 15 * 15) put(x, y, 0x808080);
      }
  } else if (id == 32516) {  // information: white balloon with a blue i
    disc(15, 14, 13, 0x000000);
    disc(15, 14, 12, 0xFFFFFF);
    for (int i = 0; i < 5; ++i) put(9 + i, 26 + i / 2, 0x000000), put(10 + i, 25 + i / 2, 0xFFFFFF);
    for (int y = 7; y < 10; ++y)
      for (int x = 14; x < 17; ++x) put(x, y, 0x0000FF);
    for (int y = 12; y < 22; ++y)
      for (int x = 14; x < 17; ++x) put(x, y, 0x0000FF);
    for (int x = 12; x < 19; ++x) put(x, 21, 0x0000FF);
    put(13, 12, 0x0000FF);
  } else if (id == 32515) {  // exclamation: yellow triangle
    for (int y = 2; y < 30; ++y) {
      int half = (y - 2) / 2;
      for (int x = 15 - half; x <= 16 + half; ++x)
        put(x, y, y == 29 || x == 15 - half || x == 16 + half ? 0 : 0xFFFF00);
    }
    for (int y = 10; y < 22; ++y) put(15, y, 0), put(16, y, 0);
    for (int y = 24; y < 27; ++y) put(15, y, 0), put(16, y, 0);
  } else if (id == 32514) {  // question
    disc(15, 14, 13, 0x000000);
    disc(15, 14, 12, 0xFFFFFF);
    const char* q[] = {"0111110", "1100011", "0000011", "0000110",
                       "0001100", "0001100", "0000000", "0001100"};
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 7; ++x)
        if (q[y][x] == '1') put(12 + x, 8 + y * 2, 0x0000FF), put(12 + x, 9 + y * 2, 0x0000FF);
  } else {  // application: a small window
    for (int y = 4; y < 28; ++y)
      for (int x = 2; x < 30; ++x)
        put(x, y, (y < 8) ? 0x000080 : (x == 2 || x == 29 || y == 27) ? 0 : 0xFFFFFF);
  }
  return d;
}

}  // namespace

HICON stock_icon(int id) {
  static std::map<int, HGDIOBJ> icons;
  static uint64_t owner = 0;
  if (owner != desk().generation) {
    icons.clear();
    owner = desk().generation;
  }
  if (auto it = icons.find(id); it != icons.end()) return static_cast<HICON>(it->second);
  HGDIOBJ h = make_icon(paint_stock_icon(id), 0);
  icons[id] = h;
  return static_cast<HICON>(h);
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  Desk& d = desk();
  if (!name) {
    if (!d.main_module) {
      const uint8_t* res = &qzr_program_res ? qzr_program_res : nullptr;
      size_t size = &qzr_program_res_size ? qzr_program_res_size : 0;
      d.main_module = register_module("program", res, size);
    }
    return d.main_module;
  }
  for (auto& [h, m] : d.modules)
    if (strcasecmp(m->name.c_str(), name) == 0) return reinterpret_cast<HMODULE>(h);
  return nullptr;
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE inst, LPCSTR name) {
  const auto* data = find_resource(inst, 2, name);
  if (!data) return nullptr;
  auto dib = parse_dib(data->data(), data->size(), false);
  if (!dib) return nullptr;
  HBITMAP h = CreateBitmap(dib->width, dib->height, 1, dib->bits_per_pixel, nullptr);
  GdiObject* o = desk().object(h);
  o->pixels.data = std::move(dib->pixels);
  return h;
}

HICON WINAPI LoadIconA(HINSTANCE inst, LPCSTR name) {
  if (!inst) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    return stock_icon(static_cast<int>(reinterpret_cast<uintptr_t>(name)));
  }
  const auto* group = find_resource(inst, 14, name);
  if (!group || group->size() < 6) return nullptr;
  const uint8_t* g = group->data();
  int count = g[4] | (g[5] << 8);
  // Prefer the 32 x 32 image with the most colours.
  int best_id = -1, best_score = -1;
  for (int i = 0; i < count && 6 + 14 * (i + 1) <= static_cast<int>(group->size()); ++i) {
    const uint8_t* e = g + 6 + 14 * i;
    int w = e[0] ? e[0] : 256;
    int bits = e[6] | (e[7] << 8);
    int id = e[12] | (e[13] << 8);
    int score = (w == 32 ? 1000 : 0) + bits;
    if (score > best_score) best_score = score, best_id = id;
  }
  if (best_id < 0) return nullptr;
  const auto* img = find_resource(inst, 3, MAKEINTRESOURCEA(best_id));
  if (!img) return nullptr;
  auto dib = parse_dib(img->data(), img->size(), true);
  if (!dib) return nullptr;
  return static_cast<HICON>(make_icon(*dib, 0));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR name) {
  // Only the system cursors; the screen shows no pointer of its own.
  if (!IS_INTRESOURCE(name)) return nullptr;
  int id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
  static std::map<int, HGDIOBJ> cursors;
  static uint64_t owner = 0;
  if (owner != desk().generation) cursors.clear(), owner = desk().generation;
  if (auto it = cursors.find(id); it != cursors.end()) return static_cast<HCURSOR>(it->second);
  if (id < 32512 || id > 32650) return nullptr;
  Dib empty;
  empty.width = empty.height = 1;
  empty.pixels = {0};
  empty.mask = {1};
  HGDIOBJ h = make_icon(empty, id);
  cursors[id] = h;
  return static_cast<HCURSOR>(h);
}

HCURSOR WINAPI SetCursor(HCURSOR c) {
  HCURSOR old = desk().cursor;
  desk().cursor = c;
  return old;
}
HCURSOR WINAPI GetCursor(void) {
  return desk().cursor;
}

int WINAPI LoadStringA(HINSTANCE inst, UINT id, LPSTR buffer, int max_count) {
  if (!buffer || max_count <= 0) return 0;
  buffer[0] = 0;
  const auto* block = find_resource(inst, 6, MAKEINTRESOURCEA((id >> 4) + 1));
  if (!block) return 0;
  Reader r(block->data(), block->size());
  for (UINT i = 0; i < 16 && r.ok(); ++i) {
    WORD len = r.u16();
    std::string s;
    for (WORD k = 0; k < len; ++k) {
      uint16_t c = r.u16();
      s += c < 256 ? static_cast<char>(c) : '?';
    }
    if (i == (id & 15)) {
      int n = std::min<int>(max_count - 1, static_cast<int>(s.size()));
      std::memcpy(buffer, s.data(), n);
      buffer[n] = 0;
      return n;
    }
  }
  return 0;
}

}  // extern "C"
