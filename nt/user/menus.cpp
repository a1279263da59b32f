// Menus: the menu objects and their calls, loading from templates, the
// menu bar drawn in the frame, and tracking it with the mouse and keys.
#include <algorithm>
#include <cstring>

#include "resources.h"
#include "state.h"

namespace qzr::user {

namespace {

constexpr int popup_item_height = 17;
constexpr int popup_separator_height = 9;
constexpr int popup_text_left = 19;  // room for the check mark

MenuItem* find_item(HMENU h, UINT id, UINT flags, HMENU* owner_out = nullptr) {
  Menu* m = desk().menu(h);
  if (!m) return nullptr;
  if (flags & MF_BYPOSITION) {
    if (id >= m->items.size()) return nullptr;
    if (owner_out) *owner_out = h;
    return &m->items[id];
  }
  for (auto& it : m->items) {
    if (!(it.flags & MF_POPUP) && !(it.flags & MF_SEPARATOR) && it.id == id) {
      if (owner_out) *owner_out = h;
      return &it;
    }
    if (it.flags & MF_POPUP)
      if (MenuItem* sub = find_item(it.popup, id, flags, owner_out)) return sub;
  }
  return nullptr;
}

HMENU build_menu(const std::vector<MenuTemplateItem>& items, bool popup) {
  HMENU h = popup ? CreatePopupMenu() : CreateMenu();
  for (const auto& it : items) {
    if (it.flags & MF_POPUP) {
      HMENU sub = build_menu(it.children, true);
      AppendMenuA(h, (it.flags & ~MF_POPUP) | MF_POPUP, reinterpret_cast<UINT_PTR>(sub),
                  it.text.c_str());
    } else if (it.flags & MF_SEPARATOR) {
      AppendMenuA(h, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuA(h, it.flags, it.id, it.text.c_str());
    }
  }
  return h;
}

// Tabs in an item's text separate the accelerator text shown on the right.
std::string label_of(const std::string& s) {
  return s.substr(0, s.find('\t'));
}

HDC font_dc() {
  HDC hdc = CreateCompatibleDC(nullptr);
  SelectObject(hdc, menu_font());
  return hdc;
}

void layout_bar(Window* w) {
  Menu* m = desk().menu(w->menu);
  if (!m) return;
  FrameParts p = frame_parts(w);
  HDC hdc = font_dc();
  Dc* d = desk().dc(hdc);
  int x = p.menu_bar.left;
  for (auto& it : m->items) {
    int width = prefixed_width(d, label_of(it.text), true) + 16;
    it.rect = {x, p.menu_bar.top, x + width, p.menu_bar.bottom};
    x += width;
  }
  DeleteDC(hdc);
}

Rect layout_popup(Menu* m, int x, int y) {
  HDC hdc = font_dc();
  Dc* d = desk().dc(hdc);
  int width = 0, height = 0;
  for (auto& it : m->items) {
    width = std::max(width, prefixed_width(d, label_of(it.text), true));
    height += (it.flags & MF_SEPARATOR) ? popup_separator_height : popup_item_height;
  }
  DeleteDC(hdc);
  width += popup_text_left + 24;
  Rect frame{x, y, x + width + 6, y + height + 6};
  // Keep the popup on the screen.
  Desk& dk = desk();
  if (frame.right > dk.screen.width) frame = frame.offset(dk.screen.width - frame.right, 0);
  if (frame.bottom > dk.screen.height) frame = frame.offset(0, dk.screen.height - frame.bottom);
  int iy = frame.top + 3;
  for (auto& it : m->items) {
    int ih = (it.flags & MF_SEPARATOR) ? popup_separator_height : popup_item_height;
    it.rect = {frame.left + 3, iy, frame.right - 3, iy + ih};
    iy += ih;
  }
  return frame;
}

void draw_check(Dc* d, int x, int y, uint32_t color) {
  // The 7 x 7 check mark drawn 3 pixels thick.
  static const int ys[7] = {2, 3, 4, 3, 2, 1, 0};
  for (int i = 0; i < 7; ++i) fill_rect(d, {x + i, y + ys[i], x + i + 1, y + ys[i] + 3}, color);
}

LRESULT CALLBACK popup_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = desk().window(h);
  if (msg == WM_ERASEBKGND) return 1;
  if (msg != WM_PAINT) return DefWindowProcA(h, msg, wp, lp);
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(h, &ps);
  Dc* d = desk().dc(hdc);
  Menu* m = desk().menu(reinterpret_cast<HMENU>(w->user_data));
  Rect r{0, 0, w->rect.width(), w->rect.height()};
  // A raised 3D frame around the items.
  fill_rect(d, r, to_pixel(sys_color(COLOR_MENU)));
  fill_rect(d, {0, 0, r.right - 1, 1}, to_pixel(sys_color(COLOR_3DLIGHT)));
  fill_rect(d, {0, 0, 1, r.bottom - 1}, to_pixel(sys_color(COLOR_3DLIGHT)));
  fill_rect(d, {1, 1, r.right - 2, 2}, to_pixel(sys_color(COLOR_BTNHIGHLIGHT)));
  fill_rect(d, {1, 1, 2, r.bottom - 2}, to_pixel(sys_color(COLOR_BTNHIGHLIGHT)));
  fill_rect(d, {0, r.bottom - 1, r.right, r.bottom}, to_pixel(sys_color(COLOR_3DDKSHADOW)));
  fill_rect(d, {r.right - 1, 0, r.right, r.bottom}, to_pixel(sys_color(COLOR_3DDKSHADOW)));
  fill_rect(d, {1, r.bottom - 2, r.right - 1, r.bottom - 1}, to_pixel(sys_color(COLOR_BTNSHADOW)));
  fill_rect(d, {r.right - 2, 1, r.right - 1, r.bottom - 1}, to_pixel(sys_color(COLOR_BTNSHADOW)));
  SelectObject(hdc, menu_font());
  SetBkMode(hdc, TRANSPARENT);
  TEXTMETRICA tm;
  GetTextMetricsA(hdc, &tm);
  if (m) {
    for (size_t i = 0; i < m->items.size(); ++i) {
      const MenuItem& it = m->items[i];
      Rect ir = it.rect.offset(-w->rect.left, -w->rect.top);
      if (it.flags & MF_SEPARATOR) {
        int y = ir.top + ir.height() / 2 - 1;
        fill_rect(d, {ir.left + 1, y, ir.right - 1, y + 1}, to_pixel(sys_color(COLOR_BTNSHADOW)));
        fill_rect(d, {ir.left + 1, y + 1, ir.right - 1, y + 2},
                  to_pixel(sys_color(COLOR_BTNHIGHLIGHT)));
        continue;
      }
      bool selected = static_cast<int>(i) == w->control_state;
      bool grey = it.flags & MF_GRAYED;
      if (selected) fill_rect(d, ir, to_pixel(sys_color(COLOR_HIGHLIGHT)));
      uint32_t fg = to_pixel(sys_color(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
      int ty = ir.top + (ir.height() - tm.tmHeight) / 2;
      if (it.flags & MF_CHECKED)
        draw_check(d, ir.left + 6, ir.top + (ir.height() - 5) / 2 - 1,
                   grey ? to_pixel(sys_color(COLOR_GRAYTEXT)) : fg);
      if (grey && !selected) {
        draw_disabled_text(d, ir.left + popup_text_left, ty, label_of(it.text), true);
      } else {
        SetTextColor(hdc, grey ? sys_color(COLOR_GRAYTEXT) : to_colorref(fg));
        draw_prefixed(d, ir.left + popup_text_left, ty, label_of(it.text), true);
      }
      if (it.flags & MF_POPUP) {
        int ax = ir.right - 10, ay = ir.top + ir.height() / 2;
        for (int k = 0; k < 4; ++k) fill_rect(d, {ax + k, ay - 3 + k, ax + k + 1, ay + 4 - k}, fg);
      }
    }
  }
  EndPaint(h, &ps);
  return 0;
}

}  // namespace

void draw_menu_bar(Window* w) {
  Menu* m = desk().menu(w->menu);
  FrameParts p = frame_parts(w);
  if (p.menu_bar.empty()) return;
  layout_bar(w);
  HDC hdc = make_window_dc(w, true, nullptr);
  Dc* d = desk().dc(hdc);
  int ox = w->rect.left, oy = w->rect.top;
  Rect bar = p.menu_bar.offset(-ox, -oy);
  fill_rect(d, bar, to_pixel(sys_color(COLOR_MENU)));
  fill_rect(d, {bar.left, bar.bottom, bar.right, bar.bottom + 1}, to_pixel(sys_color(COLOR_MENU)));
  SelectObject(hdc, menu_font());
  SetBkMode(hdc, TRANSPARENT);
  TEXTMETRICA tm;
  GetTextMetricsA(hdc, &tm);
  if (m) {
    for (size_t i = 0; i < m->items.size(); ++i) {
      const MenuItem& it = m->items[i];
      Rect ir = it.rect.offset(-ox, -oy);
      bool open = static_cast<int>(i) == w->control_state - 1;
      if (open) {
        // The open item looks pressed: a sunken 1-pixel edge.
        fill_rect(d, {ir.left, ir.top, ir.right, ir.top + 1}, to_pixel(sys_color(COLOR_BTNSHADOW)));
        fill_rect(d, {ir.left, ir.top, ir.left + 1, ir.bottom},
                  to_pixel(sys_color(COLOR_BTNSHADOW)));
        fill_rect(d, {ir.left, ir.bottom - 1, ir.right, ir.bottom},
                  to_pixel(sys_color(COLOR_BTNHIGHLIGHT)));
        fill_rect(d, {ir.right - 1, ir.top, ir.right, ir.bottom},
                  to_pixel(sys_color(COLOR_BTNHIGHLIGHT)));
      }
      int tx = ir.left + 8 + (open ? 1 : 0),
          ty = ir.top + (ir.height() - tm.tmHeight) / 2 + (open ? 1 : 0);
      if (it.flags & MF_GRAYED) {
        draw_disabled_text(d, tx, ty, label_of(it.text), true);
      } else {
        SetTextColor(hdc, sys_color(COLOR_MENUTEXT));
        draw_prefixed(d, tx, ty, label_of(it.text), true);
      }
    }
  }
  ReleaseDC(w->handle, hdc);
}

int menu_bar_hit(Window* w, int x, int y) {
  Menu* m = desk().menu(w->menu);
  if (!m) return -1;
  layout_bar(w);
  for (size_t i = 0; i < m->items.size(); ++i)
    if (m->items[i].rect.contains(x, y)) return static_cast<int>(i);
  return -1;
}

int menu_bar_mnemonic(Window* w, char c) {
  Menu* m = desk().menu(w->menu);
  if (!m) return -1;
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t i = 0; i < m->items.size(); ++i)
    if (mnemonic_of(m->items[i].text) == c) return static_cast<int>(i);
  return -1;
}

namespace {

WindowClass* popup_class() {
  if (WindowClass* c = find_class("#32768")) return c;
  WNDCLASSA wc{};
  wc.style = CS_SAVEBITS;
  wc.lpfnWndProc = popup_proc;
  wc.lpszClassName = "#32768";
  RegisterClassA(&wc);
  WindowClass* c = find_class("#32768");
  c->system = true;
  return c;
}

bool selectable(const MenuItem& it) {
  return !(it.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED));
}

}  // namespace

// The menu loop: a popup under the chosen bar item, moved and answered by
// input until an item is chosen or the menu is dismissed. It reads input
// directly, as the real menu loop does, so the program's loop waits.
bool track_menu_bar(Window* w, int index, bool keyboard) {
  Desk& d = desk();
  HWND owner = w->handle;
  Menu* bar = d.menu(w->menu);
  if (!bar || index < 0 || index >= static_cast<int>(bar->items.size())) return false;
  popup_class();
  send(w, WM_ENTERMENULOOP, FALSE, 0);
  send(w, WM_INITMENU, reinterpret_cast<WPARAM>(w->menu), 0);
  HWND popup = nullptr;
  int open = -1, selected = -1;
  UINT chosen = 0;
  bool done = false;
  auto close_popup = [&] {
    if (popup) DestroyWindow(popup);
    popup = nullptr;
  };
  auto open_item = [&](int i) {
    close_popup();
    open = i;
    selected = -1;
    Window* ow = d.window(owner);
    if (!ow) return;
    ow->control_state = i + 1;
    draw_menu_bar(ow);
    // Copies: the program may change the bar while it prepares the popup.
    const MenuItem bi = bar->items[i];
    if (!(bi.flags & MF_POPUP) || (bi.flags & MF_GRAYED)) return;
    send(ow, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(bi.popup), MAKELPARAM(i, FALSE));
    Menu* pm = d.menu(bi.popup);
    if (!pm || !d.window(owner)) return;
    Rect fr = layout_popup(pm, bi.rect.left, bi.rect.bottom + 1);
    popup = CreateWindowExA(WS_EX_TOPMOST, "#32768", "", WS_POPUP, fr.left, fr.top, fr.width(),
                            fr.height(), owner, nullptr, nullptr, nullptr);
    Window* pw = d.window(popup);
    pw->user_data = reinterpret_cast<LONG_PTR>(bi.popup);
    pw->control_state = -1;
    layout_popup(pm, fr.left, fr.top);
    SetWindowPos(popup, HWND_TOP, 0, 0, 0, 0,
                 SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOSIZE | SWP_NOMOVE);
    if (keyboard) {
      for (size_t k = 0; k < pm->items.size(); ++k)
        if (!(pm->items[k].flags & MF_SEPARATOR)) {
          selected = static_cast<int>(k);
          break;
        }
      pw->control_state = selected;
      invalidate(pw, nullptr, false, false);
    }
  };
  auto popup_menu = [&]() -> Menu* { return open >= 0 ? d.menu(bar->items[open].popup) : nullptr; };
  auto set_selected = [&](int s) {
    selected = s;
    if (Window* pw = d.window(popup)) {
      pw->control_state = s;
      invalidate(pw, nullptr, false, false);
    }
  };
  open_item(index);
  // Bounded: each input event is consumed; the input source ends the loop.
  for (int steps = 0; !done && steps < 100000; ++steps) {
    auto ev = wait_raw_input();
    if (!ev || !d.window(owner)) break;
    using K = InputEvent::Kind;
    Menu* pm = popup_menu();
    if (ev->kind == K::mouse_down || ev->kind == K::mouse_up) {
      int on_bar = menu_bar_hit(d.window(owner), ev->x, ev->y);
      int on_item = -1;
      if (pm)
        for (size_t k = 0; k < pm->items.size(); ++k)
          if (pm->items[k].rect.contains(ev->x, ev->y)) on_item = static_cast<int>(k);
      if (ev->kind == K::mouse_down) {
        if (on_bar >= 0 && on_bar != open)
          open_item(on_bar);
        else if (on_bar >= 0 && on_bar == open && steps > 0)
          done = true;
        else if (on_item >= 0)
          set_selected(on_item);
        else if (on_bar < 0)
          done = true;
      } else if (on_item >= 0 && selectable(pm->items[on_item]) &&
                 !(pm->items[on_item].flags & MF_POPUP)) {
        chosen = pm->items[on_item].id;
        done = true;
      }
    } else if (ev->kind == K::key_down) {
      int n = pm ? static_cast<int>(pm->items.size()) : 0;
      switch (ev->key) {
        case VK_ESCAPE:
        case VK_MENU:
          done = true;
          break;
        case VK_DOWN:
        case VK_UP:
          for (int k = 1; pm && k <= n; ++k) {
            int cand = ((selected < 0 ? (ev->key == VK_DOWN ? -1 : 0) : selected) +
                        (ev->key == VK_DOWN ? k : n - k) + n) %
                       n;
            // The keyboard highlights greyed items too; only separators are skipped.
            if (!(pm->items[cand].flags & MF_SEPARATOR)) {
              set_selected(cand);
              break;
            }
          }
          break;
        case VK_LEFT:
        case VK_RIGHT: {
          int nb = static_cast<int>(bar->items.size());
          keyboard = true;
          open_item((open + (ev->key == VK_RIGHT ? 1 : nb - 1)) % nb);
          break;
        }
        case VK_RETURN:
          if (pm && selected >= 0 && selectable(pm->items[selected])) {
            chosen = pm->items[selected].id;
            done = true;
          }
          break;
        default:
          if (pm && ev->key >= '0' && ev->key <= 'Z') {
            char c = static_cast<char>(std::tolower(ev->key));
            for (auto& it : pm->items)
              if (mnemonic_of(it.text) == c && selectable(it) && !(it.flags & MF_POPUP)) {
                chosen = it.id;
                done = true;
                break;
              }
          }
      }
    }
  }
  close_popup();
  if (Window* ow = d.window(owner)) {
    ow->control_state = 0;
    draw_menu_bar(ow);
    send(ow, WM_EXITMENULOOP, FALSE, 0);
    if (chosen) PostMessageA(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
  }
  return chosen != 0;
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" {

HMENU WINAPI CreateMenu(void) {
  return desk().add_menu(std::make_unique<Menu>());
}

HMENU WINAPI CreatePopupMenu(void) {
  auto m = std::make_unique<Menu>();
  m->popup = true;
  return desk().add_menu(std::move(m));
}

BOOL WINAPI DestroyMenu(HMENU h) {
  Menu* m = desk().menu(h);
  if (!m) return FALSE;
  std::vector<HMENU> subs;
  for (auto& it : m->items)
    if (it.flags & MF_POPUP) subs.push_back(it.popup);
  desk().remove_menu(h);
  for (HMENU s : subs) DestroyMenu(s);
  return TRUE;
}

HMENU WINAPI LoadMenuA(HINSTANCE inst, LPCSTR name) {
  const auto* data = find_resource(inst, 4, name);
  if (!data) return nullptr;
  auto items = parse_menu(data->data(), data->size());
  if (!items) return nullptr;
  return build_menu(*items, false);
}

HMENU WINAPI GetMenu(HWND h) {
  Window* w = desk().window(h);
  return w && !(w->style & WS_CHILD) ? w->menu : nullptr;
}

BOOL WINAPI SetMenu(HWND h, HMENU menu) {
  Window* w = desk().window(h);
  if (!w || (w->style & WS_CHILD)) return FALSE;
  w->menu = menu;
  move_window_to(w, w->rect, true);
  return TRUE;
}

HMENU WINAPI GetSubMenu(HMENU h, int pos) {
  Menu* m = desk().menu(h);
  if (!m || pos < 0 || pos >= static_cast<int>(m->items.size())) return nullptr;
  return (m->items[pos].flags & MF_POPUP) ? m->items[pos].popup : nullptr;
}

BOOL WINAPI AppendMenuA(HMENU h, UINT flags, UINT_PTR id, LPCSTR text) {
  Menu* m = desk().menu(h);
  if (!m) return FALSE;
  MenuItem it;
  it.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR | MF_POPUP |
                      MF_MENUBREAK | MF_MENUBARBREAK | MF_HELP);
  if (flags & MF_POPUP)
    it.popup = reinterpret_cast<HMENU>(id);
  else
    it.id = static_cast<UINT>(id);
  if (text && !(flags & MF_SEPARATOR)) it.text = text;
  if (!(flags & MF_SEPARATOR) && !text) it.flags |= MF_SEPARATOR;
  m->items.push_back(std::move(it));
  return TRUE;
}

DWORD WINAPI CheckMenuItem(HMENU h, UINT id, UINT check) {
  MenuItem* it = find_item(h, id, check);
  if (!it) return static_cast<DWORD>(-1);
  DWORD old = it->flags & MF_CHECKED;
  it->flags = (it->flags & ~MF_CHECKED) | (check & MF_CHECKED);
  return old;
}

BOOL WINAPI EnableMenuItem(HMENU h, UINT id, UINT enable) {
  MenuItem* it = find_item(h, id, enable);
  if (!it) return -1;
  BOOL old = static_cast<BOOL>(it->flags & (MF_GRAYED | MF_DISABLED));
  it->flags = (it->flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return old;
}

UINT WINAPI GetMenuState(HMENU h, UINT id, UINT flags) {
  MenuItem* it = find_item(h, id, flags);
  if (!it) return static_cast<UINT>(-1);
  UINT state = it->flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR | MF_POPUP);
  if (it->flags & MF_POPUP) {
    Menu* sub = desk().menu(it->popup);
    state = (state & 0xFF) | (sub ? static_cast<UINT>(sub->items.size()) << 8 : 0);
  }
  return state;
}

int WINAPI GetMenuItemCount(HMENU h) {
  Menu* m = desk().menu(h);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT WINAPI GetMenuItemID(HMENU h, int pos) {
  Menu* m = desk().menu(h);
  if (!m || pos < 0 || pos >= static_cast<int>(m->items.size())) return static_cast<UINT>(-1);
  return (m->items[pos].flags & MF_POPUP) ? static_cast<UINT>(-1) : m->items[pos].id;
}

int WINAPI GetMenuStringA(HMENU h, UINT id, LPSTR text, int max_count, UINT flags) {
  MenuItem* it = find_item(h, id, flags);
  if (!it) return 0;
  if (!text || max_count <= 0) return static_cast<int>(it->text.size());
  int n = std::min<int>(max_count - 1, static_cast<int>(it->text.size()));
  std::memcpy(text, it->text.data(), n);
  text[n] = 0;
  return n;
}

BOOL WINAPI DrawMenuBar(HWND h) {
  Window* w = desk().window(h);
  if (!w || !w->menu) return FALSE;
  if (is_visible_on_screen(w)) draw_menu_bar(w);
  return TRUE;
}

// A popup at (x, y), aligned as `flags` ask, answered by input as a menu
// bar's popup is. The choice is posted as WM_COMMAND, or returned with
// TPM_RETURNCMD (0 when dismissed).
BOOL WINAPI TrackPopupMenu(HMENU h, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  Desk& d = desk();
  Window* ow = d.window(owner);
  if (!d.menu(h) || !ow) return FALSE;
  popup_class();
  send(ow, WM_ENTERMENULOOP, TRUE, 0);
  send(ow, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), MAKELPARAM(0, FALSE));
  Menu* pm = d.menu(h);
  if (!pm || !d.window(owner)) return FALSE;
  Rect fr = layout_popup(pm, x, y);
  int dx = (flags & TPM_RIGHTALIGN) ? -fr.width() : (flags & TPM_CENTERALIGN) ? -fr.width() / 2 : 0;
  int dy = (flags & TPM_BOTTOMALIGN)    ? -fr.height()
           : (flags & TPM_VCENTERALIGN) ? -fr.height() / 2
                                        : 0;
  fr = layout_popup(pm, std::max(0, x + dx), std::max(0, y + dy));
  HWND popup = CreateWindowExA(WS_EX_TOPMOST, "#32768", "", WS_POPUP, fr.left, fr.top, fr.width(),
                               fr.height(), owner, nullptr, nullptr, nullptr);
  Window* pw = d.window(popup);
  pw->user_data = reinterpret_cast<LONG_PTR>(h);
  pw->control_state = -1;
  SetWindowPos(popup, HWND_TOP, 0, 0, 0, 0,
               SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOSIZE | SWP_NOMOVE);
  UINT chosen = 0;
  int selected = -1;
  auto select = [&](int s) {
    selected = s;
    if (Window* p = d.window(popup)) {
      p->control_state = s;
      invalidate(p, nullptr, false, false);
    }
  };
  // Bounded: each input event is consumed; the input source ends the loop.
  for (int steps = 0, done = 0; !done && steps < 100000; ++steps) {
    auto ev = wait_raw_input();
    pm = d.menu(h);
    if (!ev || !pm || !d.window(owner)) break;
    using K = InputEvent::Kind;
    int n = static_cast<int>(pm->items.size()), on_item = -1;
    for (int k = 0; k < n; ++k)
      if (pm->items[k].rect.contains(ev->x, ev->y)) on_item = k;
    bool pointer = ev->kind == K::mouse_down || ev->kind == K::mouse_up;
    if (pointer && on_item < 0) {
      done = ev->kind == K::mouse_down;  // a click elsewhere dismisses it
    } else if (ev->kind == K::mouse_down) {
      select(on_item);
    } else if (ev->kind == K::mouse_up) {
      if (selectable(pm->items[on_item]) && !(pm->items[on_item].flags & MF_POPUP))
        chosen = pm->items[on_item].id, done = 1;
    } else if (ev->kind == K::key_down) {
      if (ev->key == VK_ESCAPE || ev->key == VK_MENU) {
        done = 1;
      } else if ((ev->key == VK_DOWN || ev->key == VK_UP) && n > 0) {
        for (int k = 1; k <= n; ++k) {
          int from = selected < 0 ? (ev->key == VK_DOWN ? -1 : 0) : selected;
          int cand = (from + (ev->key == VK_DOWN ? k : n - k) + n) % n;
          if (!(pm->items[cand].flags & MF_SEPARATOR)) {
            select(cand);
            break;
          }
        }
      } else if (ev->key == VK_RETURN) {
        // Enter on a greyed item leaves the menu open, as on Windows.
        if (selected >= 0 && selected < n && selectable(pm->items[selected]) &&
            !(pm->items[selected].flags & MF_POPUP))
          chosen = pm->items[selected].id, done = 1;
      } else if (ev->key >= '0' && ev->key <= 'Z') {
        char c = static_cast<char>(std::tolower(ev->key));
        for (auto& it : pm->items)
          if (mnemonic_of(it.text) == c && selectable(it) && !(it.flags & MF_POPUP)) {
            chosen = it.id, done = 1;
            break;
          }
      }
    }
  }
  if (d.window(popup)) DestroyWindow(popup);
  if (d.window(owner)) {
    send(ow, WM_EXITMENULOOP, TRUE, 0);
    if (chosen && !(flags & (TPM_RETURNCMD | TPM_NONOTIFY)))
      PostMessageA(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
  }
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  return TRUE;
}

}  // extern "C"
