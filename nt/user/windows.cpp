// Window classes and windows: creation with Windows' message order, the
// z-order, showing, moving, destruction children first, longs and text.
#include <algorithm>
#include <cstring>

#include "state.h"

namespace qzr::user {

namespace {

bool same_name(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

std::string atom_or_name(LPCSTR p) {
  if (IS_INTRESOURCE(p)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(p));
  return p;
}

void unlink(Window* w) {
  auto& list = w->parent ? w->parent->children : desk().top_level;
  list.erase(std::remove(list.begin(), list.end(), w), list.end());
}

// Top-level windows owned by w go above it: Windows keeps owned windows over
// their owner.
void insert_top(Window* w) {
  auto& list = w->parent ? w->parent->children : desk().top_level;
  list.insert(list.begin(), w);
}

// Children are kept in creation order with the first created on top, as a
// dialog's controls are.
void insert_child(Window* w) {
  w->parent->children.push_back(w);
}

void notify_parent(Window* w, UINT event) {
  if (!w->parent || (w->ex_style & WS_EX_NOPARENTNOTIFY)) return;
  send(w->parent, WM_PARENTNOTIFY, MAKEWPARAM(event, static_cast<WORD>(w->id)),
       reinterpret_cast<LPARAM>(w->handle));
}

// WM_DESTROY goes to a window before its children, all of them before any
// WM_NCDESTROY.
void send_destroy(Window* w) {
  HWND h = w->handle;
  w->destroying = true;
  if (desk().capture == w) desk().capture = nullptr;
  send(w, WM_DESTROY, 0, 0);
  Window* again = desk().window(h);
  if (!again) return;
  std::vector<HWND> kids;
  for (Window* c : again->children) kids.push_back(c->handle);
  for (HWND k : kids)
    if (Window* c = desk().window(k)) send_destroy(c);
}

// WM_NCDESTROY children first, then the window is gone.
void free_window(Window* w) {
  Desk& d = desk();
  HWND h = w->handle;
  // Bounded by the children present: a child created during WM_NCDESTROY
  // of a sibling is freed too, one unlinked per round.
  for (size_t round = 0; round < 100'000 && !w->children.empty(); ++round)
    free_window(w->children.front());
  if (d.focus == w) d.focus = nullptr;
  if (d.capture == w) d.capture = nullptr;
  if (d.active == w) d.active = nullptr;
  send(w, WM_NCDESTROY, 0, 0);
  unlink(w);
  if (w->menu && !(w->style & WS_CHILD)) DestroyMenu(w->menu);
  std::erase_if(d.posted, [&](const MSG& m) { return m.hwnd == h; });
  std::erase_if(d.input_msgs, [&](const MSG& m) { return m.hwnd == h; });
  kill_timers(h);
  d.remove_window(w);
}

}  // namespace

WindowClass* find_class(const char* name) {
  std::string key = atom_or_name(name);
  for (auto& c : desk().classes) {
    if (same_name(c->name, key.c_str()) || ("#" + std::to_string(c->atom)) == key) return c.get();
  }
  return nullptr;
}

Window* top_level_of(Window* w) {
  while (w && w->parent) w = w->parent;
  return w;
}

bool is_visible_on_screen(const Window* w) {
  for (; w; w = w->parent)
    if (!(w->style & WS_VISIBLE)) return false;
  return true;
}

bool is_enabled_chain(const Window* w) {
  for (; w; w = w->parent)
    if (w->style & WS_DISABLED) return false;
  return true;
}

namespace {
Window* deepest_at(Window* w, int x, int y) {
  for (Window* c : w->children) {
    if ((c->style & WS_VISIBLE) && c->rect.contains(x, y)) {
      if (c->style & WS_DISABLED)
        return w;  // a disabled control lets the click reach nothing but its parent
      return deepest_at(c, x, y);
    }
  }
  return w;
}
}  // namespace

Window* window_from_point(int x, int y) {
  for (Window* t : desk().top_level) {
    if ((t->style & WS_VISIBLE) && t->rect.contains(x, y)) {
      if (!t->client.contains(x, y)) return t;
      return deepest_at(t, x, y);
    }
  }
  return nullptr;
}

void set_focus(Window* w) {
  Desk& d = desk();
  if (d.focus == w) return;
  Window* old = d.focus;
  d.focus = w;
  if (old) send(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(w ? w->handle : nullptr), 0);
  if (w && d.focus == w)
    send(w, WM_SETFOCUS, reinterpret_cast<WPARAM>(old ? old->handle : nullptr), 0);
}

void set_active(Window* w) {
  Desk& d = desk();
  w = top_level_of(w);
  if (d.active == w) return;
  Window* old = d.active;
  d.active = w;
  if (old) {
    HWND oh = old->handle;
    send(old, WM_NCACTIVATE, FALSE, 0);
    if (d.window(oh))
      send(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(w ? w->handle : nullptr));
    // No window of the program is active any more.
    if (!w && d.window(oh)) send(old, WM_ACTIVATEAPP, FALSE, 0);
  }
  if (!w) return;
  // Activation brings the window to the top of its band.
  unlink(w);
  insert_top(w);
  if (!old) send(w, WM_ACTIVATEAPP, TRUE, 0);
  send(w, WM_NCACTIVATE, TRUE, 0);
  send(w, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old ? old->handle : nullptr));
}

// Where activation goes when `w` is hidden or destroyed: its owner, else
// the topmost other visible and enabled top-level window not owned by it.
Window* next_to_activate(Window* w) {
  auto usable = [&](Window* t) {
    return t && t != w && (t->style & WS_VISIBLE) && !(t->style & WS_DISABLED) && !t->destroying;
  };
  if (usable(w->owner)) return w->owner;
  if (w->owner) return nullptr;
  for (Window* t : desk().top_level)
    if (usable(t) && t->owner != w) return t;
  return nullptr;
}

// Marks whatever lies under `screen_area` for repainting: the parts of
// windows (and the desktop) that another window no longer covers.
void reveal(const Rect& area, const Window* except) {
  Desk& d = desk();
  // The desktop has no window of its own here: paint it at once.
  std::vector<Rect> bare{area.intersect({0, 0, d.screen.width, d.screen.height})};
  for (Window* t : d.top_level) {
    if (t == except || !(t->style & WS_VISIBLE)) continue;
    std::vector<Rect> next;
    for (auto& r : bare)
      for (auto& p : subtract(r, t->rect)) next.push_back(p);
    bare = std::move(next);
    Rect hit = t->rect.intersect(area);
    if (hit.empty()) continue;
    invalidate_frame(t);
    Rect c = hit.intersect(t->client).offset(-t->client.left, -t->client.top);
    if (!c.empty()) invalidate(t, &c, true, true);
  }
  uint32_t bg = to_pixel(sys_color(COLOR_BACKGROUND));
  for (auto& r : bare)
    for (int y = r.top; y < r.bottom; ++y)
      std::fill(d.screen.row(y) + r.left, d.screen.row(y) + r.right, bg);
}

namespace {
void move_children(Window* w, int dx, int dy) {
  for (Window* c : w->children) {
    c->rect = c->rect.offset(dx, dy);
    c->client = c->client.offset(dx, dy);
    move_children(c, dx, dy);
  }
}
}  // namespace

void move_window_to(Window* w, const Rect& r, bool repaint) {
  Rect old = w->rect;
  Rect old_client = w->client;
  w->rect = r;
  w->client = client_from_window(w, r);
  move_children(w, w->client.left - old_client.left, w->client.top - old_client.top);
  if (!is_visible_on_screen(w) || !repaint) return;
  if (w->parent) {
    Rect o = old.offset(-w->parent->client.left, -w->parent->client.top);
    invalidate(w->parent, &o, true, true);
  } else {
    reveal(old, w);
  }
  invalidate_frame(w);
  invalidate(w, nullptr, true, true);
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
  Desk& d = desk();
  if (find_class(wc->lpszClassName)) return 0;
  auto c = std::make_unique<WindowClass>();
  c->atom = static_cast<ATOM>(0xC000 + d.classes.size());
  c->name = atom_or_name(wc->lpszClassName);
  c->style = wc->style;
  c->proc = wc->lpfnWndProc;
  c->cls_extra = std::max(0, wc->cbClsExtra);
  c->wnd_extra = std::max(0, wc->cbWndExtra);
  c->extra.assign(c->cls_extra, 0);
  c->instance = wc->hInstance;
  c->icon = wc->hIcon;
  c->cursor = wc->hCursor;
  c->background = wc->hbrBackground;
  if (wc->lpszMenuName) c->menu_name = atom_or_name(wc->lpszMenuName);
  ATOM atom = c->atom;
  d.classes.push_back(std::move(c));
  return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE) {
  Desk& d = desk();
  WindowClass* c = find_class(name);
  if (!c || c->system) return FALSE;
  d.classes.erase(
      std::remove_if(d.classes.begin(), d.classes.end(), [&](auto& p) { return p.get() == c; }),
      d.classes.end());
  return TRUE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE, LPCSTR name, LPWNDCLASSA wc) {
  WindowClass* c = find_class(name);
  if (!c || !wc) return FALSE;
  *wc = WNDCLASSA{c->style, c->proc,   c->cls_extra,  c->wnd_extra, c->instance,
                  c->icon,  c->cursor, c->background, nullptr,      nullptr};
  return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent_handle, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
  Desk& d = desk();
  WindowClass* cls = find_class(class_name);
  if (!cls) return nullptr;
  Window* parent = d.window(parent_handle);
  if ((style & WS_CHILD) && !parent) return nullptr;

  auto owned = std::make_unique<Window>();
  Window* w = owned.get();
  w->cls = cls;
  w->style = style;
  w->ex_style = ex_style;
  // An overlapped window always gets a caption and clips its siblings,
  // whatever style it asked for (the creation record keeps the asked one).
  if (!(style & (WS_CHILD | WS_POPUP))) w->style |= WS_CAPTION | WS_CLIPSIBLINGS;
  if ((ex_style & WS_EX_DLGMODALFRAME) || (w->style & (WS_DLGFRAME | WS_THICKFRAME)))
    w->ex_style |= WS_EX_WINDOWEDGE;
  w->proc = cls->proc;
  w->instance = instance;
  w->extra.assign(cls->wnd_extra, 0);
  if (window_name) w->text = window_name;
  if (style & WS_CHILD) {
    w->parent = parent;
    w->id = reinterpret_cast<LONG_PTR>(menu);
  } else {
    w->owner = parent ? top_level_of(parent) : nullptr;
    w->menu = menu;
    if (!menu && !cls->menu_name.empty()) {
      const std::string& n = cls->menu_name;
      w->menu = n[0] == '#' ? LoadMenuA(cls->instance, MAKEINTRESOURCEA(std::stoi(n.substr(1))))
                            : LoadMenuA(cls->instance, n.c_str());
    }
  }
  // Overlapped windows placed by default land at a cascade position.
  if (!(style & (WS_CHILD | WS_POPUP))) {
    if (x == CW_USEDEFAULT) x = 20, y = 20;
    if (width == CW_USEDEFAULT) width = d.screen.width * 3 / 4, height = d.screen.height * 3 / 4;
  }
  int ox = parent && (style & WS_CHILD) ? parent->client.left : 0;
  int oy = parent && (style & WS_CHILD) ? parent->client.top : 0;
  w->rect = {ox + x, oy + y, ox + x + width, oy + y + height};
  HWND h = d.add_window(std::move(owned));

  CREATESTRUCTA cs{param,
                   instance,
                   menu,
                   parent_handle,
                   height,
                   width,
                   y,
                   x,
                   static_cast<LONG>(style),
                   window_name,
                   class_name,
                   ex_style};
  if (!(style & WS_CHILD)) {
    MINMAXINFO mmi{};
    mmi.ptMaxSize = {d.screen.width, d.screen.height};
    mmi.ptMaxTrackSize = mmi.ptMaxSize;
    send(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  }
  // Visibility is granted only after creation, by ShowWindow.
  DWORD wanted_visible = w->style & WS_VISIBLE;
  w->style &= ~WS_VISIBLE;
  if (!send(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    DestroyWindow(h);
    return nullptr;
  }
  w->client = client_from_window(w, w->rect);
  RECT nc = w->rect.to_win();
  send(w, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&nc));
  if (w->parent)
    insert_child(w);
  else
    d.top_level.push_back(w);  // below existing windows until shown
  if (send(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(h);
    return nullptr;
  }
  if (!d.window(h)) return nullptr;
  w->created = true;
  send(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->client.width(), w->client.height()));
  int rx = w->client.left - (w->parent ? w->parent->client.left : 0);
  int ry = w->client.top - (w->parent ? w->parent->client.top : 0);
  send(w, WM_MOVE, 0, MAKELPARAM(rx, ry));
  notify_parent(w, WM_CREATE);
  if (wanted_visible && d.window(h)) ShowWindow(h, SW_SHOW);
  return h;
}

BOOL WINAPI DestroyWindow(HWND h) {
  Desk& d = desk();
  Window* w = d.window(h);
  if (!w || w->destroying) return FALSE;
  w->destroying = true;
  if (w->style & WS_VISIBLE) {
    SetWindowPos(h, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!d.window(h)) return TRUE;
  // Windows it owns go first.
  std::vector<HWND> owned;
  for (Window* t : d.top_level)
    if (t->owner == w) owned.push_back(t->handle);
  for (HWND o : owned) DestroyWindow(o);
  // Only the window being destroyed tells its parent; children that go
  // with it do not.
  notify_parent(w, WM_DESTROY);
  if (!d.window(h)) return TRUE;
  send_destroy(w);
  if (!d.window(h)) return TRUE;
  if (d.active == w) {  // never shown, or shown again while being destroyed
    Window* next = next_to_activate(w);
    set_active(next);
    if (next && d.active == next) set_focus(next);
  }
  free_window(w);
  return TRUE;
}

BOOL WINAPI ShowWindow(HWND h, int cmd) {
  Window* w = desk().window(h);
  if (!w) return FALSE;
  bool was = (w->style & WS_VISIBLE) != 0;
  // WM_SHOWWINDOW comes from ShowWindow only, not from SetWindowPos.
  if (cmd == SW_HIDE) {
    if (was) {
      send(w, WM_SHOWWINDOW, FALSE, 0);
      if (desk().window(h))
        SetWindowPos(h, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER);
    }
    return was;
  }
  bool activate = !(w->style & WS_CHILD) && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE &&
                  cmd != SW_SHOWMINNOACTIVE;
  if (!was) {
    send(w, WM_SHOWWINDOW, TRUE, 0);
    if (!desk().window(h)) return FALSE;
    UINT flags = SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE;
    if (!activate) flags |= SWP_NOACTIVATE | SWP_NOZORDER;
    SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, flags);
  } else if (activate) {
    set_active(w);
  }
  return was;
}

BOOL WINAPI SetWindowPos(HWND h, HWND, int x, int y, int cx, int cy, UINT flags) {
  Desk& d = desk();
  Window* w = d.window(h);
  if (!w) return FALSE;
  WINDOWPOS pos{h, nullptr, w->rect.left, w->rect.top, w->rect.width(), w->rect.height(), flags};
  if (w->parent) pos.x -= w->parent->client.left, pos.y -= w->parent->client.top;
  if (!(flags & SWP_NOMOVE)) pos.x = x, pos.y = y;
  if (!(flags & SWP_NOSIZE)) pos.cx = cx, pos.cy = cy;
  send(w, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
  int ox = w->parent ? w->parent->client.left : 0, oy = w->parent ? w->parent->client.top : 0;
  Rect target{ox + pos.x, oy + pos.y, ox + pos.x + pos.cx, oy + pos.y + pos.cy};
  bool moved = target.left != w->rect.left || target.top != w->rect.top;
  bool sized = target.width() != w->rect.width() || target.height() != w->rect.height();
  if (flags & SWP_HIDEWINDOW) {
    w->style &= ~WS_VISIBLE;
    if (w->parent) {
      Rect o = w->rect.offset(-w->parent->client.left, -w->parent->client.top);
      invalidate(w->parent, &o, true, true);
    } else {
      reveal(w->rect, w);
    }
  }
  if (moved || sized) {
    move_window_to(w, target, !(flags & SWP_NOREDRAW));
    bool redraw_all = (w->cls->style & (CS_HREDRAW | CS_VREDRAW)) && sized;
    if (redraw_all) invalidate(w, nullptr, true, true);
  }
  if (flags & SWP_SHOWWINDOW) {
    w->style |= WS_VISIBLE;
    invalidate_frame(w);
    invalidate(w, nullptr, true, true);
    if (!w->parent && !(flags & SWP_NOZORDER)) {
      unlink(w);
      insert_top(w);
    }
    if (!w->parent && !(flags & SWP_NOACTIVATE)) {
      set_active(w);
      if (d.active == w && (!d.focus || top_level_of(d.focus) != w)) set_focus(w);
    }
    // Showing draws the frame and erases the background at once; the
    // client's WM_PAINT waits for UpdateWindow or the message loop.
    if (d.window(h) && w->frame_pending) send(w, WM_NCPAINT, 1, 0);
    if (d.window(h) && w->erase_pending && !w->parent) {
      HDC hdc = GetDC(h);
      if (send(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0)) w->erase_pending = false;
      ReleaseDC(h, hdc);
    }
  }
  if (!d.window(h)) return FALSE;
  send(w, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  if (!d.window(h)) return TRUE;
  // A hidden window gives up activation, then the focus, after it has been
  // told of its new place.
  if ((flags & SWP_HIDEWINDOW) && !(w->style & WS_VISIBLE)) {
    Window* next = nullptr;
    if (d.active == w) {
      next = next_to_activate(w);
      set_active(next);
    }
    if (d.focus && (d.focus == w || (!w->parent && top_level_of(d.focus) == w)))
      set_focus(next && d.active == next ? next : nullptr);
    if (!d.window(h)) return TRUE;
  }
  // DefWindowProc turns WM_WINDOWPOSCHANGED into these two.
  if (sized) send(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->client.width(), w->client.height()));
  if (moved) {
    int rx = w->client.left - (w->parent ? w->parent->client.left : 0);
    int ry = w->client.top - (w->parent ? w->parent->client.top : 0);
    send(w, WM_MOVE, 0, MAKELPARAM(rx, ry));
  }
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND h, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(h, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI UpdateWindow(HWND h) {
  Window* w = desk().window(h);
  if (!w) return FALSE;
  paint_now(w);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND h) {
  return desk().window(h) != nullptr;
}
BOOL WINAPI IsWindowVisible(HWND h) {
  Window* w = desk().window(h);
  return w && is_visible_on_screen(w);
}
BOOL WINAPI IsWindowEnabled(HWND h) {
  Window* w = desk().window(h);
  return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI EnableWindow(HWND h, BOOL enable) {
  Desk& d = desk();
  Window* w = d.window(h);
  if (!w) return FALSE;
  BOOL was_disabled = (w->style & WS_DISABLED) != 0;
  if (enable && was_disabled) {
    w->style &= ~WS_DISABLED;
    send(w, WM_ENABLE, TRUE, 0);
  } else if (!enable && !was_disabled) {
    w->style |= WS_DISABLED;
    if (d.focus && (d.focus == w)) set_focus(nullptr);
    send(w, WM_ENABLE, FALSE, 0);
  }
  // The window redraws itself on WM_ENABLE if its look depends on it.
  return was_disabled;
}

HWND WINAPI GetParent(HWND h) {
  Window* w = desk().window(h);
  if (!w) return nullptr;
  if (w->parent) return w->parent->handle;
  // Of top-level windows only popups name their owner; GW_OWNER gives any.
  return w->owner && (w->style & WS_POPUP) ? w->owner->handle : nullptr;
}

HWND WINAPI GetWindow(HWND h, UINT cmd) {
  Window* w = desk().window(h);
  if (!w) return nullptr;
  auto& list = w->parent ? w->parent->children : desk().top_level;
  auto it = std::find(list.begin(), list.end(), w);
  switch (cmd) {
    case GW_CHILD:
      return w->children.empty() ? nullptr : w->children.front()->handle;
    case GW_OWNER:
      return w->owner ? w->owner->handle : nullptr;
    case GW_HWNDFIRST:
      return list.front()->handle;
    case GW_HWNDLAST:
      return list.back()->handle;
    case GW_HWNDNEXT:
      return (it == list.end() || it + 1 == list.end()) ? nullptr : (*(it + 1))->handle;
    case GW_HWNDPREV:
      return (it == list.begin() || it == list.end()) ? nullptr : (*(it - 1))->handle;
  }
  return nullptr;
}

HWND WINAPI GetDesktopWindow(void) {
  return nullptr;
}
HWND WINAPI GetActiveWindow(void) {
  return desk().active ? desk().active->handle : nullptr;
}
HWND WINAPI GetForegroundWindow(void) {
  return GetActiveWindow();
}
HWND WINAPI SetActiveWindow(HWND h) {
  HWND old = GetActiveWindow();
  if (Window* w = desk().window(h)) set_active(w);
  return old;
}
BOOL WINAPI SetForegroundWindow(HWND h) {
  return SetActiveWindow(h) != nullptr || desk().window(h);
}
HWND WINAPI GetFocus(void) {
  return desk().focus ? desk().focus->handle : nullptr;
}
HWND WINAPI SetFocus(HWND h) {
  HWND old = GetFocus();
  Window* w = desk().window(h);
  if (h && (!w || (w->style & WS_DISABLED))) return nullptr;
  if (w && desk().active != top_level_of(w)) set_active(w);
  set_focus(w);
  return old;
}
HWND WINAPI GetCapture(void) {
  return desk().capture ? desk().capture->handle : nullptr;
}
HWND WINAPI SetCapture(HWND h) {
  HWND old = GetCapture();
  desk().capture = desk().window(h);
  return old;
}
BOOL WINAPI ReleaseCapture(void) {
  desk().capture = nullptr;
  return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR class_name, LPCSTR window_name) {
  for (Window* t : desk().top_level) {
    if (class_name && !same_name(t->cls->name, atom_or_name(class_name).c_str())) continue;
    if (window_name && t->text != window_name) continue;
    return t->handle;
  }
  return nullptr;
}

BOOL WINAPI GetClientRect(HWND h, LPRECT r) {
  Window* w = desk().window(h);
  if (!w || !r) return FALSE;
  *r = {0, 0, w->client.width(), w->client.height()};
  return TRUE;
}
BOOL WINAPI GetWindowRect(HWND h, LPRECT r) {
  Window* w = desk().window(h);
  if (!w || !r) return FALSE;
  *r = w->rect.to_win();
  return TRUE;
}
BOOL WINAPI ClientToScreen(HWND h, LPPOINT p) {
  Window* w = desk().window(h);
  if (!w || !p) return FALSE;
  p->x += w->client.left, p->y += w->client.top;
  return TRUE;
}
BOOL WINAPI ScreenToClient(HWND h, LPPOINT p) {
  Window* w = desk().window(h);
  if (!w || !p) return FALSE;
  p->x -= w->client.left, p->y -= w->client.top;
  return TRUE;
}
HWND WINAPI WindowFromPoint(POINT p) {
  Window* w = window_from_point(p.x, p.y);
  return w ? w->handle : nullptr;
}

BOOL WINAPI SetWindowTextA(HWND h, LPCSTR text) {
  Window* w = desk().window(h);
  if (!w) return FALSE;
  return static_cast<BOOL>(send(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")));
}
int WINAPI GetWindowTextA(HWND h, LPSTR text, int max_count) {
  Window* w = desk().window(h);
  if (!w || !text || max_count <= 0) return 0;
  return static_cast<int>(send(w, WM_GETTEXT, max_count, reinterpret_cast<LPARAM>(text)));
}
int WINAPI GetWindowTextLengthA(HWND h) {
  Window* w = desk().window(h);
  return w ? static_cast<int>(send(w, WM_GETTEXTLENGTH, 0, 0)) : 0;
}
int WINAPI GetClassNameA(HWND h, LPSTR name, int max_count) {
  Window* w = desk().window(h);
  if (!w || !name || max_count <= 0) return 0;
  int n = std::min<int>(max_count - 1, static_cast<int>(w->cls->name.size()));
  std::memcpy(name, w->cls->name.data(), n);
  name[n] = 0;
  return n;
}

int WINAPI GetDlgCtrlID(HWND h) {
  Window* w = desk().window(h);
  return w ? static_cast<int>(w->id) : 0;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND h, int index) {
  Window* w = desk().window(h);
  if (!w) return 0;
  if (index >= 0) {
    if (w->dialog && w->cls->name == "#32770") {
      if (index == DWLP_MSGRESULT) return w->dialog->msg_result;
      if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dialog->proc);
      if (index == DWLP_USER) return w->dialog->user;
    }
    if (static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) return 0;
    LONG_PTR v;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
  }
  switch (index) {
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
      // The parent of a child, the owner of any top-level window.
      return reinterpret_cast<LONG_PTR>(w->parent  ? w->parent->handle
                                        : w->owner ? w->owner->handle
                                                   : nullptr);
    case GWLP_ID:
      return w->id;
    case GWLP_USERDATA:
      return w->user_data;
    case GWL_STYLE:
      return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(w->ex_style);
  }
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND h, int index, LONG_PTR value) {
  Window* w = desk().window(h);
  if (!w) return 0;
  LONG_PTR old = GetWindowLongPtrA(h, index);
  if (index >= 0) {
    if (w->dialog && w->cls->name == "#32770") {
      if (index == DWLP_MSGRESULT) return w->dialog->msg_result = value, old;
      if (index == DWLP_DLGPROC) return w->dialog->proc = reinterpret_cast<DLGPROC>(value), old;
      if (index == DWLP_USER) return w->dialog->user = value, old;
    }
    if (static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) return 0;
    std::memcpy(w->extra.data() + index, &value, sizeof value);
    return old;
  }
  switch (index) {
    case GWLP_WNDPROC:
      w->proc = reinterpret_cast<WNDPROC>(value);
      break;
    case GWLP_HINSTANCE:
      w->instance = reinterpret_cast<HINSTANCE>(value);
      break;
    case GWLP_ID:
      w->id = value;
      break;
    case GWLP_USERDATA:
      w->user_data = value;
      break;
    case GWL_STYLE:
      w->style = static_cast<DWORD>(value);
      break;
    case GWL_EXSTYLE:
      w->ex_style = static_cast<DWORD>(value);
      break;
  }
  return old;
}

// The 32-bit forms read and write 4 bytes at the offset, as on Windows.
LONG WINAPI GetWindowLongA(HWND h, int index) {
  Window* w = desk().window(h);
  if (!w) return 0;
  if (index >= 0 && !w->dialog) {
    if (static_cast<size_t>(index) + 4 > w->extra.size()) return 0;
    LONG v;
    std::memcpy(&v, w->extra.data() + index, 4);
    return v;
  }
  return static_cast<LONG>(GetWindowLongPtrA(h, index));
}
LONG WINAPI SetWindowLongA(HWND h, int index, LONG value) {
  Window* w = desk().window(h);
  if (!w) return 0;
  if (index >= 0 && !w->dialog) {
    if (static_cast<size_t>(index) + 4 > w->extra.size()) return 0;
    LONG old;
    std::memcpy(&old, w->extra.data() + index, 4);
    std::memcpy(w->extra.data() + index, &value, 4);
    return old;
  }
  return static_cast<LONG>(SetWindowLongPtrA(h, index, value));
}
WORD WINAPI GetWindowWord(HWND h, int index) {
  Window* w = desk().window(h);
  if (!w || index < 0 || static_cast<size_t>(index) + 2 > w->extra.size()) return 0;
  WORD v;
  std::memcpy(&v, w->extra.data() + index, 2);
  return v;
}
WORD WINAPI SetWindowWord(HWND h, int index, WORD value) {
  Window* w = desk().window(h);
  if (!w || index < 0 || static_cast<size_t>(index) + 2 > w->extra.size()) return 0;
  WORD old;
  std::memcpy(&old, w->extra.data() + index, 2);
  std::memcpy(w->extra.data() + index, &value, 2);
  return old;
}

ULONG_PTR WINAPI GetClassLongPtrA(HWND h, int index) {
  Window* w = desk().window(h);
  if (!w) return 0;
  WindowClass* c = w->cls;
  if (index >= 0) {
    if (static_cast<size_t>(index) + sizeof(ULONG_PTR) > c->extra.size()) return 0;
    ULONG_PTR v;
    std::memcpy(&v, c->extra.data() + index, sizeof v);
    return v;
  }
  switch (index) {
    case GCLP_HBRBACKGROUND:
      return reinterpret_cast<ULONG_PTR>(c->background);
    case GCLP_HCURSOR:
      return reinterpret_cast<ULONG_PTR>(c->cursor);
    case GCLP_HICON:
      return reinterpret_cast<ULONG_PTR>(c->icon);
    case GCLP_WNDPROC:
      return reinterpret_cast<ULONG_PTR>(c->proc);
    case GCL_CBWNDEXTRA:
      return c->wnd_extra;
    case GCL_CBCLSEXTRA:
      return c->cls_extra;
    case GCL_STYLE:
      return c->style;
  }
  return 0;
}
DWORD WINAPI GetClassLongA(HWND h, int index) {
  return static_cast<DWORD>(GetClassLongPtrA(h, index));
}

int WINAPI GetSystemMetrics(int index) {
  Desk& d = desk();
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
      return d.screen.width;
    case SM_CYSCREEN:
      return d.screen.height;
    case SM_CYFULLSCREEN:
      return d.screen.height - 19;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return 16;
    case SM_CYCAPTION:
      return 19;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return 4;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return 32;
    case SM_CYMENU:
      return 19;
    case SM_CXSIZE:
    case SM_CYSIZE:
      return 18;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
      return 4;
    case SM_CXEDGE:
    case SM_CYEDGE:
      return 2;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
  }
  return 0;
}

DWORD WINAPI GetSysColor(int index) {
  return sys_color(index);
}

BOOL WINAPI AdjustWindowRectEx(LPRECT r, DWORD style, BOOL menu, DWORD ex_style) {
  if (!r) return FALSE;
  Window probe;
  WindowClass cls;
  probe.cls = &cls;
  probe.style = style;
  probe.ex_style = ex_style;
  probe.menu = menu ? reinterpret_cast<HMENU>(1) : nullptr;
  Rect big{0, 0, 1000, 1000};
  Rect c = client_from_window(&probe, big);
  r->left -= c.left, r->top -= c.top;
  r->right += big.right - c.right, r->bottom += big.bottom - c.bottom;
  return TRUE;
}
BOOL WINAPI AdjustWindowRect(LPRECT r, DWORD style, BOOL menu) {
  return AdjustWindowRectEx(r, style, menu, 0);
}

}  // extern "C"
