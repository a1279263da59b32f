// GDI: device contexts on the screen and on memory bitmaps, stock and
// created objects, rectangles, lines, text and bit blocks. All surfaces are
// 32-bit; a bitmap remembers the depth it was loaded with for GetObjectA.
#include <algorithm>
#include <cstring>

#include "state.h"

namespace qzr::user {

namespace {

HGDIOBJ make_brush(COLORREF c, bool null_style, bool is_stock) {
  auto o = std::make_unique<GdiObject>();
  o->type = OBJ_BRUSH;
  o->color = c;
  o->null_style = null_style;
  o->stock = is_stock;
  return desk().add_object(std::move(o));
}

HGDIOBJ make_pen(COLORREF c, bool null_style, bool is_stock) {
  HGDIOBJ h = make_brush(c, null_style, is_stock);
  desk().object(h)->type = OBJ_PEN;
  return h;
}

struct StockTable {
  std::map<int, HGDIOBJ> objects;
  std::map<int, HGDIOBJ> sys_brushes;
  HFONT system = nullptr, caption = nullptr, menu = nullptr;
};

// Stock objects belong to the desk; a reset desk gets new ones.
StockTable& stocks() {
  static StockTable table;
  static uint64_t owner = 0;
  if (owner != desk().generation) {
    table = StockTable{};
    owner = desk().generation;
  }
  return table;
}

HFONT make_font_object(int height, int weight, bool italic, const char* face, bool is_stock) {
  HFONT f = CreateFontA(height, 0, 0, 0, weight, italic, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, face);
  if (GdiObject* o = desk().object(f)) o->stock = is_stock;
  return f;
}

int point_to_height(int points) {
  return -MulDiv(points, 96, 72);
}

Pixels* target_of(Dc* d) {
  if (!d->memory) return &desk().screen;
  GdiObject* bmp = desk().object(d->bitmap);
  return bmp ? &bmp->pixels : nullptr;
}

}  // namespace

HGDIOBJ stock(int index) {
  StockTable& t = stocks();
  if (auto it = t.objects.find(index); it != t.objects.end()) return it->second;
  HGDIOBJ h = nullptr;
  switch (index) {
    case WHITE_BRUSH:
      h = make_brush(RGB(255, 255, 255), false, true);
      break;
    case LTGRAY_BRUSH:
      h = make_brush(RGB(192, 192, 192), false, true);
      break;
    case GRAY_BRUSH:
      h = make_brush(RGB(128, 128, 128), false, true);
      break;
    case DKGRAY_BRUSH:
      h = make_brush(RGB(64, 64, 64), false, true);
      break;
    case BLACK_BRUSH:
      h = make_brush(RGB(0, 0, 0), false, true);
      break;
    case NULL_BRUSH:
      h = make_brush(0, true, true);
      break;
    case WHITE_PEN:
      h = make_pen(RGB(255, 255, 255), false, true);
      break;
    case BLACK_PEN:
      h = make_pen(RGB(0, 0, 0), false, true);
      break;
    case NULL_PEN:
      h = make_pen(0, true, true);
      break;
    case SYSTEM_FONT:
    case DEVICE_DEFAULT_FONT:
      h = system_font();
      break;
    case DEFAULT_GUI_FONT:
    case ANSI_VAR_FONT:
      h = message_font();
      break;
    case SYSTEM_FIXED_FONT:
    case ANSI_FIXED_FONT:
    case OEM_FIXED_FONT:
      h = make_font_object(point_to_height(9), FW_NORMAL, false, "Courier New", true);
      break;
    default:
      return nullptr;
  }
  t.objects[index] = h;
  return h;
}

// NT 4.0's fonts: "System", a bold 16-pixel cell, is what a new DC and an
// unfonted control draw with; the 8-point "MS Sans Serif" is the message
// and menu font, and in bold the caption font.
HFONT system_font() {
  StockTable& t = stocks();
  if (!t.system) t.system = make_font_object(16, FW_BOLD, false, "System", true);
  return t.system;
}
HFONT message_font() {
  StockTable& t = stocks();
  if (!t.menu)
    t.menu = make_font_object(point_to_height(8), FW_NORMAL, false, "MS Sans Serif", true);
  return t.menu;
}
HFONT caption_font() {
  StockTable& t = stocks();
  if (!t.caption)
    t.caption = make_font_object(point_to_height(8), FW_BOLD, false, "MS Sans Serif", true);
  return t.caption;
}
HFONT menu_font() {
  return message_font();
}

GdiObject* dc_font(Dc* d) {
  GdiObject* f = desk().object(d->font);
  if (!f || f->type != OBJ_FONT) f = desk().object(system_font());
  return f;
}

Pixels* dc_target(Dc* d) {
  return target_of(d);
}

std::vector<Rect> visible_rects(const Window* w, bool client_only) {
  if (!is_visible_on_screen(w)) return {};
  Rect area = client_only ? w->client : w->rect;
  for (const Window* p = w->parent; p; p = p->parent) area = area.intersect(p->client);
  if (area.empty()) return {};
  std::vector<Rect> out{area};
  auto cut = [&](const Rect& hole) {
    std::vector<Rect> next;
    for (auto& r : out)
      for (auto& p : subtract(r, hole)) next.push_back(p);
    out = std::move(next);
  };
  for (const Window* cur = w; cur; cur = cur->parent) {
    const auto& list = cur->parent ? cur->parent->children : desk().top_level;
    for (const Window* s : list) {
      if (s == cur) break;
      if (s->style & WS_VISIBLE) cut(s->rect);
    }
  }
  if (w->style & WS_CLIPCHILDREN)
    for (const Window* c : w->children)
      if (c->style & WS_VISIBLE) cut(c->rect);
  return out;
}

HDC make_window_dc(Window* w, bool whole_window, const Rect* paint_clip) {
  auto d = std::make_unique<Dc>();
  d->window = w;
  d->whole_window = whole_window;
  if (w) {
    d->origin_x = whole_window ? w->rect.left : w->client.left;
    d->origin_y = whole_window ? w->rect.top : w->client.top;
    d->clip = visible_rects(w, !whole_window);
    if (paint_clip) {
      Rect pc = paint_clip->offset(w->client.left, w->client.top);
      std::vector<Rect> kept;
      for (auto& r : d->clip)
        if (Rect i = r.intersect(pc); !i.empty()) kept.push_back(i);
      d->clip = kept;
    }
    if (w->font && !whole_window) d->font = w->font;
  } else {
    d->clip = {{0, 0, desk().screen.width, desk().screen.height}};
  }
  d->brush = stock(WHITE_BRUSH);
  d->pen = stock(BLACK_PEN);
  if (!d->font) d->font = system_font();
  return desk().add_dc(std::move(d));
}

void fill_rect(Dc* d, const Rect& logical, uint32_t pixel) {
  Pixels* t = target_of(d);
  if (!t) return;
  Rect r = logical.offset(d->origin_x, d->origin_y).intersect({0, 0, t->width, t->height});
  if (r.empty()) return;
  // A memory DC draws anywhere on its bitmap.
  std::vector<Rect> whole{{0, 0, t->width, t->height}};
  for (const Rect& c : d->memory && d->clip.empty() ? whole : d->clip) {
    Rect i = r.intersect(c);
    for (int y = i.top; y < i.bottom; ++y)
      std::fill(t->row(y) + i.left, t->row(y) + i.right, pixel);
  }
}

void draw_edge_raised(Dc* d, const Rect& r, bool pressed) {
  auto px = [](int c) { return to_pixel(sys_color(c)); };
  fill_rect(d, r, px(COLOR_BTNFACE));
  if (pressed) {
    fill_rect(d, {r.left, r.top, r.right, r.top + 1}, px(COLOR_3DDKSHADOW));
    fill_rect(d, {r.left, r.top, r.left + 1, r.bottom}, px(COLOR_3DDKSHADOW));
    fill_rect(d, {r.left + 1, r.top + 1, r.right - 1, r.top + 2}, px(COLOR_BTNSHADOW));
    fill_rect(d, {r.left + 1, r.top + 1, r.left + 2, r.bottom - 1}, px(COLOR_BTNSHADOW));
    fill_rect(d, {r.left, r.bottom - 1, r.right, r.bottom}, px(COLOR_BTNHIGHLIGHT));
    fill_rect(d, {r.right - 1, r.top, r.right, r.bottom}, px(COLOR_BTNHIGHLIGHT));
    return;
  }
  fill_rect(d, {r.left, r.top, r.right - 1, r.top + 1}, px(COLOR_BTNHIGHLIGHT));
  fill_rect(d, {r.left, r.top, r.left + 1, r.bottom - 1}, px(COLOR_BTNHIGHLIGHT));
  fill_rect(d, {r.left, r.bottom - 1, r.right, r.bottom}, px(COLOR_3DDKSHADOW));
  fill_rect(d, {r.right - 1, r.top, r.right, r.bottom}, px(COLOR_3DDKSHADOW));
  fill_rect(d, {r.left + 1, r.bottom - 2, r.right - 1, r.bottom - 1}, px(COLOR_BTNSHADOW));
  fill_rect(d, {r.right - 2, r.top + 1, r.right - 1, r.bottom - 1}, px(COLOR_BTNSHADOW));
}

void draw_edge_sunken(Dc* d, const Rect& r) {
  auto px = [](int c) { return to_pixel(sys_color(c)); };
  fill_rect(d, {r.left, r.top, r.right - 1, r.top + 1}, px(COLOR_BTNSHADOW));
  fill_rect(d, {r.left, r.top, r.left + 1, r.bottom - 1}, px(COLOR_BTNSHADOW));
  fill_rect(d, {r.left, r.bottom - 1, r.right, r.bottom}, px(COLOR_BTNHIGHLIGHT));
  fill_rect(d, {r.right - 1, r.top, r.right, r.bottom}, px(COLOR_BTNHIGHLIGHT));
  fill_rect(d, {r.left + 1, r.top + 1, r.right - 2, r.top + 2}, px(COLOR_3DDKSHADOW));
  fill_rect(d, {r.left + 1, r.top + 1, r.left + 2, r.bottom - 2}, px(COLOR_3DDKSHADOW));
  fill_rect(d, {r.left + 1, r.bottom - 2, r.right - 1, r.bottom - 1}, px(COLOR_3DLIGHT));
  fill_rect(d, {r.right - 2, r.top + 1, r.right - 1, r.bottom - 1}, px(COLOR_3DLIGHT));
}

void draw_icon(Dc* d, int x, int y, GdiObject* icon) {
  if (!icon) return;
  const Pixels& src = icon->pixels;
  for (int yy = 0; yy < src.height; ++yy)
    for (int xx = 0; xx < src.width; ++xx) {
      size_t i = static_cast<size_t>(yy) * src.width + xx;
      if (!icon->mask.empty() && icon->mask[i]) continue;
      fill_rect(d, {x + xx, y + yy, x + xx + 1, y + yy + 1}, src.data[i]);
    }
}

POINT to_device(const Dc* d, int x, int y) {
  if (d->map_num == d->map_den && d->map_sign_y == 1) return {x, y};
  return {MulDiv(x, d->map_den, d->map_num), d->map_sign_y * MulDiv(y, d->map_den, d->map_num)};
}

Rect to_device(const Dc* d, const Rect& r) {
  POINT a = to_device(d, r.left, r.top), b = to_device(d, r.right, r.bottom);
  return {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" {

HDC WINAPI GetDC(HWND h) {
  Window* w = desk().window(h);
  if (h && !w) return nullptr;
  return make_window_dc(w, false, nullptr);
}

HDC WINAPI GetWindowDC(HWND h) {
  Window* w = desk().window(h);
  if (h && !w) return nullptr;
  return make_window_dc(w, true, nullptr);
}

int WINAPI ReleaseDC(HWND, HDC hdc) {
  Dc* d = desk().dc(hdc);
  if (!d || d->memory) return 0;
  desk().remove_dc(hdc);
  return 1;
}

HDC WINAPI CreateCompatibleDC(HDC) {
  auto d = std::make_unique<Dc>();
  d->memory = true;
  d->brush = stock(WHITE_BRUSH);
  d->pen = stock(BLACK_PEN);
  d->font = system_font();
  // A new memory DC holds a 1 x 1 monochrome bitmap, as on Windows.
  HBITMAP one = CreateBitmap(1, 1, 1, 1, nullptr);
  desk().object(one)->stock = true;
  d->bitmap = d->own_bitmap = one;
  return desk().add_dc(std::move(d));
}

BOOL WINAPI DeleteDC(HDC hdc) {
  Dc* d = desk().dc(hdc);
  if (!d) return FALSE;
  if (d->own_bitmap) desk().remove_object(d->own_bitmap);
  desk().remove_dc(hdc);
  return TRUE;
}

HBITMAP WINAPI CreateBitmap(int width, int height, UINT, UINT bits, const void*) {
  if (width <= 0 || height <= 0) return nullptr;
  auto o = std::make_unique<GdiObject>();
  o->type = OBJ_BITMAP;
  o->bits_per_pixel = static_cast<int>(bits);
  o->pixels.resize(width, height, 0);
  return static_cast<HBITMAP>(desk().add_object(std::move(o)));
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC, int width, int height) {
  return CreateBitmap(width, height, 1, 32, nullptr);
}

HGDIOBJ WINAPI GetStockObject(int index) {
  return stock(index);
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  Dc* d = desk().dc(hdc);
  GdiObject* o = desk().object(h);
  if (!d || !o) return nullptr;
  HGDIOBJ old = nullptr;
  switch (o->type) {
    case OBJ_BRUSH:
      old = d->brush, d->brush = h;
      break;
    case OBJ_PEN:
      old = d->pen, d->pen = h;
      break;
    case OBJ_FONT:
      old = d->font, d->font = h;
      break;
    case OBJ_BITMAP:
      if (!d->memory) return nullptr;
      old = d->bitmap, d->bitmap = h;
      break;
    default:
      return nullptr;
  }
  return old;
}

BOOL WINAPI DeleteObject(HGDIOBJ h) {
  GdiObject* o = desk().object(h);
  if (!o) return FALSE;
  if (o->stock) return TRUE;
  desk().remove_object(h);
  return TRUE;
}

DWORD WINAPI GetObjectType(HGDIOBJ h) {
  if (GdiObject* o = desk().object(h)) return o->type;
  if (Dc* d = desk().dc(static_cast<HDC>(h))) return d->memory ? OBJ_MEMDC : OBJ_DC;
  return 0;
}

int WINAPI GetObjectA(HGDIOBJ h, int size, LPVOID out) {
  GdiObject* o = desk().object(h);
  if (!o) return 0;
  if (o->type == OBJ_BITMAP) {
    if (!out) return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    BITMAP bm{};
    bm.bmWidth = o->pixels.width;
    bm.bmHeight = o->pixels.height;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(o->bits_per_pixel);
    bm.bmWidthBytes = ((o->pixels.width * o->bits_per_pixel + 15) / 16) * 2;
    std::memcpy(out, &bm, sizeof bm);
    return sizeof(BITMAP);
  }
  return 0;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF c) {
  return static_cast<HBRUSH>(make_brush(c & 0xFFFFFF, false, false));
}

HBRUSH WINAPI GetSysColorBrush(int index) {
  auto& t = stocks().sys_brushes;
  if (auto it = t.find(index); it != t.end()) return static_cast<HBRUSH>(it->second);
  HGDIOBJ b = make_brush(sys_color(index), false, true);
  t[index] = b;
  return static_cast<HBRUSH>(b);
}

HPEN WINAPI CreatePen(int style, int, COLORREF c) {
  return static_cast<HPEN>(make_pen(c & 0xFFFFFF, style == PS_NULL, false));
}

int WINAPI SetBkMode(HDC hdc, int mode) {
  Dc* d = desk().dc(hdc);
  if (!d || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = d->bk_mode;
  d->bk_mode = mode;
  return old;
}
int WINAPI GetBkMode(HDC hdc) {
  Dc* d = desk().dc(hdc);
  return d ? d->bk_mode : 0;
}
COLORREF WINAPI SetBkColor(HDC hdc, COLORREF c) {
  Dc* d = desk().dc(hdc);
  if (!d) return CLR_INVALID;
  COLORREF old = d->bk_color;
  d->bk_color = c & 0xFFFFFF;
  return old;
}
COLORREF WINAPI GetBkColor(HDC hdc) {
  Dc* d = desk().dc(hdc);
  return d ? d->bk_color : CLR_INVALID;
}
COLORREF WINAPI SetTextColor(HDC hdc, COLORREF c) {
  Dc* d = desk().dc(hdc);
  if (!d) return CLR_INVALID;
  COLORREF old = d->text_color;
  d->text_color = c & 0xFFFFFF;
  return old;
}
COLORREF WINAPI GetTextColor(HDC hdc) {
  Dc* d = desk().dc(hdc);
  return d ? d->text_color : CLR_INVALID;
}

// Brushes given as a system colour index plus one, as window classes do.
static GdiObject* brush_of(HBRUSH b) {
  uintptr_t v = reinterpret_cast<uintptr_t>(b);
  if (v > 0 && v <= 31) return desk().object(GetSysColorBrush(static_cast<int>(v - 1)));
  return desk().object(b);
}

int WINAPI FillRect(HDC hdc, const RECT* r, HBRUSH b) {
  Dc* d = desk().dc(hdc);
  GdiObject* br = brush_of(b);
  if (!d || !r || !br || br->type != OBJ_BRUSH) return 0;
  if (!br->null_style) fill_rect(d, to_device(d, Rect::from(*r)), to_pixel(br->color));
  return 1;
}

int WINAPI FrameRect(HDC hdc, const RECT* r, HBRUSH b) {
  Dc* d = desk().dc(hdc);
  GdiObject* br = brush_of(b);
  if (!d || !r || !br) return 0;
  Rect rr = to_device(d, Rect::from(*r));
  for (auto& e : subtract(rr, rr.inflate(-1, -1))) fill_rect(d, e, to_pixel(br->color));
  return 1;
}

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
  Dc* d = desk().dc(hdc);
  if (!d) return FALSE;
  uint32_t p = 0;
  if (rop == WHITENESS)
    p = 0xFFFFFF;
  else if (rop == BLACKNESS)
    p = 0;
  else if (GdiObject* br = desk().object(d->brush))
    p = to_pixel(br->color);
  fill_rect(d, to_device(d, {x, y, x + width, y + height}), p);
  return TRUE;
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF c) {
  Dc* d = desk().dc(hdc);
  if (!d) return CLR_INVALID;
  POINT p = to_device(d, x, y);
  fill_rect(d, {p.x, p.y, p.x + 1, p.y + 1}, to_pixel(c));
  return c & 0xFFFFFF;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
  Dc* d = desk().dc(hdc);
  if (!d) return CLR_INVALID;
  Pixels* t = target_of(d);
  POINT p = to_device(d, x, y);
  int dx = p.x + d->origin_x, dy = p.y + d->origin_y;
  if (!t || dx < 0 || dy < 0 || dx >= t->width || dy >= t->height) return CLR_INVALID;
  return to_colorref(t->row(dy)[dx]);
}

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT old) {
  Dc* d = desk().dc(hdc);
  if (!d) return FALSE;
  if (old) *old = d->pos;
  d->pos = {x, y};
  return TRUE;
}

// Horizontal and vertical lines only, which is what the frames need.
BOOL WINAPI LineTo(HDC hdc, int x, int y) {
  Dc* d = desk().dc(hdc);
  if (!d) return FALSE;
  int lx = x, ly = y;
  GdiObject* pen = desk().object(d->pen);
  if (pen && !pen->null_style) {
    uint32_t p = to_pixel(pen->color);
    POINT from = to_device(d, d->pos.x, d->pos.y), to = to_device(d, x, y);
    int x0 = from.x, y0 = from.y;
    x = to.x, y = to.y;
    if (y0 == y)
      fill_rect(d, {std::min(x0, x), y, std::max(x0, x), y + 1}, p);
    else if (x0 == x)
      fill_rect(d, {x, std::min(y0, y), x + 1, std::max(y0, y)}, p);
    else {
      int n = std::max(std::abs(x - x0), std::abs(y - y0));
      for (int i = 0; i < n; ++i) {
        int px = x0 + (x - x0) * i / n, py = y0 + (y - y0) * i / n;
        fill_rect(d, {px, py, px + 1, py + 1}, p);
      }
    }
  }
  d->pos = {lx, ly};
  return TRUE;
}

BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  Dc* d = desk().dc(hdc);
  if (!d) return FALSE;
  GdiObject* br = desk().object(d->brush);
  GdiObject* pen = desk().object(d->pen);
  Rect r = to_device(d, {left, top, right, bottom});
  left = r.left, top = r.top, right = r.right, bottom = r.bottom;
  bool framed = pen && !pen->null_style;
  // A null pen leaves the right and bottom edge unpainted, as on Windows.
  Rect inside = framed ? r.inflate(-1, -1) : Rect{left, top, right - 1, bottom - 1};
  if (br && !br->null_style) fill_rect(d, inside, to_pixel(br->color));
  if (framed)
    for (auto& e : subtract(r, r.inflate(-1, -1))) fill_rect(d, e, to_pixel(pen->color));
  return TRUE;
}

BOOL WINAPI BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int sx, int sy,
                   DWORD rop) {
  Dc* d = desk().dc(dst);
  if (!d) return FALSE;
  if (rop == WHITENESS || rop == BLACKNESS) return PatBlt(dst, x, y, width, height, rop);
  if (width == 0 || height == 0) return TRUE;
  Dc* s = desk().dc(src);
  if (!s) return FALSE;
  // Both ends in device pixels: the extent through the destination's map
  // mode, the source corner through the source's.
  Rect dev = to_device(d, {x, y, x + width, y + height});
  Rect sdev = to_device(s, {sx, sy, sx + width, sy + height});
  x = dev.left, y = dev.top, width = dev.width(), height = dev.height();
  sx = sdev.left, sy = sdev.top;
  Pixels* sp = target_of(s);
  Pixels* dp = target_of(d);
  if (!sp || !dp) return FALSE;
  // Copy through a snapshot so that overlapping blits on one surface work.
  std::vector<uint32_t> block(static_cast<size_t>(std::max(0, width)) * std::max(0, height), 0);
  for (int yy = 0; yy < height; ++yy)
    for (int xx = 0; xx < width; ++xx) {
      int px = sx + xx + s->origin_x, py = sy + yy + s->origin_y;
      if (px >= 0 && py >= 0 && px < sp->width && py < sp->height)
        block[static_cast<size_t>(yy) * width + xx] = sp->row(py)[px];
    }
  for (const Rect& c :
       d->clip.empty() && d->memory ? std::vector<Rect>{{0, 0, dp->width, dp->height}} : d->clip) {
    Rect target = Rect{x, y, x + width, y + height}.offset(d->origin_x, d->origin_y).intersect(c);
    target = target.intersect({0, 0, dp->width, dp->height});
    for (int yy = target.top; yy < target.bottom; ++yy)
      for (int xx = target.left; xx < target.right; ++xx) {
        uint32_t v =
            block[static_cast<size_t>(yy - y - d->origin_y) * width + (xx - x - d->origin_x)];
        uint32_t& out = dp->row(yy)[xx];
        switch (rop) {
          case SRCPAINT:
            out |= v;
            break;
          case SRCAND:
            out &= v;
            break;
          case SRCINVERT:
            out ^= v;
            break;
          default:
            out = v;
        }
      }
  }
  return TRUE;
}

// Logical units per device pixel on a 96-dpi screen for the fixed modes;
// y grows upwards in all of them but MM_TEXT.
static void scale_of(int mode, int* num, int* den, int* sign_y) {
  *sign_y = -1;
  switch (mode) {
    case MM_LOMETRIC:
      *num = 254, *den = 96;
      return;  // 0.1 mm
    case MM_HIMETRIC:
      *num = 2540, *den = 96;
      return;  // 0.01 mm
    case MM_LOENGLISH:
      *num = 100, *den = 96;
      return;  // 0.01 in
    case MM_HIENGLISH:
      *num = 1000, *den = 96;
      return;  // 0.001 in
    case MM_TWIPS:
      *num = 1440, *den = 96;
      return;  // 1/1440 in
    default:
      *num = 1, *den = 1, *sign_y = 1;
  }
}

int WINAPI GetMapMode(HDC hdc) {
  Dc* d = desk().dc(hdc);
  return d ? d->map_mode : 0;
}
int WINAPI SetMapMode(HDC hdc, int mode) {
  Dc* d = desk().dc(hdc);
  if (!d || mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  int old = d->map_mode;
  d->map_mode = mode;
  // MM_ISOTROPIC starts from MM_LOMETRIC's extents; MM_ANISOTROPIC keeps
  // whatever extents the DC had.
  if (mode != MM_ANISOTROPIC)
    scale_of(mode == MM_ISOTROPIC ? MM_LOMETRIC : mode, &d->map_num, &d->map_den, &d->map_sign_y);
  return old;
}

BOOL WINAPI DPtoLP(HDC hdc, LPPOINT pts, int count) {
  Dc* d = desk().dc(hdc);
  if (!d || !pts) return FALSE;
  for (int i = 0; i < count; ++i)
    pts[i] = {MulDiv(pts[i].x, d->map_num, d->map_den),
              d->map_sign_y * MulDiv(pts[i].y, d->map_num, d->map_den)};
  return TRUE;
}
BOOL WINAPI LPtoDP(HDC hdc, LPPOINT pts, int count) {
  Dc* d = desk().dc(hdc);
  if (!d || !pts) return FALSE;
  for (int i = 0; i < count; ++i) pts[i] = to_device(d, pts[i].x, pts[i].y);
  return TRUE;
}

int WINAPI GetDeviceCaps(HDC, int index) {
  switch (index) {
    case HORZRES:
      return desk().screen.width;
    case VERTRES:
      return desk().screen.height;
    case BITSPIXEL:
      return 32;
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    case HORZSIZE:  // millimetres at 96 dpi, the scale the metric map modes use
      return MulDiv(desk().screen.width, 254, 960);
    case VERTSIZE:
      return MulDiv(desk().screen.height, 254, 960);
  }
  return 0;
}

BOOL WINAPI DrawIcon(HDC hdc, int x, int y, HICON icon) {
  Dc* d = desk().dc(hdc);
  if (!d) return FALSE;
  POINT p = to_device(d, x, y);
  draw_icon(d, p.x, p.y, desk().object(icon));
  return TRUE;
}

BOOL WINAPI SetRect(LPRECT r, int l, int t, int rr, int b) {
  return r ? (*r = {l, t, rr, b}, TRUE) : FALSE;
}
BOOL WINAPI SetRectEmpty(LPRECT r) {
  return r ? (*r = {0, 0, 0, 0}, TRUE) : FALSE;
}
BOOL WINAPI IsRectEmpty(const RECT* r) {
  return !r || r->right <= r->left || r->bottom <= r->top;
}
BOOL WINAPI PtInRect(const RECT* r, POINT p) {
  return r && Rect::from(*r).contains(p.x, p.y);
}
BOOL WINAPI OffsetRect(LPRECT r, int dx, int dy) {
  return r ? (*r = Rect::from(*r).offset(dx, dy).to_win(), TRUE) : FALSE;
}
BOOL WINAPI InflateRect(LPRECT r, int dx, int dy) {
  return r ? (*r = Rect::from(*r).inflate(dx, dy).to_win(), TRUE) : FALSE;
}
BOOL WINAPI IntersectRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  *out = Rect::from(*a).intersect(Rect::from(*b)).to_win();
  return !IsRectEmpty(out);
}
BOOL WINAPI UnionRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  *out = Rect::from(*a).unite(Rect::from(*b)).to_win();
  return !IsRectEmpty(out);
}
BOOL WINAPI CopyRect(LPRECT out, const RECT* in) {
  return out && in ? (*out = *in, TRUE) : FALSE;
}
BOOL WINAPI EqualRect(const RECT* a, const RECT* b) {
  return a && b && Rect::from(*a) == Rect::from(*b);
}

}  // extern "C"
