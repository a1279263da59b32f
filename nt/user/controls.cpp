// The Static and Button controls in the Windows NT 4.0 look.
#include <algorithm>

#include "state.h"

namespace qzr::user {

namespace {

HBRUSH background_for(Window* w, HDC hdc) {
  HBRUSH br = nullptr;
  if (w->parent)
    br = reinterpret_cast<HBRUSH>(send(w->parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc),
                                       reinterpret_cast<LPARAM>(w->handle)));
  if (!br || !desk().object(br)) {
    br = GetSysColorBrush(COLOR_BTNFACE);
    SetBkColor(hdc, sys_color(COLOR_BTNFACE));
  }
  return br;
}

HICON icon_named(HINSTANCE inst, const std::string& text) {
  LPCSTR name = text.c_str();
  LPCSTR id =
      text.size() > 1 && text[0] == '#' ? MAKEINTRESOURCEA(std::atoi(text.c_str() + 1)) : nullptr;
  HICON icon = LoadIconA(inst, id ? id : name);
  // A number the module lacks may name a system icon (IDI_*).
  if (!icon && id) icon = LoadIconA(nullptr, id);
  return icon;
}

void paint_static(Window* w) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(w->handle, &ps);
  Dc* d = desk().dc(hdc);
  RECT rc{0, 0, w->client.width(), w->client.height()};
  HBRUSH br = background_for(w, hdc);
  DWORD type = w->style & SS_TYPEMASK;
  switch (type) {
    case SS_ICON:
      FillRect(hdc, &rc, br);
      if (w->control_icon) DrawIcon(hdc, 0, 0, w->control_icon);
      break;
    case SS_BLACKRECT:
      FillRect(hdc, &rc, static_cast<HBRUSH>(stock(BLACK_BRUSH)));
      break;
    case SS_GRAYRECT:
      FillRect(hdc, &rc, static_cast<HBRUSH>(stock(GRAY_BRUSH)));
      break;
    case SS_WHITERECT:
      FillRect(hdc, &rc, static_cast<HBRUSH>(stock(WHITE_BRUSH)));
      break;
    default: {
      FillRect(hdc, &rc, br);
      UINT fmt = DT_WORDBREAK;
      if (type == SS_CENTER)
        fmt |= DT_CENTER;
      else if (type == SS_RIGHT)
        fmt |= DT_RIGHT;
      else if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP)
        fmt = DT_SINGLELINE;
      if (w->style & SS_NOPREFIX) fmt |= DT_NOPREFIX;
      SetBkMode(hdc, TRANSPARENT);
      if (w->style & WS_DISABLED) {
        // Embossed: white one pixel down and right, grey on top.
        RECT shifted = rc;
        OffsetRect(&shifted, 1, 1);
        SetTextColor(hdc, sys_color(COLOR_BTNHIGHLIGHT));
        DrawTextA(hdc, w->text.c_str(), -1, &shifted, fmt);
        SetTextColor(hdc, sys_color(COLOR_BTNSHADOW));
        DrawTextA(hdc, w->text.c_str(), -1, &rc, fmt);
      } else {
        if (d->text_color == 0) SetTextColor(hdc, sys_color(COLOR_WINDOWTEXT));
        DrawTextA(hdc, w->text.c_str(), -1, &rc, fmt);
      }
    }
  }
  EndPaint(w->handle, &ps);
}

void focus_rect(Dc* d, const Rect& r) {
  // Dotted: every other pixel, black on the button face.
  for (int x = r.left; x < r.right; x += 2) {
    fill_rect(d, {x, r.top, x + 1, r.top + 1}, 0);
    fill_rect(d, {x, r.bottom - 1, x + 1, r.bottom}, 0);
  }
  for (int y = r.top; y < r.bottom; y += 2) {
    fill_rect(d, {r.left, y, r.left + 1, y + 1}, 0);
    fill_rect(d, {r.right - 1, y, r.right, y + 1}, 0);
  }
}

void paint_button(Window* w) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(w->handle, &ps);
  Dc* d = desk().dc(hdc);
  Rect r{0, 0, w->client.width(), w->client.height()};
  bool is_default = (w->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  bool pressed = w->control_state & BST_PUSHED;
  bool focused = desk().focus == w;
  // A push button with the focus acts as the default; the template's
  // default button gives up its frame meanwhile, as the dialog manager does.
  Window* f = desk().focus;
  bool other_push_focused = f && f != w && f->parent == w->parent && f->cls == w->cls &&
                            (f->style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON;
  Rect face = r;
  if (focused || (is_default && !other_push_focused)) {
    // The default button wears a black frame outside its 3D edge.
    for (auto& e : subtract(r, r.inflate(-1, -1)))
      fill_rect(d, e, to_pixel(sys_color(COLOR_WINDOWFRAME)));
    face = r.inflate(-1, -1);
  }
  if (pressed) {
    fill_rect(d, face, to_pixel(sys_color(COLOR_BTNFACE)));
    for (auto& e : subtract(face, face.inflate(-1, -1)))
      fill_rect(d, e, to_pixel(sys_color(COLOR_BTNSHADOW)));
  } else {
    draw_edge_raised(d, face, false);
    // Inner light edge of the 3D push button.
    fill_rect(d, {face.left + 1, face.top + 1, face.right - 2, face.top + 2},
              to_pixel(sys_color(COLOR_3DLIGHT)));
    fill_rect(d, {face.left + 1, face.top + 1, face.left + 2, face.bottom - 2},
              to_pixel(sys_color(COLOR_3DLIGHT)));
  }
  SetBkMode(hdc, TRANSPARENT);
  RECT tr = r.to_win();
  if (pressed) OffsetRect(&tr, 1, 1);
  if (w->style & WS_DISABLED) {
    RECT sh = tr;
    OffsetRect(&sh, 1, 1);
    SetTextColor(hdc, sys_color(COLOR_BTNHIGHLIGHT));
    DrawTextA(hdc, w->text.c_str(), -1, &sh, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SetTextColor(hdc, sys_color(COLOR_GRAYTEXT));
  } else {
    SetTextColor(hdc, sys_color(COLOR_BTNTEXT));
  }
  DrawTextA(hdc, w->text.c_str(), -1, &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (focused) focus_rect(d, r.inflate(-4, -4).offset(pressed ? 1 : 0, pressed ? 1 : 0));
  EndPaint(w->handle, &ps);
}

bool is_check_box(const Window* w) {
  DWORD t = w->style & BS_TYPEMASK;
  return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX;
}
bool is_radio(const Window* w) {
  DWORD t = w->style & BS_TYPEMASK;
  return t == BS_RADIOBUTTON || t == BS_AUTORADIOBUTTON;
}

// Check boxes and radio buttons: the 13 x 13 sunken box or round button on
// the dialog face, the text to its right.
void paint_check(Window* w) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(w->handle, &ps);
  Dc* d = desk().dc(hdc);
  RECT rc{0, 0, w->client.width(), w->client.height()};
  FillRect(hdc, &rc, background_for(w, hdc));
  auto px = [](int c) { return to_pixel(sys_color(c)); };
  bool enabled = !(w->style & WS_DISABLED);
  bool checked = w->control_state & BST_CHECKED;
  bool pushed = w->control_state & BST_PUSHED;
  int top = (rc.bottom - 13) / 2;
  uint32_t inside = px(enabled && !pushed ? COLOR_WINDOW : COLOR_BTNFACE);
  if (is_radio(w)) {
    // Rows of the round button: outer ring, inner ring, face, as spans.
    static const int half[13] = {2, 4, 5, 5, 6, 6, 6, 6, 6, 5, 5, 4, 2};
    for (int y = 0; y < 13; ++y) {
      int hw = half[y];
      uint32_t ring = y < 6 ? px(COLOR_BTNSHADOW) : px(COLOR_BTNHIGHLIGHT);
      fill_rect(d, {6 - hw, top + y, 7 + hw, top + y + 1}, ring);
      if (y > 0 && y < 12)
        fill_rect(d, {6 - hw + 1, top + y, 7 + hw - 1, top + y + 1},
                  y < 6 ? px(COLOR_3DDKSHADOW) : px(COLOR_3DLIGHT));
      if (y > 1 && y < 11) fill_rect(d, {6 - hw + 2, top + y, 7 + hw - 2, top + y + 1}, inside);
    }
    if (checked)
      fill_rect(d, {5, top + 4, 8, top + 9}, px(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT)),
          fill_rect(d, {4, top + 5, 9, top + 8}, px(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  } else {
    Rect b{0, top, 13, top + 13};
    draw_edge_sunken(d, b);
    fill_rect(d, b.inflate(-2, -2), inside);
    if (checked) {
      // The 7 x 7 check mark, 3 pixels thick.
      static const int ys[7] = {2, 3, 4, 3, 2, 1, 0};
      uint32_t c = px(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT);
      for (int i = 0; i < 7; ++i) fill_rect(d, {3 + i, top + 3 + ys[i], 4 + i, top + 6 + ys[i]}, c);
    }
  }
  SetBkMode(hdc, TRANSPARENT);
  RECT tr{17, 0, rc.right, rc.bottom};
  if (enabled) {
    SetTextColor(hdc, sys_color(COLOR_BTNTEXT));
    DrawTextA(hdc, w->text.c_str(), -1, &tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  } else {
    RECT sh = tr;
    OffsetRect(&sh, 1, 1);
    SetTextColor(hdc, sys_color(COLOR_BTNHIGHLIGHT));
    DrawTextA(hdc, w->text.c_str(), -1, &sh, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    SetTextColor(hdc, sys_color(COLOR_GRAYTEXT));
    DrawTextA(hdc, w->text.c_str(), -1, &tr, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  }
  if (desk().focus == w) {
    RECT m = tr;
    DrawTextA(hdc, w->text.c_str(), -1, &m, DT_LEFT | DT_SINGLELINE | DT_CALCRECT);
    int ty = (rc.bottom - (m.bottom - m.top)) / 2;
    focus_rect(d, Rect{m.left - 1, ty - 1, m.right + 1, ty + (m.bottom - m.top) + 1});
  }
  EndPaint(w->handle, &ps);
}

void set_check(Window* w, int state) {
  int was = w->control_state;
  w->control_state = (w->control_state & ~BST_CHECKED) | (state ? BST_CHECKED : 0);
  if (was != w->control_state) invalidate(w, nullptr, true, false);
}

void click(Window* w) {
  HWND h = w->handle;
  Window* parent = w->parent;
  if (!parent) return;
  DWORD type = w->style & BS_TYPEMASK;
  // Automatic styles change their own state before telling the parent.
  if (type == BS_AUTOCHECKBOX) set_check(w, !(w->control_state & BST_CHECKED));
  if (type == BS_AUTORADIOBUTTON) {
    // Its group: the siblings from the WS_GROUP control before it up to the next.
    auto& kids = parent->children;
    auto at = std::find(kids.begin(), kids.end(), w);
    auto first = at;
    while (first != kids.begin() && !((*first)->style & WS_GROUP)) --first;
    for (auto it = first; it != kids.end(); ++it) {
      if (it != first && ((*it)->style & WS_GROUP)) break;
      if ((*it)->cls == w->cls && ((*it)->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        set_check(*it, *it == w);
    }
  }
  send(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), BN_CLICKED),
       reinterpret_cast<LPARAM>(h));
}

void set_pushed(Window* w, bool pushed) {
  int was = w->control_state;
  w->control_state = pushed ? (w->control_state | BST_PUSHED) : (w->control_state & ~BST_PUSHED);
  if (was != w->control_state) invalidate(w, nullptr, false, false);
}

}  // namespace

LRESULT CALLBACK static_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = desk().window(h);
  if (!w) return 0;
  switch (msg) {
    case WM_CREATE:
      if ((w->style & SS_TYPEMASK) == SS_ICON) {
        w->control_icon = icon_named(w->instance, w->text);
        if (w->control_icon) {
          // An icon static takes the icon's size.
          w->rect.right = w->rect.left + 32, w->rect.bottom = w->rect.top + 32;
          w->client = w->rect;
        }
      }
      return 0;
    case WM_PAINT:
      paint_static(w);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCHITTEST:
      return -1;  // HTTRANSPARENT: clicks fall through to the dialog
    case WM_SETTEXT:
      DefWindowProcA(h, msg, wp, lp);
      if ((w->style & SS_TYPEMASK) == SS_ICON) w->control_icon = icon_named(w->instance, w->text);
      invalidate(w, nullptr, true, false);
      return TRUE;
    case WM_ENABLE:
      invalidate(w, nullptr, true, false);
      return 0;
    case STM_SETICON: {
      HICON old = w->control_icon;
      w->control_icon = reinterpret_cast<HICON>(wp);
      invalidate(w, nullptr, true, false);
      return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETICON:
      return reinterpret_cast<LRESULT>(w->control_icon);
    case WM_GETDLGCODE:
      return DLGC_STATIC;
  }
  return DefWindowProcA(h, msg, wp, lp);
}

LRESULT CALLBACK button_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = desk().window(h);
  if (!w) return 0;
  switch (msg) {
    case WM_PAINT:
      if (is_check_box(w) || is_radio(w))
        paint_check(w);
      else
        paint_button(w);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetCapture(h);
      SetFocus(h);
      set_pushed(w, true);
      return 0;
    case WM_LBUTTONUP: {
      bool was_pushed = w->control_state & BST_PUSHED;
      ReleaseCapture();
      set_pushed(w, false);
      int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
      if (was_pushed && x >= 0 && y >= 0 && x < w->client.width() && y < w->client.height())
        click(w);
      return 0;
    }
    case WM_KEYDOWN:
      if (wp == VK_SPACE) set_pushed(w, true);
      return 0;
    case WM_KEYUP:
      if (wp == VK_SPACE && (w->control_state & BST_PUSHED)) {
        set_pushed(w, false);
        click(w);
      }
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      if (msg == WM_KILLFOCUS) set_pushed(w, false);
      invalidate(w, nullptr, false, false);
      // The default button's frame depends on where the focus is.
      if (w->parent)
        for (Window* s : w->parent->children)
          if (s != w && s->cls == w->cls && (s->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            invalidate(s, nullptr, false, false);
      return 0;
    case WM_ENABLE:
      invalidate(w, nullptr, true, false);
      return 0;
    case WM_SETTEXT:
      DefWindowProcA(h, msg, wp, lp);
      invalidate(w, nullptr, true, false);
      return TRUE;
    case BM_CLICK:
      click(w);
      return 0;
    case BM_GETSTATE:
      return w->control_state | (desk().focus == w ? BST_FOCUS : 0);
    case BM_SETSTATE:
      set_pushed(w, wp != 0);
      return 0;
    case BM_GETCHECK:
      return w->control_state & BST_CHECKED;
    case BM_SETCHECK:
      set_check(w, static_cast<int>(wp));
      return 0;
    case BM_SETSTYLE:
      w->style = (w->style & ~0xFFFFu) | (static_cast<DWORD>(wp) & 0xFFFF);
      if (lp) invalidate(w, nullptr, true, false);
      return 0;
    case WM_GETDLGCODE:
      if (is_radio(w)) return DLGC_BUTTON | DLGC_RADIOBUTTON;
      if (is_check_box(w)) return DLGC_BUTTON;
      return DLGC_BUTTON | ((w->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON
                                                                         : DLGC_UNDEFPUSHBUTTON);
  }
  return DefWindowProcA(h, msg, wp, lp);
}

}  // namespace qzr::user
