// The user32 message box for a program that has no windows: nothing has
// the focus, and a box is shown as one line on standard error,
// "[Caption] text", recorded for tests, and answered at once with its
// first button (IDOK for MB_OK and MB_OKCANCEL).
#pragma once

#include <string>
#include <vector>

#include "windows.h"

namespace qzr::nt::console {

struct MessageBoxRecord {
  HWND owner = nullptr;
  std::string caption;
  std::string text;
  UINT type = 0;
  int answer = 0;
};

// The boxes shown so far in this process, oldest first.
const std::vector<MessageBoxRecord>& message_boxes();
void clear_message_boxes();
// Whether boxes are also printed to standard error (on by default).
void set_message_box_echo(bool on);

}  // namespace qzr::nt::console
