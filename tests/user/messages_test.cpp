// The order of messages around creation, showing, painting, closing and
// destruction, and sent against posted messages.
#include <array>
#include <string>
#include <vector>

#include "state.h"
#include "user_fixture.h"

namespace {

struct Logged {
  HWND hwnd;
  UINT msg;
};
std::vector<Logged> g_log;
LRESULT g_send_result = 0;

LRESULT CALLBACK recording_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  g_log.push_back({h, msg});
  if (msg == WM_USER + 1) return g_send_result;
  if (msg == WM_DESTROY && GetParent(h) == nullptr) PostQuitMessage(7);
  return DefWindowProcA(h, msg, wp, lp);
}

class MessagesTest : public UserTest {
 protected:
  void SetUp() override {
    UserTest::SetUp();
    g_log.clear();
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = recording_proc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "Recorder";
    ASSERT_NE(0, RegisterClassA(&wc));
  }

  std::vector<UINT> take(HWND only = nullptr) {
    std::vector<UINT> out;
    for (const auto& l : g_log)
      if (!only || l.hwnd == only) out.push_back(l.msg);
    g_log.clear();
    return out;
  }

  HWND main_window(DWORD style = WS_OVERLAPPEDWINDOW) {
    return CreateWindowExA(0, "Recorder", "main", style, 10, 10, 300, 200, nullptr, nullptr,
                           instance_, nullptr);
  }
};

TEST_F(MessagesTest, CreationShowingAndPaintingComeInWindowsOrder) {
  HWND h = main_window();
  EXPECT_EQ((std::vector<UINT>{WM_GETMINMAXINFO, WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE,
                               WM_MOVE}),
            take());
  ShowWindow(h, SW_SHOWNORMAL);
  EXPECT_EQ(
      (std::vector<UINT>{WM_SHOWWINDOW, WM_WINDOWPOSCHANGING, WM_ACTIVATEAPP, WM_NCACTIVATE,
                         WM_ACTIVATE, WM_SETFOCUS, WM_NCPAINT, WM_ERASEBKGND, WM_WINDOWPOSCHANGED}),
      take());
  UpdateWindow(h);
  EXPECT_EQ((std::vector<UINT>{WM_PAINT}), take());
  UpdateWindow(h);  // nothing left to paint
  EXPECT_TRUE(take().empty());
  // Closing hides the window, gives up activation and focus, then destroys.
  SendMessageA(h, WM_CLOSE, 0, 0);
  EXPECT_EQ(
      (std::vector<UINT>{WM_CLOSE, WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_NCACTIVATE,
                         WM_ACTIVATE, WM_ACTIVATEAPP, WM_KILLFOCUS, WM_DESTROY, WM_NCDESTROY}),
      take());
  EXPECT_EQ(nullptr, GetActiveWindow());
  EXPECT_EQ(nullptr, GetFocus());
}

TEST_F(MessagesTest, ChildCreationNotifiesTheParentAfterTheChildIsReady) {
  HWND parent = main_window();
  take();
  HWND child = CreateWindowExA(0, "Recorder", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, parent,
                               reinterpret_cast<HMENU>(5), instance_, nullptr);
  ASSERT_NE(nullptr, child);
  std::vector<std::pair<bool, UINT>> seen;
  for (const auto& l : g_log) seen.push_back({l.hwnd == parent, l.msg});
  g_log.clear();
  std::vector<std::pair<bool, UINT>> want = {{false, WM_NCCREATE},
                                             {false, WM_NCCALCSIZE},
                                             {false, WM_CREATE},
                                             {false, WM_SIZE},
                                             {false, WM_MOVE},
                                             {true, WM_PARENTNOTIFY},
                                             {false, WM_SHOWWINDOW},
                                             {false, WM_WINDOWPOSCHANGING},
                                             {false, WM_WINDOWPOSCHANGED}};
  EXPECT_EQ(want, seen);
  EXPECT_EQ(5, GetDlgCtrlID(child));
}

// Every WM_DESTROY, parent first, comes before any WM_NCDESTROY, children
// first; children that go with their parent send it no WM_PARENTNOTIFY,
// a child destroyed alone does.
TEST_F(MessagesTest, CloseDestroysParentFirstAndFinishesChildrenFirst) {
  HWND parent = main_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  auto child = [&](int id) {
    return CreateWindowExA(0, "Recorder", "", WS_CHILD | WS_VISIBLE, 0, 0, 5, 5, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), instance_, nullptr);
  };
  HWND first = child(1), second = child(2), alone = child(3);
  auto seen = [&] {
    std::vector<std::pair<HWND, UINT>> out;
    for (const auto& l : g_log)
      if (l.msg == WM_DESTROY || l.msg == WM_NCDESTROY || l.msg == WM_CLOSE ||
          l.msg == WM_PARENTNOTIFY)
        out.push_back({l.hwnd, l.msg});
    g_log.clear();
    return out;
  };
  using Seen = std::vector<std::pair<HWND, UINT>>;
  take();
  DestroyWindow(alone);
  EXPECT_EQ((Seen{{parent, WM_PARENTNOTIFY}, {alone, WM_DESTROY}, {alone, WM_NCDESTROY}}), seen());
  SendMessageA(parent, WM_CLOSE, 0, 0);
  EXPECT_EQ((Seen{{parent, WM_CLOSE},
                  {parent, WM_DESTROY},
                  {first, WM_DESTROY},
                  {second, WM_DESTROY},
                  {first, WM_NCDESTROY},
                  {second, WM_NCDESTROY},
                  {parent, WM_NCDESTROY}}),
            seen());
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_FALSE(IsWindow(second));
  MSG m;
  EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(7u, m.wParam);
}

// Windows gives every overlapped window a caption, so the installer's
// WS_DLGFRAME-only window has a title bar above its client area.
TEST_F(MessagesTest, OverlappedWindowsAlwaysHaveACaption) {
  struct Case {
    const char* what;
    DWORD style;
    bool caption;
    int client_height;  // of a 200-pixel-high window
  } cases[] = {
      {"overlapped with a dialog frame", WS_DLGFRAME, true, 200 - 2 * 3 - 19},
      {"overlapped with nothing", 0, true, 200 - 2 * 3 - 19},
      {"popup with a dialog frame", WS_POPUP | WS_DLGFRAME, false, 200 - 2 * 3},
      {"plain popup", WS_POPUP, false, 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HWND h = main_window(c.style);
    ASSERT_NE(nullptr, h);
    DWORD style = static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE));
    EXPECT_EQ(c.caption, (style & WS_CAPTION) == WS_CAPTION);
    EXPECT_EQ(!(c.style & WS_POPUP), (style & WS_CLIPSIBLINGS) != 0);
    RECT rc;
    GetClientRect(h, &rc);
    EXPECT_EQ(c.client_height, rc.bottom);
    DestroyWindow(h);
  }
}

TEST_F(MessagesTest, GetParentNamesTheParentOrAPopupsOwner) {
  HWND main = main_window();
  struct Case {
    const char* what;
    DWORD style;
    bool parent_is_main;
  } cases[] = {{"child", WS_CHILD, true},
               {"owned popup", WS_POPUP, true},
               {"owned overlapped window", WS_OVERLAPPED, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HWND h = CreateWindowExA(0, "Recorder", "", c.style, 0, 0, 10, 10, main, nullptr, instance_,
                             nullptr);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(c.parent_is_main ? main : nullptr, GetParent(h));
    EXPECT_EQ((c.style & WS_CHILD) ? nullptr : main, GetWindow(h, GW_OWNER));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(main), GetWindowLongPtrA(h, GWLP_HWNDPARENT));
  }
}

TEST_F(MessagesTest, SendIsImmediatePostWaitsForTheLoopInOrder) {
  HWND h = main_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  take();
  g_send_result = 42;
  EXPECT_EQ(42, SendMessageA(h, WM_USER + 1, 0, 0));
  EXPECT_EQ((std::vector<UINT>{WM_USER + 1}), take());
  PostMessageA(h, WM_USER + 2, 0, 0);
  PostMessageA(h, WM_USER + 3, 0, 0);
  EXPECT_TRUE(take().empty());
  PostQuitMessage(0);
  // Posted messages in order; the quit flag is looked at once none is left,
  // before paints are made up, so the pending paint never comes.
  std::vector<UINT> order;
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0)) {
    order.push_back(m.message);
    DispatchMessageA(&m);
  }
  EXPECT_EQ((std::vector<UINT>{WM_USER + 2, WM_USER + 3}), order);
}

std::vector<std::pair<UINT_PTR, DWORD>> g_timer_calls;
void CALLBACK timer_proc(HWND, UINT, UINT_PTR id, DWORD time) {
  g_timer_calls.push_back({id, time});
}

// Timers run on message time: each falls due its period after it was set
// or last delivered, after posted messages and paints, before input that
// arrives later; a window-less timer with a procedure calls it instead.
TEST_F(MessagesTest, TimersFallDueOnMessageTimeAfterEverythingElse) {
  HWND h = main_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  take();
  g_timer_calls.clear();
  DWORD t0 = static_cast<DWORD>(GetMessageTime());
  EXPECT_EQ(5u, SetTimer(h, 5, 100, nullptr));
  UINT_PTR thread_timer = SetTimer(nullptr, 0, 250, timer_proc);
  EXPECT_NE(0u, thread_timer);
  EXPECT_EQ(0u, SetTimer(reinterpret_cast<HWND>(0x4321), 1, 100, nullptr));
  PostMessageA(h, WM_USER + 2, 0, 0);
  qzr::user::Script script;
  script.wait(350).run([&] {
    EXPECT_TRUE(KillTimer(h, 5));
    EXPECT_FALSE(KillTimer(h, 5));
  });
  script.wait(500);
  qzr::user::play(&script);
  std::vector<std::pair<UINT, DWORD>> seen;
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0)) {
    if (m.message == WM_TIMER || m.message == WM_PAINT || m.message == WM_USER + 2)
      seen.push_back({m.message, m.time - t0});
    DispatchMessageA(&m);
  }
  EXPECT_EQ((std::vector<std::pair<UINT, DWORD>>{{WM_USER + 2, 0},
                                                 {WM_PAINT, 0},
                                                 {WM_TIMER, 100},
                                                 {WM_TIMER, 200},
                                                 {WM_TIMER, 250},
                                                 {WM_TIMER, 300},
                                                 {WM_TIMER, 500},
                                                 {WM_TIMER, 750}}),
            seen);
  // The window-less timer's messages went to its procedure, not the window.
  EXPECT_EQ((std::vector<std::pair<UINT_PTR, DWORD>>{
                {thread_timer, t0 + 250}, {thread_timer, t0 + 500}, {thread_timer, t0 + 750}}),
            g_timer_calls);
  std::vector<UINT> window_timers;
  for (const auto& l : g_log)
    if (l.msg == WM_TIMER) window_timers.push_back(l.msg);
  EXPECT_EQ(3u, window_timers.size());
  // A destroyed window's timers go with it.
  EXPECT_EQ(9u, SetTimer(h, 9, 10, nullptr));
  DestroyWindow(h);
  EXPECT_FALSE(KillTimer(h, 9));
}

// A message range passes input over without losing it or its order.
TEST_F(MessagesTest, FilteredRetrievalLeavesOtherInputQueued) {
  HWND h = main_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  UpdateWindow(h);
  take();
  using K = qzr::user::InputEvent::Kind;
  auto& input = qzr::user::desk().input;
  input.push_back({K::key_down, 0, 0, 'A', false, 10});
  input.push_back({K::key_up, 0, 0, 'A', false, 20});
  PostMessageA(h, WM_USER + 5, 0, 0);
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_KEYUP, WM_KEYUP, PM_NOREMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_KEYUP), m.message);
  std::vector<UINT> order;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) order.push_back(m.message);
  EXPECT_EQ((std::vector<UINT>{WM_USER + 5, WM_KEYDOWN, WM_KEYUP}), order);
}

TEST_F(MessagesTest, InvalidationsMergeIntoOnePaint) {
  HWND h = main_window(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  UpdateWindow(h);
  RECT a{10, 10, 20, 20}, b{50, 5, 60, 15};
  InvalidateRect(h, &a, FALSE);
  InvalidateRect(h, &b, FALSE);
  RECT u;
  ASSERT_TRUE(GetUpdateRect(h, &u, FALSE));
  EXPECT_EQ((std::array<LONG, 4>{10, 5, 60, 20}),
            (std::array<LONG, 4>{u.left, u.top, u.right, u.bottom}));
  take();
  qzr::user::run_until_idle();
  EXPECT_EQ((std::vector<UINT>{WM_PAINT}), take(h));
  EXPECT_FALSE(GetUpdateRect(h, &u, FALSE));
}

// Double clicks only for classes that ask for them.
TEST_F(MessagesTest, DoubleClicksNeedTheClassStyle) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = recording_proc;
  wc.lpszClassName = "PlainRecorder";
  RegisterClassA(&wc);
  struct Case {
    const char* cls;
    UINT second;
  } cases[] = {{"Recorder", WM_LBUTTONDBLCLK}, {"PlainRecorder", WM_LBUTTONDOWN}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cls);
    qzr::user::reset_machine();
    RegisterClassA(&wc);
    WNDCLASSA dbl{};
    dbl.style = CS_DBLCLKS;
    dbl.lpfnWndProc = recording_proc;
    dbl.lpszClassName = "Recorder";
    RegisterClassA(&dbl);
    HWND h = CreateWindowExA(0, c.cls, "", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                             nullptr, nullptr);
    qzr::user::run_until_idle();
    qzr::user::Script s;
    s.double_click(50, 50);
    qzr::user::play(&s);
    take();
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0)) DispatchMessageA(&m);
    std::vector<UINT> mouse;
    for (const auto& l : g_log)
      if (l.hwnd == h && l.msg >= WM_LBUTTONDOWN && l.msg <= WM_LBUTTONDBLCLK)
        mouse.push_back(l.msg);
    EXPECT_EQ((std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP, c.second, WM_LBUTTONUP}), mouse);
    g_log.clear();
  }
}

// Moving without sizing, as a dialog centres itself, reports a move only.
TEST_F(MessagesTest, SetWindowPosReportsOnlyWhatChanged) {
  HWND h = main_window(WS_POPUP | WS_CAPTION | WS_VISIBLE);
  take();
  struct Case {
    int x, y, cx, cy;
    UINT flags;
    std::vector<UINT> want;
  } cases[] = {
      {100,
       50,
       0,
       0,
       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE,
       {WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_MOVE}},
      {0,
       0,
       120,
       80,
       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE,
       {WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_SIZE}},
      {100,
       50,
       120,
       80,
       SWP_NOZORDER | SWP_NOACTIVATE,
       {WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED}},
  };
  for (const auto& c : cases) {
    SetWindowPos(h, nullptr, c.x, c.y, c.cx, c.cy, c.flags);
    EXPECT_EQ(c.want, take(h));
  }
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ((std::array<LONG, 4>{100, 50, 220, 130}),
            (std::array<LONG, 4>{r.left, r.top, r.right, r.bottom}));
}

TEST_F(MessagesTest, WindowAndClassExtraBytes) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.cbWndExtra = 2 * sizeof(LONG_PTR);
  wc.lpszClassName = "Extra";
  RegisterClassA(&wc);
  HWND h =
      CreateWindowExA(0, "Extra", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(0, GetWindowLongPtrA(h, 0));
  SetWindowLongPtrA(h, sizeof(LONG_PTR), 0x1234);
  EXPECT_EQ(0x1234, GetWindowLongPtrA(h, sizeof(LONG_PTR)));
  EXPECT_EQ(0, GetWindowLongPtrA(h, 0));
  // Past the end reads nothing and writes nothing.
  EXPECT_EQ(0, SetWindowLongPtrA(h, 2 * sizeof(LONG_PTR), 5));
  EXPECT_EQ(0, GetWindowLongPtrA(h, 2 * sizeof(LONG_PTR)));
  SetWindowLongPtrA(h, GWLP_USERDATA, 99);
  EXPECT_EQ(99, GetWindowLongPtrA(h, GWLP_USERDATA));
  EXPECT_EQ(static_cast<LONG>(WS_POPUP), GetWindowLongA(h, GWL_STYLE));
}

}  // namespace
