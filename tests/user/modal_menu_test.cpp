// Menus and modal loops through the sample program: states from the
// template, tracking with mouse and keys, and nested modal loops.
#include <functional>

#include "state.h"
#include "user_fixture.h"
#include "winsample.h"

namespace {

using qzr::user::Script;

class SampleTest : public SampleProgramTest {
 protected:
  static UINT state(UINT id) {
    return qzr::user::menu_item_state(main(), id) & (MF_CHECKED | MF_GRAYED | MF_DISABLED);
  }
};

TEST_F(SampleTest, MenuItemStatesAndChangesByCommand) {
  Script s;
  std::vector<UINT> seen;
  s.run([&] {
    HMENU m = GetMenu(main());
    seen.push_back(state(IDM_CHECKED));
    seen.push_back(state(IDM_GREYED));
    EXPECT_EQ(static_cast<DWORD>(MF_CHECKED), CheckMenuItem(m, IDM_CHECKED, MF_UNCHECKED));
    EXPECT_EQ(static_cast<BOOL>(MF_GRAYED), EnableMenuItem(m, IDM_GREYED, MF_ENABLED));
    seen.push_back(state(IDM_CHECKED));
    seen.push_back(state(IDM_GREYED));
    EnableMenuItem(m, IDM_ABOUT, MF_GRAYED | MF_DISABLED);
    seen.push_back(state(IDM_ABOUT));
    EXPECT_EQ(static_cast<DWORD>(-1), CheckMenuItem(m, 9999, MF_CHECKED));
  });
  run(s);
  EXPECT_EQ((std::vector<UINT>{MF_CHECKED, MF_GRAYED, 0, 0, MF_GRAYED | MF_DISABLED}), seen);
}

// Tracking: the mouse on an enabled item sends its command; a greyed item
// sends nothing; the keyboard opens with Alt and a mnemonic.
TEST_F(SampleTest, TrackingChoosesEnabledItemsOnly) {
  struct Case {
    const char* what;
    std::function<void(Script&)> input;
    UINT checked_after;
  } cases[] = {
      {"mouse on Checked", [](Script& s) { s.choose_menu("Options", "Checked"); }, 0},
      {"mouse on Greyed", [](Script& s) { s.choose_menu("Options", "Greyed"); }, MF_CHECKED},
      {"keys Alt+O, C", [](Script& s) { s.press_key('O', true).press_key('C'); }, 0},
      {"keys Alt+O, Escape", [](Script& s) { s.press_key('O', true).press_key(VK_ESCAPE); },
       MF_CHECKED},
      {"keys Alt+O, Down, Enter",
       [](Script& s) { s.press_key('O', true).press_key(VK_DOWN).press_key(VK_RETURN); },
       MF_CHECKED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    qzr::user::reset_machine();
    Script s;
    c.input(s);
    UINT after = 99;
    s.run([&] { after = state(IDM_CHECKED); });
    run(s);
    EXPECT_EQ(c.checked_after, after);
  }
}

// A context menu: keys and the mouse choose as in a bar's popup; the
// choice is posted, or returned with TPM_RETURNCMD and then not posted.
TEST_F(SampleTest, TrackPopupMenuChoosesByKeysAndMouse) {
  // The first item lies 3 pixels inside the popup's frame, 17 pixels high.
  auto click_first_item = [](Script& s) {
    s.run([] {
      RECT r = qzr::user::window_rect(qzr::user::find_top_level("#32768", ""));
      auto& input = qzr::user::desk().input;
      using K = qzr::user::InputEvent::Kind;
      uint32_t t = qzr::user::desk().time_ms + 100;
      input.push_back({K::mouse_down, r.left + 20, r.top + 3 + 8, 0, false, t});
      input.push_back({K::mouse_up, r.left + 20, r.top + 3 + 8, 0, false, t + 50});
    });
  };
  struct Case {
    const char* what;
    std::function<void(Script&)> input;
    UINT flags;
    BOOL want_return;
    UINT want_posted;
  } cases[] = {
      {"Down, Enter", [](Script& s) { s.press_key(VK_DOWN).press_key(VK_RETURN); }, 0, TRUE, 101},
      {"Down, Enter, return", [](Script& s) { s.press_key(VK_DOWN).press_key(VK_RETURN); },
       TPM_RETURNCMD, 101, 0},
      {"Escape", [](Script& s) { s.press_key(VK_ESCAPE); }, TPM_RETURNCMD, 0, 0},
      {"mnemonic", [](Script& s) { s.press_key('B'); }, TPM_RETURNCMD, 103, 0},
      {"Enter on greyed does nothing",
       [](Script& s) {
         s.press_key(VK_DOWN).press_key(VK_DOWN).press_key(VK_RETURN).press_key(VK_ESCAPE);
       },
       TPM_RETURNCMD, 0, 0},
      {"Up wraps past the separator", [](Script& s) { s.press_key(VK_UP).press_key(VK_RETURN); },
       TPM_RETURNCMD, 103, 0},
      {"mouse", click_first_item, 0, TRUE, 101},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    qzr::user::reset_machine();
    HWND owner = CreateWindowExA(0, "Static", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300,
                                 nullptr, nullptr, nullptr, nullptr);
    HMENU m = CreatePopupMenu();
    AppendMenuA(m, MF_STRING, 101, "&Alpha");
    AppendMenuA(m, MF_STRING | MF_GRAYED, 102, "&Greyed");
    AppendMenuA(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(m, MF_STRING, 103, "&Beta");
    Script s;
    c.input(s);
    qzr::user::play(&s);
    EXPECT_EQ(c.want_return, TrackPopupMenu(m, c.flags, 100, 50, 0, owner, nullptr));
    EXPECT_EQ(nullptr, qzr::user::find_top_level("#32768", ""));
    MSG msg{};
    BOOL posted = PeekMessageA(&msg, owner, WM_COMMAND, WM_COMMAND, PM_REMOVE);
    EXPECT_EQ(c.want_posted, posted ? LOWORD(msg.wParam) : 0u);
    for (const auto& f : s.failures()) ADD_FAILURE() << f;
    DestroyMenu(m);
  }
}

// A message box over a modal dialog over the main window: each level
// disables the one below and gives it back when it ends.
TEST_F(SampleTest, NestedModalLoopsDisableAndRestoreTheirOwners) {
  Script s;
  HWND about = nullptr, box = nullptr;
  s.choose_menu("File", "About...");
  s.run([&] {
    about = qzr::user::find_top_level("#32770", "About Sample");
    ASSERT_NE(nullptr, about);
    EXPECT_EQ(about, GetActiveWindow());
    EXPECT_FALSE(IsWindowEnabled(main()));
    EXPECT_EQ(main(), GetParent(about));
  });
  s.click_button("Details");
  s.run([&] {
    box = qzr::user::find_top_level("#32770", "Sample");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(box, GetActiveWindow());
    EXPECT_FALSE(IsWindowEnabled(about));
    EXPECT_FALSE(IsWindowEnabled(main()));
    EXPECT_NE(nullptr, qzr::user::find_child(box, "Static", "The details could not be read."));
  });
  s.press_key(VK_RETURN);  // the box's default button
  s.run([&] {
    EXPECT_FALSE(IsWindow(box));
    EXPECT_TRUE(IsWindowEnabled(about));
    EXPECT_EQ(about, GetActiveWindow());
  });
  s.press_key(VK_ESCAPE);  // the dialog's Cancel
  s.run([&] {
    EXPECT_FALSE(IsWindow(about));
    EXPECT_TRUE(IsWindowEnabled(main()));
    EXPECT_EQ(main(), GetActiveWindow());
  });
  s.choose_menu("File", "Exit");
  EXPECT_EQ(0, run(s));
  EXPECT_EQ(nullptr, main());
}

TEST_F(SampleTest, CloseBoxOfADialogAnswersCancel) {
  Script s;
  s.choose_menu("File", "About...");
  s.run([&] {
    HWND about = GetActiveWindow();
    RECT r;
    GetWindowRect(about, &r);
    // The close box sits 2 pixels in from the caption's right end.
    int x = r.right - 3 - 2 - 8, y = r.top + 3 + 2 + 7;
    qzr::user::desk().input.push_back(
        {qzr::user::InputEvent::Kind::mouse_down, x, y, 0, false, 100000});
    qzr::user::desk().input.push_back(
        {qzr::user::InputEvent::Kind::mouse_up, x, y, 0, false, 100050});
  });
  s.run([&] { EXPECT_EQ(nullptr, qzr::user::find_top_level("#32770", "About Sample")); });
  run(s);
}

TEST_F(SampleTest, VersionFollowsTheMachineSetting) {
  struct Case {
    int platform;
    DWORD major;
  } cases[] = {
      {VER_PLATFORM_WIN32_NT, 4}, {VER_PLATFORM_WIN32_WINDOWS, 4}, {VER_PLATFORM_WIN32s, 3}};
  for (const auto& c : cases) {
    qzr::user::reset_machine({800, 600, c.platform});
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(static_cast<DWORD>(c.platform), v.dwPlatformId);
    EXPECT_EQ(c.major, v.dwMajorVersion);
  }
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&v));
}

}  // namespace
