// The single-line Edit control in the Windows NT 4.0 look: a white field
// with a sunken edge, typing at the caret, a selection that typing
// replaces, and EN_CHANGE to the parent after every change of the text.
#include <algorithm>

#include "state.h"

namespace qzr::user {

namespace {

void notify(Window* w, WORD code) {
  if (w->parent)
    send(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code),
         reinterpret_cast<LPARAM>(w->handle));
}

std::string shown_text(const Window* w) {
  return (w->style & ES_PASSWORD) ? std::string(w->text.size(), '*') : w->text;
}

void clamp_selection(Window* w) {
  int n = static_cast<int>(w->text.size());
  w->sel_start = std::clamp(w->sel_start, 0, n);
  w->sel_end = std::clamp(w->sel_end, 0, n);
}

// Replaces the selection with `s`, cut to the length limit (EN_MAXTEXT when
// cut); true when the text changed.
bool replace_selection(Window* w, const std::string& s) {
  clamp_selection(w);
  int a = std::min(w->sel_start, w->sel_end), b = std::max(w->sel_start, w->sel_end);
  int room = w->text_limit - (static_cast<int>(w->text.size()) - (b - a));
  std::string put = s.substr(0, static_cast<size_t>(std::max(0, room)));
  bool cut = put.size() < s.size();
  std::string next = w->text.substr(0, a) + put + w->text.substr(b);
  bool changed = next != w->text;
  w->text = std::move(next);
  w->sel_start = w->sel_end = a + static_cast<int>(put.size());
  if (cut) notify(w, EN_MAXTEXT);
  return changed;
}

int caret_index_at(Window* w, HDC hdc, int x) {
  std::string t = shown_text(w);
  SIZE sz;
  for (int i = 0; i < static_cast<int>(t.size()); ++i) {
    GetTextExtentPoint32A(hdc, t.c_str(), i + 1, &sz);
    int right = sz.cx;
    GetTextExtentPoint32A(hdc, t.c_str(), i, &sz);
    if (x < (sz.cx + right) / 2) return i;
  }
  return static_cast<int>(t.size());
}

constexpr int margin = 1;  // pixels between the edge and the text

void paint_edit(Window* w) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(w->handle, &ps);
  Dc* d = desk().dc(hdc);
  auto px = [](int c) { return to_pixel(sys_color(c)); };
  Rect r{0, 0, w->client.width(), w->client.height()};
  // Disabled and read-only edits show the dialog face, as NT 4.0 draws them.
  bool plain = !(w->style & (WS_DISABLED | ES_READONLY));
  fill_rect(d, r, px(plain ? COLOR_WINDOW : COLOR_BTNFACE));
  Rect inner = r;
  if (w->sunken) {
    draw_edge_sunken(d, r);
    inner = r.inflate(-2, -2);
  }
  GdiObject* f = dc_font(d);
  if (f && f->font && !inner.empty()) {
    clamp_selection(w);
    std::string t = shown_text(w);
    auto width_of = [&](int n) {
      return text_width(*f->font, t.substr(0, static_cast<size_t>(n)));
    };
    int caret_x = width_of(w->sel_end);
    // Scrolled so that the caret stays in view.
    int scroll = std::max(0, caret_x - (inner.width() - 2 * margin - 1));
    int x = inner.left + margin - scroll;
    int lh = metrics(*f->font).height;
    int y = inner.top + std::max(0, (inner.height() - lh) / 2);
    std::vector<Rect> saved = d->clip;
    std::vector<Rect> kept;
    Rect bound = inner.offset(d->origin_x, d->origin_y);
    for (const Rect& c : saved)
      if (Rect i = c.intersect(bound); !i.empty()) kept.push_back(i);
    d->clip = kept;
    bool focused = desk().focus == w;
    d->bk_mode = TRANSPARENT;
    d->text_color =
        plain || (w->style & ES_READONLY) ? sys_color(COLOR_WINDOWTEXT) : sys_color(COLOR_GRAYTEXT);
    draw_prefixed(d, x, y, t, false);
    int a = std::min(w->sel_start, w->sel_end), b = std::max(w->sel_start, w->sel_end);
    if (focused && a != b) {
      int sx = x + width_of(a), ex = x + width_of(b);
      fill_rect(d, {sx, y, ex, y + lh}, px(COLOR_HIGHLIGHT));
      d->text_color = sys_color(COLOR_HIGHLIGHTTEXT);
      draw_prefixed(d, sx, y, t.substr(a, b - a), false);
    } else if (focused && !(w->style & ES_READONLY)) {
      fill_rect(d, {x + caret_x, y, x + caret_x + 1, y + lh}, px(COLOR_WINDOWTEXT));
    }
    d->clip = saved;
  }
  EndPaint(w->handle, &ps);
}

bool on_char(Window* w, int ch) {
  if (w->style & ES_READONLY) return false;
  if (ch == VK_BACK) {
    if (w->sel_start == w->sel_end && w->sel_end > 0) w->sel_start = w->sel_end - 1;
    return replace_selection(w, "");
  }
  if (ch < 0x20) return false;  // Enter, Escape and Tab belong to the dialog
  if ((w->style & ES_NUMBER) && (ch < '0' || ch > '9')) {
    MessageBeep(0);
    return false;
  }
  if (w->style & ES_UPPERCASE) ch = std::toupper(ch);
  if (w->style & ES_LOWERCASE) ch = std::tolower(ch);
  return replace_selection(w, std::string(1, static_cast<char>(ch)));
}

bool on_key(Window* w, int vk) {
  int n = static_cast<int>(w->text.size());
  clamp_selection(w);
  switch (vk) {
    case VK_LEFT:
      w->sel_start = w->sel_end =
          std::max(0, std::min(w->sel_start, w->sel_end) - (w->sel_start == w->sel_end ? 1 : 0));
      return false;
    case VK_RIGHT:
      w->sel_start = w->sel_end =
          std::min(n, std::max(w->sel_start, w->sel_end) + (w->sel_start == w->sel_end ? 1 : 0));
      return false;
    case VK_HOME:
      w->sel_start = w->sel_end = 0;
      return false;
    case VK_END:
      w->sel_start = w->sel_end = n;
      return false;
    case VK_DELETE:
      if (w->style & ES_READONLY) return false;
      if (w->sel_start == w->sel_end) w->sel_end = std::min(n, w->sel_end + 1);
      return replace_selection(w, "");
  }
  return false;
}

}  // namespace

LRESULT CALLBACK edit_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = desk().window(h);
  if (!w) return 0;
  switch (msg) {
    case WM_NCCREATE:
      take_sunken_edge(w);
      return DefWindowProcA(h, msg, wp, lp);
    case WM_PAINT:
      paint_edit(w);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE:
      return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case WM_SETTEXT: {
      // The limit is for typing only; a program may set any text.
      DefWindowProcA(h, msg, wp, lp);
      w->sel_start = w->sel_end = 0;
      invalidate(w, nullptr, true, false);
      notify(w, EN_CHANGE);
      return TRUE;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      invalidate(w, nullptr, true, false);
      notify(w, msg == WM_SETFOCUS ? EN_SETFOCUS : EN_KILLFOCUS);
      return 0;
    case WM_ENABLE:
      invalidate(w, nullptr, true, false);
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus(h);
      if (!desk().window(h)) return 0;
      HDC hdc = GetDC(h);
      int x = GET_X_LPARAM(lp) - (w->sunken ? 2 : 0) - margin;
      w->sel_start = w->sel_end = caret_index_at(w, hdc, x);
      ReleaseDC(h, hdc);
      invalidate(w, nullptr, true, false);
      return 0;
    }
    case WM_CHAR:
      if (on_char(w, static_cast<int>(wp))) notify(w, EN_CHANGE);
      if (desk().window(h)) invalidate(w, nullptr, true, false);
      return 0;
    case WM_KEYDOWN:
      if (on_key(w, static_cast<int>(wp))) notify(w, EN_CHANGE);
      if (desk().window(h)) invalidate(w, nullptr, true, false);
      return 0;
    case EM_GETSEL:
      clamp_selection(w);
      if (wp)
        *reinterpret_cast<DWORD*>(wp) = static_cast<DWORD>(std::min(w->sel_start, w->sel_end));
      if (lp)
        *reinterpret_cast<DWORD*>(lp) = static_cast<DWORD>(std::max(w->sel_start, w->sel_end));
      return MAKELONG(std::min(w->sel_start, w->sel_end), std::max(w->sel_start, w->sel_end));
    case EM_SETSEL: {
      int n = static_cast<int>(w->text.size());
      int a = static_cast<int>(wp), b = static_cast<int>(lp);
      // -1 as the start drops the selection; as the end it means the end.
      if (a == -1) {
        w->sel_start = w->sel_end;
      } else {
        w->sel_start = a < 0 ? n : std::min(a, n);
        w->sel_end = b < 0 ? n : std::min(b, n);
      }
      invalidate(w, nullptr, true, false);
      return 0;
    }
    case EM_LIMITTEXT:
      w->text_limit = wp ? static_cast<int>(std::min<WPARAM>(wp, 0x7FFFFFFE)) : 0x7FFFFFFE;
      return 0;
    case EM_SETREADONLY:
      w->style = wp ? (w->style | ES_READONLY) : (w->style & ~ES_READONLY);
      invalidate(w, nullptr, true, false);
      return TRUE;
  }
  return DefWindowProcA(h, msg, wp, lp);
}

}  // namespace qzr::user
