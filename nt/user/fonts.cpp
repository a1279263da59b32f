// Fonts through FreeType, drawn without anti-aliasing as NT 4.0 drew screen
// fonts. Windows faces map onto Debian's metric-compatible families.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "state.h"

namespace qzr::user {

struct FontFace {
  FT_Face face = nullptr;
  int em_px = 0;
  TextMetrics tm{};
  struct Glyph {
    int advance = 0, left = 0, top = 0, width = 0, rows = 0;
    std::vector<uint8_t> bits;  // one byte per pixel, 0 or 1
  };
  std::map<unsigned char, Glyph> glyphs;
  bool bold_synthetic = false;
  ~FontFace() {
    if (face) FT_Done_Face(face);
  }
  const Glyph& glyph(unsigned char c);
};

namespace {

FT_Library library() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    FT_Init_FreeType(&l);
    return l;
  }();
  return lib;
}

bool exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Which file draws a Windows face: Liberation's families carry the metrics
// of the Windows core fonts; DejaVu stands in when they are missing.
std::string font_file(const std::string& face, bool bold, bool italic) {
  std::string f = lower(face);
  std::string family = "Sans";
  if (f.find("times") != std::string::npos || f.find("roman") != std::string::npos ||
      f.find("serif") == 0 || f == "ms serif")
    family = "Serif";
  else if (f.find("courier") != std::string::npos || f.find("fixed") != std::string::npos ||
           f.find("terminal") != std::string::npos)
    family = "Mono";
  std::string style = bold && italic ? "BoldItalic" : bold ? "Bold" : italic ? "Italic" : "Regular";
  std::string p = "/usr/share/fonts/truetype/liberation/Liberation" + family + "-" + style + ".ttf";
  if (exists(p)) return p;
  std::string dv = family == "Serif"  ? "DejaVuSerif"
                   : family == "Mono" ? "DejaVuSansMono"
                                      : "DejaVuSans";
  std::string ds = bold && italic ? "-BoldOblique" : bold ? "-Bold" : italic ? "-Oblique" : "";
  if (family == "Serif" && italic) ds = bold ? "-BoldItalic" : "-Italic";
  return "/usr/share/fonts/truetype/dejavu/" + dv + ds + ".ttf";
}

}  // namespace

const FontFace::Glyph& FontFace::glyph(unsigned char c) {
  auto it = glyphs.find(c);
  if (it != glyphs.end()) return it->second;
  Glyph g;
  // Latin-1: the ANSI code page's printable range maps one to one.
  if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0) {
    FT_GlyphSlot s = face->glyph;
    g.advance = static_cast<int>((s->advance.x + 32) >> 6);
    g.left = s->bitmap_left;
    g.top = s->bitmap_top;
    g.width = static_cast<int>(s->bitmap.width);
    g.rows = static_cast<int>(s->bitmap.rows);
    g.bits.assign(static_cast<size_t>(g.width) * g.rows, 0);
    for (int y = 0; y < g.rows; ++y)
      for (int x = 0; x < g.width; ++x) {
        const unsigned char* row = s->bitmap.buffer + y * s->bitmap.pitch;
        bool on = s->bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? (row[x >> 3] >> (7 - (x & 7))) & 1
                                                             : row[x] > 127;
        g.bits[static_cast<size_t>(y) * g.width + x] = on;
      }
  }
  return glyphs.emplace(c, std::move(g)).first->second;
}

std::shared_ptr<FontFace> open_face(const std::string& face_name, int height, int weight,
                                    bool italic) {
  static std::map<std::tuple<std::string, int, int, bool>, std::weak_ptr<FontFace>> cache;
  auto key = std::make_tuple(lower(face_name), height, weight, italic);
  if (auto it = cache.find(key); it != cache.end())
    if (auto sp = it->second.lock()) return sp;
  auto f = std::make_shared<FontFace>();
  std::string file = font_file(face_name, weight >= FW_SEMIBOLD, italic);
  if (FT_New_Face(library(), file.c_str(), 0, &f->face) != 0) return nullptr;
  FT_Face ft = f->face;
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
  double upem = ft->units_per_EM;
  double win_asc = os2 ? os2->usWinAscent : ft->ascender;
  double win_desc = os2 ? os2->usWinDescent : -ft->descender;
  // Negative heights ask for the character (em) height, positive ones for
  // the cell height, ascent plus descent; zero means the 12-point default.
  if (height == 0) height = -16;
  int em =
      height < 0 ? -height : static_cast<int>(std::lround(height * upem / (win_asc + win_desc)));
  em = std::max(em, 1);
  f->em_px = em;
  FT_Set_Pixel_Sizes(ft, 0, static_cast<FT_UInt>(em));
  int ascent = static_cast<int>(std::ceil(win_asc * em / upem - 0.01));
  int descent = static_cast<int>(std::ceil(win_desc * em / upem - 0.01));
  if (height > 0) descent = std::max(1, height - ascent);
  f->tm.ascent = ascent;
  f->tm.descent = descent;
  f->tm.height = ascent + descent;
  f->tm.internal_leading = f->tm.height - em;
  int xavg = os2 ? os2->xAvgCharWidth : static_cast<int>(upem / 2);
  f->tm.ave_width = static_cast<int>(std::lround(xavg * em / upem));
  f->tm.max_width =
      static_cast<int>(std::lround(static_cast<double>(ft->max_advance_width) * em / upem));
  cache[key] = f;
  return f;
}

TextMetrics metrics(FontFace& f) {
  return f.tm;
}

int text_width(FontFace& f, const std::string& s) {
  int w = 0;
  for (unsigned char c : s) w += f.glyph(c).advance;
  return w;
}

POINT base_units(FontFace& f) {
  // Windows averages the widths of the 52 Latin letters, rounding up.
  static const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  int cx = text_width(f, letters);
  return {(cx / 26 + 1) / 2, f.tm.height};
}

void draw_text(Pixels& t, const std::vector<Rect>& clip, int ox, int oy, FontFace& f,
               const std::string& s, uint32_t color, bool) {
  int pen = ox;
  int baseline = oy + f.tm.ascent;
  for (unsigned char c : s) {
    const auto& g = f.glyph(c);
    for (int y = 0; y < g.rows; ++y)
      for (int x = 0; x < g.width; ++x) {
        if (!g.bits[static_cast<size_t>(y) * g.width + x]) continue;
        int px = pen + g.left + x, py = baseline - g.top + y;
        if (px < 0 || py < 0 || px >= t.width || py >= t.height) continue;
        for (const Rect& r : clip)
          if (r.contains(px, py)) {
            t.row(py)[px] = color;
            break;
          }
      }
    pen += g.advance;
  }
}

namespace {

// Strips '&' prefixes; returns the index of the underlined character or -1.
std::string strip_prefix(const std::string& s, int* underline_at) {
  std::string out;
  *underline_at = -1;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size()) {
      ++i;
      if (s[i] != '&' && *underline_at < 0) *underline_at = static_cast<int>(out.size());
    }
    out += s[i];
  }
  return out;
}

}  // namespace

char mnemonic_of(const std::string& s) {
  int at;
  std::string plain = strip_prefix(s, &at);
  return at < 0 ? 0 : static_cast<char>(std::tolower(static_cast<unsigned char>(plain[at])));
}

int prefixed_width(Dc* d, const std::string& s, bool prefix) {
  GdiObject* f = dc_font(d);
  if (!f || !f->font) return 0;
  int at;
  return text_width(*f->font, prefix ? strip_prefix(s, &at) : s);
}

void draw_prefixed(Dc* d, int x, int y, const std::string& s, bool prefix) {
  GdiObject* fo = dc_font(d);
  if (!fo || !fo->font) return;
  int at = -1;
  std::string plain = prefix ? strip_prefix(s, &at) : s;
  Pixels* t = dc_target(d);
  if (!t) return;
  FontFace& f = *fo->font;
  int ox = x + d->origin_x, oy = y + d->origin_y;
  if (d->bk_mode == OPAQUE)
    fill_rect(d, {x, y, x + text_width(f, plain), y + f.tm.height}, to_pixel(d->bk_color));
  std::vector<Rect> clip = d->clip;
  if (d->memory) clip = {{0, 0, t->width, t->height}};
  draw_text(*t, clip, ox, oy, f, plain, to_pixel(d->text_color), false);
  if (at >= 0) {
    int ux = x + text_width(f, plain.substr(0, at));
    int uw = f.glyph(static_cast<unsigned char>(plain[at])).advance;
    int uy = y + f.tm.ascent + 1;
    fill_rect(d, {ux, uy, ux + uw - 1, uy + 1}, to_pixel(d->text_color));
  }
}

// Greyed text as Windows draws it: the text in white one pixel down and
// right, then in the shadow grey on top.
void draw_disabled_text(Dc* d, int x, int y, const std::string& s, bool prefix) {
  COLORREF old = d->text_color;
  int old_mode = d->bk_mode;
  d->bk_mode = TRANSPARENT;
  d->text_color = sys_color(COLOR_BTNHIGHLIGHT);
  draw_prefixed(d, x + 1, y + 1, s, prefix);
  d->text_color = sys_color(COLOR_BTNSHADOW);
  draw_prefixed(d, x, y, s, prefix);
  d->text_color = old;
  d->bk_mode = old_mode;
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" {

HFONT WINAPI CreateFontA(int height, int, int, int, int weight, DWORD italic, DWORD underline,
                         DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, LPCSTR face) {
  auto o = std::make_unique<GdiObject>();
  o->type = OBJ_FONT;
  o->height = height;
  o->weight = weight == FW_DONTCARE ? FW_NORMAL : weight;
  o->italic = italic != 0;
  o->underline = underline != 0;
  o->face = face && *face ? face : "MS Sans Serif";
  o->font = open_face(o->face, height, o->weight, o->italic);
  if (!o->font) return nullptr;
  return static_cast<HFONT>(desk().add_object(std::move(o)));
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR text, int count) {
  Dc* d = desk().dc(hdc);
  if (!d || !text || count < 0) return FALSE;
  POINT p = to_device(d, x, y);
  draw_prefixed(d, p.x, p.y, std::string(text, static_cast<size_t>(count)), false);
  return TRUE;
}

BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR text, int count, LPSIZE size) {
  Dc* d = desk().dc(hdc);
  if (!d || !text || !size) return FALSE;
  GdiObject* f = dc_font(d);
  if (!f || !f->font) return FALSE;
  size->cx = text_width(*f->font, std::string(text, static_cast<size_t>(std::max(0, count))));
  size->cy = f->font->tm.height;
  return TRUE;
}

BOOL WINAPI GetTextMetricsA(HDC hdc, LPTEXTMETRICA tm) {
  Dc* d = desk().dc(hdc);
  if (!d || !tm) return FALSE;
  GdiObject* f = dc_font(d);
  if (!f || !f->font) return FALSE;
  const TextMetrics& m = f->font->tm;
  *tm = TEXTMETRICA{};
  tm->tmHeight = m.height;
  tm->tmAscent = m.ascent;
  tm->tmDescent = m.descent;
  tm->tmInternalLeading = m.internal_leading;
  tm->tmAveCharWidth = m.ave_width;
  tm->tmMaxCharWidth = m.max_width;
  tm->tmWeight = f->weight;
  tm->tmItalic = f->italic;
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFF;
  tm->tmDefaultChar = 0x1F;
  tm->tmBreakChar = 0x20;
  tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = 96;
  tm->tmPitchAndFamily = VARIABLE_PITCH;
  return TRUE;
}

// Word-wrapped, aligned text: enough for statics and message boxes.
int WINAPI DrawTextA(HDC hdc, LPCSTR text, int count, LPRECT rect, UINT format) {
  Dc* d = desk().dc(hdc);
  if (!d || !text || !rect) return 0;
  GdiObject* fo = dc_font(d);
  if (!fo || !fo->font) return 0;
  FontFace& f = *fo->font;
  std::string s = count < 0 ? std::string(text) : std::string(text, static_cast<size_t>(count));
  bool prefix = !(format & DT_NOPREFIX);
  // Laid out in device pixels; only DT_CALCRECT reports back in logical units.
  LPRECT caller = rect;
  RECT logical = *rect;
  RECT device = to_device(d, Rect::from(*rect)).to_win();
  rect = &device;
  int width = rect->right - rect->left;
  std::vector<std::string> lines;
  auto measure = [&](const std::string& t) { return prefixed_width(d, t, prefix); };
  std::string para;
  std::vector<std::string> paras;
  for (char c : s) {
    if (c == '\r') continue;
    if (c == '\n') {
      paras.push_back(para);
      para.clear();
    } else {
      para += c;
    }
  }
  paras.push_back(para);
  if (format & DT_SINGLELINE) paras = {s};
  for (const auto& p : paras) {
    if (!(format & DT_WORDBREAK) || measure(p) <= width) {
      lines.push_back(p);
      continue;
    }
    std::string line;
    size_t i = 0;
    while (i < p.size()) {
      size_t j = p.find(' ', i);
      std::string word = p.substr(i, j == std::string::npos ? std::string::npos : j - i);
      std::string trial = line.empty() ? word : line + " " + word;
      if (!line.empty() && measure(trial) > width) {
        lines.push_back(line);
        line = word;
      } else {
        line = trial;
      }
      if (j == std::string::npos) break;
      i = j + 1;
    }
    lines.push_back(line);
  }
  int lh = f.tm.height;
  int total = lh * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    int w = 0;
    for (auto& l : lines) w = std::max(w, measure(l));
    POINT extent{w, total};
    DPtoLP(hdc, &extent, 1);
    logical.right = logical.left + extent.x;
    logical.bottom = logical.top + extent.y;
    *caller = logical;
    return total;
  }
  int y = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER)
      y = rect->top + (rect->bottom - rect->top - lh) / 2;
    else if (format & DT_BOTTOM)
      y = rect->bottom - lh;
  }
  std::vector<Rect> saved = d->clip;
  if (!(format & DT_NOCLIP)) {
    Rect bound = Rect::from(*rect).offset(d->origin_x, d->origin_y);
    std::vector<Rect> kept;
    for (auto& c : saved)
      if (Rect i = c.intersect(bound); !i.empty()) kept.push_back(i);
    if (d->memory && saved.empty()) kept = {bound};
    d->clip = kept;
  }
  for (auto& l : lines) {
    int w = measure(l);
    int x = rect->left;
    if (format & DT_CENTER)
      x = rect->left + (width - w) / 2;
    else if (format & DT_RIGHT)
      x = rect->right - w;
    draw_prefixed(d, x, y, l, prefix);
    y += lh;
  }
  d->clip = saved;
  return total;
}

}  // extern "C"
