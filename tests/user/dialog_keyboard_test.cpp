// The dialog keyboard: Enter presses the focused push button or else the
// default one, Escape answers Cancel, Tab moves the focus, mnemonics click.
#include <functional>
#include <string>

#include "state.h"
#include "user_fixture.h"
#include "winsample.h"

namespace {

INT_PTR CALLBACK end_on_command(HWND h, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND) {
    EndDialog(h, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

class DialogKeyboardTest : public UserTest {};

TEST_F(DialogKeyboardTest, KeysAnswerTheDialogAsWindowsDoes) {
  struct Case {
    const char* what;
    std::function<void(qzr::user::Script&)> keys;
    INT_PTR result;
  } cases[] = {
      {"Enter on the focused push button", [](auto& s) { s.press_key(VK_RETURN); }, IDC_DETAILS},
      {"Tab to OK, Enter", [](auto& s) { s.press_key(VK_TAB).press_key(VK_RETURN); }, IDOK},
      {"Escape", [](auto& s) { s.press_key(VK_ESCAPE); }, IDCANCEL},
      {"Alt+D", [](auto& s) { s.press_key('D', true); }, IDC_DETAILS},
      {"plain D", [](auto& s) { s.press_key('D'); }, IDC_DETAILS},
      {"Space on the focused button", [](auto& s) { s.press_key(VK_SPACE); }, IDC_DETAILS},
      {"no input: the session ends", [](auto&) {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    qzr::user::reset_machine();
    qzr::user::Script s;
    c.keys(s);
    qzr::user::play(&s);
    EXPECT_EQ(c.result, DialogBoxParamA(instance_, "AboutBox", nullptr, end_on_command, 0));
    EXPECT_EQ(nullptr, qzr::user::find_top_level("#32770", ""));
  }
}

std::string g_name;
int g_changes = 0;
INT_PTR CALLBACK name_proc(HWND h, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && LOWORD(wp) == IDC_NAME && HIWORD(wp) == EN_CHANGE) ++g_changes;
  if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    char text[64];
    GetDlgItemTextA(h, IDC_NAME, text, sizeof text);
    g_name = text;
    EndDialog(h, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

// An edit in a dialog takes the characters typed into it (they are not
// mnemonics there, only with Alt), edits at its caret, and comes back
// fully selected when tabbed to; Enter still answers the default button.
TEST_F(DialogKeyboardTest, EditTakesTypingAndLeavesEnterToTheDialog) {
  struct Case {
    const char* what;
    std::function<void(qzr::user::Script&)> keys;
    INT_PTR result;
    const char* text;
    int changes;
  } cases[] = {
      {"o is typed, not OK's mnemonic",
       [](auto& s) { s.press_key('O').press_key('K').press_key(VK_RETURN); }, IDOK, "ok", 2},
      {"Alt+O is the mnemonic", [](auto& s) { s.press_key('A').press_key('O', true); }, IDOK, "a",
       1},
      {"Backspace",
       [](auto& s) { s.press_key('A').press_key('B').press_key(VK_BACK).press_key(VK_RETURN); },
       IDOK, "a", 3},
      {"Left twice, Delete",
       [](auto& s) {
         s.press_key('A').press_key('B').press_key('C').press_key(VK_LEFT).press_key(VK_LEFT);
         s.press_key(VK_DELETE).press_key(VK_RETURN);
       },
       IDOK, "ac", 4},
      {"Tab round selects all, typing replaces it",
       [](auto& s) {
         s.press_key('A').press_key('B').press_key(VK_TAB).press_key(VK_TAB);
         s.press_key('C').press_key(VK_RETURN);
       },
       IDOK, "c", 3},
      {"Escape", [](auto& s) { s.press_key('A').press_key(VK_ESCAPE); }, IDCANCEL, "a", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    qzr::user::reset_machine();
    g_name.clear();
    g_changes = 0;
    qzr::user::Script s;
    c.keys(s);
    qzr::user::play(&s);
    EXPECT_EQ(c.result, DialogBoxParamA(instance_, "NameBox", nullptr, name_proc, 0));
    EXPECT_EQ(c.text, g_name);
    EXPECT_EQ(c.changes, g_changes);
  }
}

std::string g_picked;
int g_selchanges = 0;
INT_PTR CALLBACK pick_proc(HWND h, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) {
    for (const char* s : {"Disk", "Tape", "Scanner", "CD-ROM", "Optical", "Processor"})
      SendDlgItemMessageA(h, IDC_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    return TRUE;
  }
  if (msg != WM_COMMAND) return FALSE;
  if (LOWORD(wp) == IDC_LIST && HIWORD(wp) == LBN_SELCHANGE) ++g_selchanges;
  if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL ||
      (LOWORD(wp) == IDC_LIST && HIWORD(wp) == LBN_DBLCLK)) {
    LRESULT i = SendDlgItemMessageA(h, IDC_LIST, LB_GETCURSEL, 0, 0);
    char text[64] = "";
    if (i != LB_ERR)
      SendDlgItemMessageA(h, IDC_LIST, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    g_picked = text;
    EndDialog(h, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

// A list box in a dialog: arrows, Home/End and a first letter move the
// selection, each move told by LBN_SELCHANGE; a double click picks.
TEST_F(DialogKeyboardTest, ListBoxSelectsByKeysAndDoubleClick) {
  auto double_click_third = [](qzr::user::Script& s) {
    s.run([] {
      HWND dlg = qzr::user::find_top_level("#32770", "Pick");
      HWND list = GetDlgItem(dlg, IDC_LIST);
      HDC hdc = GetDC(list);
      SelectObject(hdc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
      TEXTMETRICA tm;
      GetTextMetricsA(hdc, &tm);
      ReleaseDC(list, hdc);
      RECT r = qzr::user::window_rect(list);
      int x = r.left + 20, y = r.top + 2 + 2 * tm.tmHeight + tm.tmHeight / 2;
      using K = qzr::user::InputEvent::Kind;
      auto& input = qzr::user::desk().input;
      uint32_t t = qzr::user::desk().time_ms + 100;
      for (uint32_t k : {0u, 150u}) {
        input.push_back({K::mouse_down, x, y, 0, false, t + k});
        input.push_back({K::mouse_up, x, y, 0, false, t + k + 50});
      }
    });
  };
  struct Case {
    const char* what;
    std::function<void(qzr::user::Script&)> input;
    INT_PTR result;
    const char* picked;
    int selchanges;
  } cases[] = {
      {"Down, Down, Enter",
       [](auto& s) { s.press_key(VK_DOWN).press_key(VK_DOWN).press_key(VK_RETURN); }, IDOK, "Tape",
       2},
      {"End, Up, Enter", [](auto& s) { s.press_key(VK_END).press_key(VK_UP).press_key(VK_RETURN); },
       IDOK, "Optical", 2},
      {"first letter", [](auto& s) { s.press_key('C').press_key(VK_RETURN); }, IDOK, "CD-ROM", 1},
      {"Home at the top changes nothing",
       [](auto& s) { s.press_key(VK_HOME).press_key(VK_HOME).press_key(VK_RETURN); }, IDOK, "Disk",
       1},
      {"nothing chosen", [](auto& s) { s.press_key(VK_ESCAPE); }, IDCANCEL, "", 0},
      {"double click", double_click_third, IDC_LIST, "Scanner", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    qzr::user::reset_machine();
    g_picked = "?";
    g_selchanges = 0;
    qzr::user::Script s;
    c.input(s);
    qzr::user::play(&s);
    EXPECT_EQ(c.result, DialogBoxParamA(instance_, "PickBox", nullptr, pick_proc, 0));
    EXPECT_EQ(c.picked, g_picked);
    EXPECT_EQ(c.selchanges, g_selchanges);
  }
}

// The list's contents by message: the selection follows its item through
// inserts and goes with it when it is deleted.
TEST_F(DialogKeyboardTest, ListBoxKeepsItsSelectionOnItsItem) {
  HWND parent = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                nullptr, nullptr);
  HWND list = CreateWindowExA(0, "ListBox", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 100, 100,
                              parent, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, list);
  auto send = [&](UINT m, WPARAM wp, const char* s = nullptr) {
    return SendMessageA(list, m, wp, reinterpret_cast<LPARAM>(s));
  };
  EXPECT_EQ(0, send(LB_ADDSTRING, 0, "beta"));
  EXPECT_EQ(1, send(LB_ADDSTRING, 0, "gamma"));
  EXPECT_EQ(1, send(LB_SETCURSEL, 1));
  EXPECT_EQ(0, send(LB_INSERTSTRING, 0, "alpha"));
  EXPECT_EQ(2, send(LB_GETCURSEL, 0));
  EXPECT_EQ(1, send(LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "BETA"));
  EXPECT_EQ(LB_ERR, send(LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "bet"));
  EXPECT_EQ(5, send(LB_GETTEXTLEN, 2));
  EXPECT_EQ(2, send(LB_DELETESTRING, 2));
  EXPECT_EQ(LB_ERR, send(LB_GETCURSEL, 0));
  EXPECT_EQ(LB_ERR, send(LB_DELETESTRING, 7));
  EXPECT_EQ(2, send(LB_GETCOUNT, 0));
  send(LB_RESETCONTENT, 0);
  EXPECT_EQ(0, send(LB_GETCOUNT, 0));
}

int g_manual_clicks = 0;
INT_PTR CALLBACK choice_proc(HWND h, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) {
    CheckDlgButton(h, IDC_FAST, BST_CHECKED);
    return TRUE;
  }
  if (msg == WM_COMMAND && LOWORD(wp) == IDC_MANUAL) ++g_manual_clicks;
  if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    EndDialog(h, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

// Automatic check boxes toggle and automatic radio buttons take the check
// from their group before the parent hears of the click; plain ones leave
// it to the program. The mark is drawn in the box.
TEST_F(DialogKeyboardTest, CheckBoxesAndRadioButtonsKeepTheirState) {
  struct Case {
    const char* what;
    std::function<void(qzr::user::Script&)> input;
    bool verbose, fast, slow, manual;
    int manual_clicks;
  } cases[] = {
      {"nothing", [](auto&) {}, false, true, false, false, 0},
      {"click Verbose", [](auto& s) { s.click_button("Verbose"); }, true, true, false, false, 0},
      {"click Verbose twice", [](auto& s) { s.click_button("Verbose").click_button("Verbose"); },
       false, true, false, false, 0},
      {"click Slow", [](auto& s) { s.click_button("Slow"); }, false, false, true, false, 0},
      {"Alt+S", [](auto& s) { s.press_key('S', true); }, false, false, true, false, 0},
      {"Alt+V, Space", [](auto& s) { s.press_key('V', true).press_key(VK_SPACE); }, false, true,
       false, false, 0},
      {"click Manual", [](auto& s) { s.click_button("Manual"); }, false, true, false, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    qzr::user::reset_machine();
    g_manual_clicks = 0;
    qzr::user::Script s;
    c.input(s);
    bool seen[4] = {};
    COLORREF mark = 0;
    s.run([&] {
      HWND dlg = qzr::user::find_top_level("#32770", "Choice");
      int ids[4] = {IDC_VERBOSE, IDC_FAST, IDC_SLOW, IDC_MANUAL};
      for (int i = 0; i < 4; ++i) seen[i] = qzr::user::is_checked(GetDlgItem(dlg, ids[i]));
      RECT r = qzr::user::window_rect(GetDlgItem(dlg, IDC_VERBOSE));
      qzr::user::run_until_idle();
      mark = at(r.left + 6, r.top + (r.bottom - r.top - 13) / 2 + 7);
    });
    s.press_key(VK_ESCAPE);
    qzr::user::play(&s);
    EXPECT_EQ(IDCANCEL, DialogBoxParamA(instance_, "ChoiceBox", nullptr, choice_proc, 0));
    EXPECT_EQ(c.verbose, seen[0]);
    EXPECT_EQ(c.fast, seen[1]);
    EXPECT_EQ(c.slow, seen[2]);
    EXPECT_EQ(c.manual, seen[3]);
    EXPECT_EQ(c.manual_clicks, g_manual_clicks);
    EXPECT_EQ(c.verbose ? RGB(0, 0, 0) : RGB(255, 255, 255), mark);
  }
}

TEST_F(DialogKeyboardTest, MissingTemplateFailsWithMinusOne) {
  EXPECT_EQ(-1, DialogBoxParamA(instance_, "NoSuchDialog", nullptr, end_on_command, 0));
}

}  // namespace
