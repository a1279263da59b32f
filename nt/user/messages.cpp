// The thread's message queue: sent and posted messages, update regions and
// WM_PAINT, input turned into mouse and keyboard messages, modal loops.
#include <algorithm>

#include "state.h"

namespace qzr::user {

LRESULT send(Window* w, UINT msg, WPARAM wp, LPARAM lp) {
  if (!w || !w->proc) return 0;
  return w->proc(w->handle, msg, wp, lp);
}

void invalidate_frame(Window* w) {
  if (w->rect != w->client) w->frame_pending = true;
}

void invalidate(Window* w, const Rect* area, bool erase, bool children) {
  Rect whole{0, 0, w->client.width(), w->client.height()};
  Rect r = area ? area->intersect(whole) : whole;
  if (r.empty()) return;
  w->update = w->needs_paint ? w->update.unite(r) : r;
  w->needs_paint = true;
  if (erase) w->erase_pending = true;
  // Without WS_CLIPCHILDREN the parent's painting covers its children.
  if (!children && (w->style & WS_CLIPCHILDREN)) return;
  // A parent without WS_CLIPCHILDREN paints over its children, so they
  // repaint what it covered.
  for (Window* c : w->children) {
    if (!(c->style & WS_VISIBLE)) continue;
    Rect cr = r.offset(w->client.left - c->client.left, w->client.top - c->client.top);
    Rect in_window = r.offset(w->client.left, w->client.top).intersect(c->rect);
    if (in_window.empty()) continue;
    invalidate_frame(c);
    invalidate(c, &cr, erase, true);
  }
}

namespace {
Window* find_paint(Window* w) {
  if (!(w->style & WS_VISIBLE)) return nullptr;
  if (w->needs_paint || w->frame_pending) return w;
  for (Window* c : w->children)
    if (Window* p = find_paint(c)) return p;
  return nullptr;
}
}  // namespace

Window* next_to_paint() {
  auto& tops = desk().top_level;
  // Bottom window first, so that what lies above is drawn last.
  for (auto it = tops.rbegin(); it != tops.rend(); ++it)
    if (Window* p = find_paint(*it)) return p;
  return nullptr;
}

void paint_now(Window* w) {
  HWND h = w->handle;
  if (w->frame_pending && !w->needs_paint) send(w, WM_NCPAINT, 1, 0);
  if (desk().window(h) && w->needs_paint) send(w, WM_PAINT, 0, 0);
  // UpdateWindow paints the children too.
  if (!desk().window(h)) return;
  std::vector<HWND> kids;
  for (Window* c : w->children) kids.push_back(c->handle);
  for (HWND k : kids)
    if (Window* c = desk().window(k); c && (c->style & WS_VISIBLE)) paint_now(c);
}

namespace {

bool filter_ok(const MSG& m, HWND filter, UINT first, UINT last) {
  if (filter && m.hwnd != filter) {
    // A filter window also takes its children's messages.
    Window* w = desk().window(m.hwnd);
    bool child = false;
    for (Window* p = w ? w->parent : nullptr; p; p = p->parent)
      if (p->handle == filter) child = true;
    if (!child) return false;
  }
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

MSG make_msg(Window* w, UINT message, WPARAM wp, LPARAM lp) {
  Desk& d = desk();
  return MSG{w ? w->handle : nullptr, message, wp, lp, d.time_ms, d.cursor_pos};
}

// Turns one raw input event into the message the thread will see, or acts
// on it directly (non-client clicks). Returns the message when there is one.
std::optional<MSG> translate_input(const InputEvent& ev) {
  Desk& d = desk();
  d.time_ms = std::max(d.time_ms, ev.time_ms);
  using K = InputEvent::Kind;
  if (ev.kind == K::tick) return std::nullopt;
  if (ev.kind == K::key_down || ev.kind == K::key_up || ev.kind == K::character) {
    Window* target = d.focus ? d.focus : d.active;
    if (!target) return std::nullopt;
    UINT m = ev.kind == K::character  ? (ev.alt ? WM_SYSCHAR : WM_CHAR)
             : ev.kind == K::key_down ? (ev.alt ? WM_SYSKEYDOWN : WM_KEYDOWN)
                                      : (ev.alt ? WM_SYSKEYUP : WM_KEYUP);
    LPARAM lp = 1 | (ev.alt ? (1 << 29) : 0) | (ev.kind == K::key_up ? (3u << 30) : 0);
    return make_msg(target, m, static_cast<WPARAM>(ev.key), lp);
  }
  d.cursor_pos = {ev.x, ev.y};
  Window* target = d.capture ? d.capture : window_from_point(ev.x, ev.y);
  if (!target) return std::nullopt;
  Window* top = top_level_of(target);
  // Input to a window disabled by a modal dialog goes nowhere.
  if (!d.capture && !is_enabled_chain(target)) return std::nullopt;
  int hit = d.capture ? HTCLIENT
                      : static_cast<int>(send(target, WM_NCHITTEST, 0, MAKELPARAM(ev.x, ev.y)));
  if (ev.kind == K::mouse_move) {
    if (hit != HTCLIENT) return std::nullopt;
    POINT p{ev.x - target->client.left, ev.y - target->client.top};
    return make_msg(target, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
  }
  if (ev.kind == K::mouse_down && d.active != top) {
    set_active(top);
    if (!d.focus || top_level_of(d.focus) != top) set_focus(top);
  }
  if (hit != HTCLIENT) {
    if (ev.kind == K::mouse_down)
      return make_msg(target, WM_NCLBUTTONDOWN, hit, MAKELPARAM(ev.x, ev.y));
    return std::nullopt;
  }
  POINT p{ev.x - target->client.left, ev.y - target->client.top};
  LPARAM lp = MAKELPARAM(p.x, p.y);
  if (ev.kind == K::mouse_up) return make_msg(target, WM_LBUTTONUP, 0, lp);
  UINT msg = WM_LBUTTONDOWN;
  const MSG& last = d.last_down;
  if (d.last_down_valid && last.hwnd == target->handle && (target->cls->style & CS_DBLCLKS) &&
      d.time_ms - last.time <= 500 && std::abs(last.pt.x - ev.x) <= 2 &&
      std::abs(last.pt.y - ev.y) <= 2) {
    msg = WM_LBUTTONDBLCLK;
    d.last_down_valid = false;
  } else {
    d.last_down = make_msg(target, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    d.last_down_valid = true;
  }
  return make_msg(target, msg, MK_LBUTTON, lp);
}

Timer* earliest_timer() {
  Timer* best = nullptr;
  for (Timer& t : desk().timers)
    if (!best || t.due_ms < best->due_ms) best = &t;
  return best;
}

MSG timer_message(const Timer& t) {
  Desk& d = desk();
  return MSG{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), d.time_ms, d.cursor_pos};
}

// One step of waiting: feed a message from the idle hook or report that
// nothing more will come.
bool wait_for_something() {
  Desk& d = desk();
  if (d.present) d.present();
  return d.idle && d.idle();
}

// The queue's own order: posted messages, then input, then quit, then paint.
// The runtime's safe point, when the program runs on a machine (weak: the
// runtime may not be linked in).
extern "C" __attribute__((weak)) int nt_runtime_safe_point(void);

bool take_message(MSG* out, HWND filter, UINT first, UINT last, bool remove, bool allow_wait) {
  Desk& d = desk();
  // A bound on waiting rounds: every round either delivers or asks the idle
  // hook, which ends the session when it has nothing more to give.
  for (int round = 0; round < 1'000'000; ++round) {
    // The machine went down (InitiateSystemShutdownA): the program quits.
    if (!d.quit_posted && nt_runtime_safe_point && nt_runtime_safe_point()) {
      d.quit_posted = true;
      d.quit_code = 0;
    }
    for (auto it = d.posted.begin(); it != d.posted.end(); ++it) {
      if (!filter_ok(*it, filter, first, last)) continue;
      *out = *it;
      if (remove) d.posted.erase(it);
      return true;
    }
    // Input still on its way waits for a timer that falls due before it
    // arrives: the clock moves to the timer, which is delivered below.
    bool timer_first = false;
    if (!d.input.empty() && d.input.front().time_ms > d.time_ms) {
      Timer* t = earliest_timer();
      if (t && t->due_ms < d.input.front().time_ms &&
          filter_ok(timer_message(*t), filter, first, last)) {
        d.time_ms = std::max(d.time_ms, t->due_ms);
        timer_first = true;
      }
    }
    for (auto it = d.input_msgs.begin(); it != d.input_msgs.end(); ++it) {
      if (!filter_ok(*it, filter, first, last)) continue;
      *out = *it;
      if (remove) d.input_msgs.erase(it);
      return true;
    }
    while (!timer_first && !d.input.empty()) {
      InputEvent ev = d.input.front();
      d.input.pop_front();
      if (auto m = translate_input(ev)) {
        if (!filter_ok(*m, filter, first, last)) {
          d.input_msgs.push_back(*m);
          continue;
        }
        *out = *m;
        if (!remove) d.input_msgs.push_back(*m);
        return true;
      }
    }
    if (d.quit_posted && (first == 0 || (WM_QUIT >= first && WM_QUIT <= last))) {
      *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(d.quit_code), 0, d.time_ms, d.cursor_pos};
      if (remove) d.quit_posted = false;
      return true;
    }
    if (Window* p = next_to_paint()) {
      if (!p->needs_paint) {
        // Only the frame is stale: draw it without troubling the program.
        send(p, WM_NCPAINT, 1, 0);
        continue;
      }
      MSG m = make_msg(p, WM_PAINT, 0, 0);
      if (filter_ok(m, filter, first, last)) {
        *out = m;
        return true;
      }
    }
    // Timers come last, and only once nothing else is waiting; a timer
    // that fell due several times is delivered once.
    if (Timer* t = earliest_timer(); t && t->due_ms <= d.time_ms) {
      MSG m = timer_message(*t);
      if (filter_ok(m, filter, first, last)) {
        if (remove) t->due_ms = d.time_ms + t->elapse_ms;
        *out = m;
        return true;
      }
    }
    if (!allow_wait) return false;
    if (!wait_for_something()) {
      // No input will ever come again (headless, script done): end the
      // session the way logging off does, by a quit message.
      d.quit_posted = true;
      d.quit_code = 0;
    }
  }
  return false;
}

}  // namespace

bool pump_one(HWND dialog_filter) {
  MSG m;
  if (!take_message(&m, nullptr, 0, 0, true, false)) return false;
  if (m.message == WM_QUIT) {
    desk().quit_posted = true;
    desk().quit_code = static_cast<int>(m.wParam);
    return false;
  }
  Window* dlg = desk().window(dialog_filter);
  if (dlg && dialog_keyboard(dlg, m)) return true;
  TranslateMessage(&m);
  DispatchMessageA(&m);
  return true;
}

void run_until_idle() {
  for (int i = 0; i < 100'000 && pump_one(nullptr); ++i) {
  }
}

std::optional<InputEvent> wait_raw_input() {
  Desk& d = desk();
  for (int round = 0; round < 100'000; ++round) {
    if (!d.input.empty()) {
      InputEvent ev = d.input.front();
      d.input.pop_front();
      d.time_ms = std::max(d.time_ms, ev.time_ms);
      if (ev.kind == InputEvent::Kind::tick) continue;
      if (ev.kind != InputEvent::Kind::character) d.cursor_pos = {ev.x, ev.y};
      return ev;
    }
    // Paint what is stale (the popup, the windows under it) before waiting.
    bool painted = false;
    for (int i = 0; i < 1000; ++i) {
      Window* p = next_to_paint();
      if (!p) break;
      paint_now(p);
      painted = true;
    }
    if (painted) continue;
    if (d.quit_posted || !wait_for_something()) return std::nullopt;
  }
  return std::nullopt;
}

void kill_timers(HWND window) {
  std::erase_if(desk().timers, [&](const Timer& t) { return t.hwnd == window; });
}

void run_modal_loop(Window* dialog) {
  Desk& d = desk();
  HWND h = dialog->handle;
  ++d.modal_depth;
  for (;;) {
    Window* w = d.window(h);
    if (!w || !w->dialog || w->dialog->ended) break;
    MSG m;
    if (!take_message(&m, nullptr, 0, 0, true, true)) break;
    if (m.message == WM_QUIT) {
      // A quit inside a modal loop ends the dialog and is passed on to the
      // loop outside.
      d.quit_posted = true;
      d.quit_code = static_cast<int>(m.wParam);
      break;
    }
    if (dialog_keyboard(w, m)) continue;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  --d.modal_depth;
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" {

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last) {
  if (!msg) return FALSE;
  if (!take_message(msg, hwnd, first, last, true, true)) {
    *msg = MSG{nullptr, WM_QUIT, 0, 0, desk().time_ms, desk().cursor_pos};
  }
  return msg->message != WM_QUIT;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last, UINT remove) {
  if (!msg) return FALSE;
  return take_message(msg, hwnd, first, last, (remove & PM_REMOVE) != 0, false);
}

BOOL WINAPI WaitMessage(void) {
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* m) {
  if (!m || (m->message != WM_KEYDOWN && m->message != WM_SYSKEYDOWN)) return FALSE;
  int vk = static_cast<int>(m->wParam);
  int ch = 0;
  if (vk >= 'A' && vk <= 'Z')
    ch = vk - 'A' + 'a';
  else if ((vk >= '0' && vk <= '9') || vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE ||
           vk == VK_BACK || vk == VK_TAB)
    ch = vk;
  if (!ch) return FALSE;
  UINT cm = m->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
  desk().posted.push_front(MSG{m->hwnd, cm, static_cast<WPARAM>(ch), m->lParam, m->time, m->pt});
  return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* m) {
  if (!m) return 0;
  if (m->message == WM_TIMER && m->lParam) {
    // A timer with its own procedure: it is called instead of the window's.
    reinterpret_cast<TIMERPROC>(m->lParam)(m->hwnd, WM_TIMER, m->wParam, m->time);
    return 0;
  }
  Window* w = desk().window(m->hwnd);
  if (!w) return 0;
  if (m->message == WM_PAINT) {
    HWND h = w->handle;
    LRESULT r = send(w, WM_PAINT, 0, 0);
    // A window procedure that never validates would be asked again forever.
    if (Window* again = desk().window(h); again && again->needs_paint && !again->in_paint) {
      again->needs_paint = false;
      again->erase_pending = false;
    }
    return r;
  }
  return send(w, m->message, m->wParam, m->lParam);
}

BOOL WINAPI PostMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Desk& d = desk();
  if (h && !d.window(h)) return FALSE;
  d.posted.push_back(MSG{h, msg, wp, lp, d.time_ms, d.cursor_pos});
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = desk().window(h);
  if (!w) return 0;
  return send(w, msg, wp, lp);
}

void WINAPI PostQuitMessage(int code) {
  desk().quit_posted = true;
  desk().quit_code = code;
}

DWORD WINAPI GetMessagePos(void) {
  return MAKELONG(desk().cursor_pos.x, desk().cursor_pos.y);
}
LONG WINAPI GetMessageTime(void) {
  return static_cast<LONG>(desk().time_ms);
}
UINT_PTR WINAPI SetTimer(HWND h, UINT_PTR id, UINT elapse_ms, TIMERPROC proc) {
  Desk& d = desk();
  if (h && !d.window(h)) return 0;
  elapse_ms = std::max<UINT>(elapse_ms, USER_TIMER_MINIMUM);
  // A window's timer is known by its id; setting it again restarts it. A
  // thread's timer gets an id of the system's choosing unless it names one
  // it already has.
  if (!h) {
    bool known = false;
    for (const Timer& t : d.timers) known = known || (!t.hwnd && t.id == id && id);
    if (!known) id = d.next_thread_timer++;
  }
  std::erase_if(d.timers, [&](const Timer& t) { return t.hwnd == h && t.id == id; });
  d.timers.push_back(Timer{h, id, elapse_ms, d.time_ms + elapse_ms, proc});
  return h ? (id ? id : 1) : id;
}
BOOL WINAPI KillTimer(HWND h, UINT_PTR id) {
  size_t n =
      std::erase_if(desk().timers, [&](const Timer& t) { return t.hwnd == h && t.id == id; });
  return n ? TRUE : FALSE;
}
BOOL WINAPI MessageBeep(UINT) {
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND h, const RECT* r, BOOL erase) {
  Desk& d = desk();
  if (!h) {
    for (Window* t : d.top_level) InvalidateRect(t->handle, nullptr, erase);
    return TRUE;
  }
  Window* w = d.window(h);
  if (!w) return FALSE;
  if (r) {
    Rect rr = Rect::from(*r);
    invalidate(w, &rr, erase != 0, !(w->style & WS_CLIPCHILDREN));
  } else {
    invalidate(w, nullptr, erase != 0, !(w->style & WS_CLIPCHILDREN));
  }
  return TRUE;
}

BOOL WINAPI ValidateRect(HWND h, const RECT*) {
  Window* w = desk().window(h);
  if (!w) return FALSE;
  w->needs_paint = false;
  w->erase_pending = false;
  w->update = {};
  return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND h, LPRECT r, BOOL) {
  Window* w = desk().window(h);
  if (!w) return FALSE;
  if (r) *r = w->needs_paint ? w->update.to_win() : RECT{0, 0, 0, 0};
  return w->needs_paint;
}

HDC WINAPI BeginPaint(HWND h, LPPAINTSTRUCT ps) {
  Window* w = desk().window(h);
  if (!w || !ps) return nullptr;
  // BeginPaint also works with nothing invalid: the clip is then empty.
  Rect area = w->needs_paint ? w->update : Rect{};
  bool erase = w->erase_pending;
  w->needs_paint = false;
  w->erase_pending = false;
  w->update = {};
  w->in_paint = true;
  if (w->frame_pending) send(w, WM_NCPAINT, 1, 0);
  HDC hdc = make_window_dc(w, false, &area);
  desk().dc(hdc)->from_paint = true;
  *ps = PAINTSTRUCT{};
  ps->hdc = hdc;
  ps->rcPaint = area.to_win();
  ps->fErase = FALSE;
  if (erase) ps->fErase = send(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) ? FALSE : TRUE;
  return hdc;
}

BOOL WINAPI EndPaint(HWND h, const PAINTSTRUCT* ps) {
  if (Window* w = desk().window(h)) w->in_paint = false;
  if (ps) ReleaseDC(h, ps->hdc);
  return TRUE;
}

}  // extern "C"
