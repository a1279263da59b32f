#include "nt/console/console_user.h"

#include <cstdio>

namespace qzr::nt::console {

namespace {

std::vector<MessageBoxRecord>& records() {
  static std::vector<MessageBoxRecord> boxes;
  return boxes;
}
bool echo = true;

// The first button of each button set; with nobody to ask, it answers.
int first_button(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_ABORTRETRYIGNORE:
      return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO:
      return IDYES;
    case MB_RETRYCANCEL:
      return IDRETRY;
    default:
      return IDOK;
  }
}

}  // namespace

const std::vector<MessageBoxRecord>& message_boxes() {
  return records();
}

void clear_message_boxes() {
  records().clear();
}

void set_message_box_echo(bool on) {
  echo = on;
}

}  // namespace qzr::nt::console

extern "C" {

HWND WINAPI GetFocus(void) {
  return nullptr;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  using namespace qzr::nt::console;
  // A null caption is "Error", as Windows shows it.
  MessageBoxRecord box{owner, caption != nullptr ? caption : "Error", text != nullptr ? text : "",
                       type, first_button(type)};
  if (echo) std::fprintf(stderr, "[%s] %s\n", box.caption.c_str(), box.text.c_str());
  records().push_back(box);
  return box.answer;
}

}  // extern "C"
