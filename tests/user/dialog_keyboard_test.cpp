// The dialog keyboard: Enter presses the focused push button or else the
// default one, Escape answers Cancel, Tab moves the focus, mnemonics click.
#include <functional>

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

TEST_F(DialogKeyboardTest, MissingTemplateFailsWithMinusOne) {
  EXPECT_EQ(-1, DialogBoxParamA(instance_, "NoSuchDialog", nullptr, end_on_command, 0));
}

}  // namespace
