// The non-client area in the Windows NT 4.0 look: 3D frames, the caption
// with its close box, the menu bar; hit testing and the default procedure.
#include <algorithm>
#include <cstring>

#include "state.h"

namespace qzr::user {

namespace {
constexpr int caption_height = 18;  // drawn caption; SM_CYCAPTION adds the line under it
constexpr int menu_height = 19;

bool has_caption(const Window* w) {
  return (w->style & WS_CAPTION) == WS_CAPTION;
}

int border_of(const Window* w) {
  if (w->style & WS_THICKFRAME) return 4;
  if ((w->style & WS_DLGFRAME) || (w->ex_style & WS_EX_DLGMODALFRAME)) return 3;
  if (w->style & WS_BORDER) return 1;
  return 0;
}

bool has_menu_bar(const Window* w) {
  return !(w->style & WS_CHILD) && w->menu;
}
}  // namespace

FrameParts frame_parts(const Window* w) {
  FrameParts p;
  p.border = border_of(w);
  const Rect& r = w->rect;
  int y = r.top + p.border;
  if (has_caption(w)) {
    p.caption = {r.left + p.border, y, r.right - p.border, y + caption_height};
    if (w->style & WS_SYSMENU)
      p.close_box = {p.caption.right - 2 - 16, p.caption.top + 2, p.caption.right - 2,
                     p.caption.top + 16};
    y += caption_height + 1;
  }
  if (has_menu_bar(w)) p.menu_bar = {r.left + p.border, y, r.right - p.border, y + menu_height - 1};
  return p;
}

Rect client_from_window(const Window* w, const Rect& wr) {
  int b = border_of(w);
  Rect c{wr.left + b, wr.top + b, wr.right - b, wr.bottom - b};
  if (has_caption(w)) c.top += caption_height + 1;
  if (has_menu_bar(w)) c.top += menu_height;
  if (c.bottom < c.top) c.bottom = c.top;
  if (c.right < c.left) c.right = c.left;
  return c;
}

int hit_test(const Window* w, int x, int y) {
  if (!w->rect.contains(x, y)) return HTNOWHERE;
  if (w->client.contains(x, y)) return HTCLIENT;
  FrameParts p = frame_parts(w);
  if (p.close_box.contains(x, y)) return HTCLOSE;
  if (p.caption.contains(x, y)) return HTCAPTION;
  if (p.menu_bar.contains(x, y)) return HTMENU;
  return HTBORDER;
}

// Frames are drawn with the window DC so that they are clipped like any
// other drawing; the caption text uses the bold caption font.
void draw_frame(Window* w) {
  w->frame_pending = false;
  if (w->rect == w->client) return;
  HDC hdc = make_window_dc(w, true, nullptr);
  Dc* d = desk().dc(hdc);
  Rect r{0, 0, w->rect.width(), w->rect.height()};
  auto px = [](int c) { return to_pixel(sys_color(c)); };
  int b = border_of(w);
  if (b == 1) {
    for (const Rect& e : subtract(r, r.inflate(-1, -1))) fill_rect(d, e, px(COLOR_WINDOWFRAME));
  } else if (b > 1) {
    // Outer edge: light grey/white top-left, dark grey/black bottom-right.
    fill_rect(d, {0, 0, r.right - 1, 1}, px(COLOR_3DLIGHT));
    fill_rect(d, {0, 0, 1, r.bottom - 1}, px(COLOR_3DLIGHT));
    fill_rect(d, {1, 1, r.right - 2, 2}, px(COLOR_BTNHIGHLIGHT));
    fill_rect(d, {1, 1, 2, r.bottom - 2}, px(COLOR_BTNHIGHLIGHT));
    fill_rect(d, {0, r.bottom - 1, r.right, r.bottom}, px(COLOR_3DDKSHADOW));
    fill_rect(d, {r.right - 1, 0, r.right, r.bottom}, px(COLOR_3DDKSHADOW));
    fill_rect(d, {1, r.bottom - 2, r.right - 1, r.bottom - 1}, px(COLOR_BTNSHADOW));
    fill_rect(d, {r.right - 2, 1, r.right - 1, r.bottom - 1}, px(COLOR_BTNSHADOW));
    Rect inner = r.inflate(-2, -2);
    for (const Rect& e : subtract(inner, inner.inflate(2 - b, 2 - b)))
      fill_rect(d, e, px(COLOR_ACTIVEBORDER));
  }
  FrameParts p = frame_parts(w);
  int ox = w->rect.left, oy = w->rect.top;
  if (!p.caption.empty()) {
    Rect cap = p.caption.offset(-ox, -oy);
    bool active = w->active_caption;
    fill_rect(d, cap, px(active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION));
    fill_rect(d, {cap.left, cap.bottom, cap.right, cap.bottom + 1}, px(COLOR_BTNFACE));
    int text_left = cap.left + 2;
    HICON icon = w->cls->icon;
    if ((w->style & WS_SYSMENU) && icon && !(w->ex_style & WS_EX_DLGMODALFRAME) && !w->dialog) {
      // The small icon: the class icon scaled to 16 x 16.
      if (GdiObject* ic = desk().object(icon)) {
        const Pixels& src = ic->pixels;
        for (int yy = 0; yy < 16; ++yy)
          for (int xx = 0; xx < 16; ++xx) {
            int sx = xx * src.width / 16, sy = yy * src.height / 16;
            size_t i = static_cast<size_t>(sy) * src.width + sx;
            if (!ic->mask.empty() && ic->mask[i]) continue;
            fill_rect(d, {cap.left + 1 + xx, cap.top + 1 + yy, cap.left + 2 + xx, cap.top + 2 + yy},
                      src.data[i]);
          }
      }
      text_left = cap.left + 20;
    }
    HGDIOBJ old_font = SelectObject(hdc, caption_font());
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, sys_color(active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
    TEXTMETRICA tm;
    GetTextMetricsA(hdc, &tm);
    // Keep the caption text off the close box.
    std::vector<Rect> saved = d->clip;
    Rect text_area{ox + text_left, oy + cap.top,
                   ox + (p.close_box.empty() ? cap.right : p.close_box.left - 2), oy + cap.bottom};
    std::vector<Rect> clipped;
    for (auto& c : saved)
      if (Rect i = c.intersect(text_area); !i.empty()) clipped.push_back(i);
    d->clip = clipped;
    TextOutA(hdc, text_left, cap.top + (cap.height() - tm.tmHeight) / 2, w->text.c_str(),
             static_cast<int>(w->text.size()));
    d->clip = saved;
    SelectObject(hdc, old_font);
    if (!p.close_box.empty()) {
      Rect cb = p.close_box.offset(-ox, -oy);
      draw_edge_raised(d, cb, false);
      // The cross: two 2-pixel diagonals, 8 wide, centred.
      int cx = cb.left + 4, cy = cb.top + 3;
      for (int i = 0; i < 8; ++i) {
        for (int t = 0; t < 2; ++t) {
          fill_rect(d, {cx + i + t, cy + i, cx + i + t + 1, cy + i + 1}, 0);
          fill_rect(d, {cx + 7 - i + t, cy + i, cx + 7 - i + t + 1, cy + i + 1}, 0);
        }
      }
    }
  }
  ReleaseDC(w->handle, hdc);
  if (!p.menu_bar.empty()) draw_menu_bar(w);
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" LRESULT WINAPI DefWindowProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Desk& d = desk();
  Window* w = d.window(h);
  if (!w) return 0;
  switch (msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_NCCALCSIZE:
      return 0;
    case WM_NCPAINT:
      draw_frame(w);
      return 0;
    case WM_NCACTIVATE:
      w->active_caption = wp != 0;
      if (w->style & WS_VISIBLE) invalidate_frame(w);
      return TRUE;
    case WM_NCHITTEST:
      return hit_test(w, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
    case WM_ERASEBKGND: {
      HBRUSH br = w->cls->background;
      if (!br) return 0;
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(reinterpret_cast<HDC>(wp), &rc, br);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(h, &ps);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(h);
      return 0;
    case WM_SETTEXT:
      w->text = lp ? reinterpret_cast<const char*>(lp) : "";
      if (w->rect != w->client && (w->style & WS_VISIBLE)) invalidate_frame(w);
      return TRUE;
    case WM_GETTEXT: {
      if (wp == 0) return 0;
      size_t n = std::min(w->text.size(), static_cast<size_t>(wp) - 1);
      std::memcpy(reinterpret_cast<char*>(lp), w->text.data(), n);
      reinterpret_cast<char*>(lp)[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wp);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w->font);
    case WM_MOUSEACTIVATE:
      return 1;  // MA_ACTIVATE
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT && w->cls->cursor) SetCursor(w->cls->cursor);
      return TRUE;
    case WM_NCLBUTTONDOWN:
      if (wp == HTCLOSE) {
        PostMessageA(h, WM_SYSCOMMAND, SC_CLOSE, lp);
      } else if (wp == HTMENU) {
        SendMessageA(h, WM_SYSCOMMAND, SC_MOUSEMENU, lp);
      }
      return 0;
    case WM_SYSCOMMAND:
      switch (wp & 0xFFF0) {
        case SC_CLOSE:
          SendMessageA(h, WM_CLOSE, 0, 0);
          return 0;
        case SC_MOUSEMENU: {
          int item = menu_bar_hit(w, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
          if (item >= 0) track_menu_bar(w, item, false);
          return 0;
        }
        case SC_KEYMENU: {
          int item = lp ? menu_bar_mnemonic(w, static_cast<char>(lp)) : 0;
          if (item >= 0 && w->menu) track_menu_bar(w, item, true);
          return 0;
        }
      }
      return 0;
    case WM_SYSKEYDOWN:
      if (wp == VK_F4 && top_level_of(w) == w) PostMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0);
      return 0;
    case WM_SYSCHAR: {
      Window* t = top_level_of(w);
      if (t->menu) PostMessageA(t->handle, WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(wp));
      return 0;
    }
    case WM_KEYUP:
      return 0;
  }
  return 0;
}

extern "C" LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return proc ? proc(h, msg, wp, lp) : 0;
}
