// The dialog keyboard: Enter presses the focused push button or else the
// default one, Escape answers Cancel, Tab moves the focus, mnemonics click.
#include <functional>
#include <string>

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

TEST_F(DialogKeyboardTest, MissingTemplateFailsWithMinusOne) {
  EXPECT_EQ(-1, DialogBoxParamA(instance_, "NoSuchDialog", nullptr, end_on_command, 0));
}

}  // namespace
