// The system's window classes: dialogs and the controls.
#include "state.h"

namespace qzr::user {

namespace {
LRESULT CALLBACK dialog_class_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return DefDlgProcA(h, msg, wp, lp);
}

void add(const char* name, WNDPROC proc, UINT style, HBRUSH background, HCURSOR cursor) {
  WNDCLASSA wc{};
  wc.style = style;
  wc.lpfnWndProc = proc;
  wc.lpszClassName = name;
  wc.hbrBackground = background;
  wc.hCursor = cursor;
  RegisterClassA(&wc);
  find_class(name)->system = true;
}
}  // namespace

void register_system_classes() {
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  add("#32770", dialog_class_proc, CS_SAVEBITS | CS_DBLCLKS, nullptr, arrow);
  add("Static", static_proc, CS_DBLCLKS | CS_PARENTDC, nullptr, arrow);
  add("Button", button_proc, CS_DBLCLKS | CS_PARENTDC | CS_HREDRAW | CS_VREDRAW, nullptr, arrow);
  add("ListBox", listbox_proc, CS_DBLCLKS | CS_PARENTDC, nullptr, arrow);
  add("Edit", edit_proc, CS_DBLCLKS | CS_PARENTDC, nullptr, LoadCursorA(nullptr, IDC_IBEAM));
}

}  // namespace qzr::user
