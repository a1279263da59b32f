// Message boxes: a modal dialog sized to its text, with the icon the type
// asks for and its buttons centred under the text.
#include <algorithm>

#include "resources.h"
#include "state.h"

namespace qzr::user {

namespace {

INT_PTR CALLBACK msgbox_proc(HWND h, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_COMMAND) {
    int id = LOWORD(wp);
    // Escape and the close box only end a box that has a way to cancel.
    if (id == IDCANCEL && !GetDlgItem(h, IDCANCEL)) {
      if (GetDlgItem(h, IDOK) && !GetDlgItem(h, IDNO))
        id = IDOK;
      else
        return TRUE;
    }
    EndDialog(h, id);
    return TRUE;
  }
  return FALSE;
}

struct ButtonSpec {
  int id;
  const char* text;
};

std::vector<ButtonSpec> buttons_for(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE:
      return {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}};
    case MB_YESNOCANCEL:
      return {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO:
      return {{IDYES, "&Yes"}, {IDNO, "&No"}};
    case MB_RETRYCANCEL:
      return {{IDRETRY, "&Retry"}, {IDCANCEL, "Cancel"}};
  }
  return {{IDOK, "OK"}};
}

int icon_for(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
      return 32513;
    case MB_ICONQUESTION:
      return 32514;
    case MB_ICONEXCLAMATION:
      return 32515;
    case MB_ICONASTERISK:
      return 32516;
  }
  return 0;
}

}  // namespace

}  // namespace qzr::user

using namespace qzr::user;

extern "C" int WINAPI MessageBoxA(HWND owner_handle, LPCSTR text, LPCSTR caption, UINT type) {
  Desk& d = desk();
  Window* owner = d.window(owner_handle);
  if (owner) owner = top_level_of(owner);
  HWND owner_top = owner ? owner->handle : nullptr;
  DialogTemplate t;
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_ABSALIGN;
  t.caption = caption ? caption : "Error";
  HWND h = create_dialog(nullptr, t, owner_top, msgbox_proc, 0);
  if (!h) return 0;
  Window* w = d.window(h);

  // Layout in pixels with the system font, as NT lays message boxes out.
  HDC hdc = CreateCompatibleDC(nullptr);
  SelectObject(hdc, message_font());
  std::string body = text ? text : "";
  int max_text = d.screen.width * 5 / 8;
  RECT tr{0, 0, max_text, 0};
  DrawTextA(hdc, body.c_str(), -1, &tr, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  DeleteDC(hdc);
  int icon_id = icon_for(type);
  const int margin = 12, icon_size = 32, button_w = 75, button_h = 23, button_gap = 6;
  int text_w = tr.right, text_h = std::max<int>(tr.bottom, 13);
  int text_x = margin + (icon_id ? icon_size + margin + 4 : 0);
  int top_h = std::max(text_h, icon_id ? icon_size : 0);
  int text_y = margin + (top_h - text_h) / 2;
  auto buttons = buttons_for(type);
  int buttons_w = static_cast<int>(buttons.size()) * button_w +
                  (static_cast<int>(buttons.size()) - 1) * button_gap;
  int client_w = std::max(text_x + text_w + margin, buttons_w + 2 * margin);
  int client_h = margin + top_h + margin + button_h + margin;
  if (icon_id) {
    HWND ic = CreateWindowExA(0, "Static", ("#" + std::to_string(icon_id)).c_str(),
                              WS_CHILD | WS_VISIBLE | SS_ICON, margin, margin, icon_size, icon_size,
                              h, reinterpret_cast<HMENU>(-1), nullptr, nullptr);
    (void)ic;
  }
  HWND label = CreateWindowExA(
      0, "Static", body.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, text_x, text_y,
      text_w + 1, text_h, h, reinterpret_cast<HMENU>(0xFFFF), nullptr, nullptr);
  SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(message_font()), FALSE);
  int bx = (client_w - buttons_w) / 2, by = margin + top_h + margin;
  HWND first = nullptr;
  for (size_t i = 0; i < buttons.size(); ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND b = CreateWindowExA(0, "Button", buttons[i].text, style, bx, by, button_w, button_h, h,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(buttons[i].id)), nullptr,
                             nullptr);
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(message_font()), FALSE);
    if (!first) first = b;
    bx += button_w + button_gap;
  }
  w->dialog->default_id = buttons.front().id;
  RECT wr{0, 0, client_w, client_h};
  AdjustWindowRectEx(&wr, w->style, FALSE, w->ex_style);
  int ww = wr.right - wr.left, wh = wr.bottom - wr.top;
  SetWindowPos(h, nullptr, (d.screen.width - ww) / 2, (d.screen.height - wh) / 2, ww, wh,
               SWP_NOZORDER | SWP_NOACTIVATE);

  bool owner_was_enabled = owner_top && IsWindowEnabled(owner_top);
  if (owner_was_enabled) EnableWindow(owner_top, FALSE);
  MessageBeep(type & MB_ICONMASK);
  ShowWindow(h, SW_SHOWNORMAL);
  if (first) SetFocus(first);
  run_modal_loop(w);
  int result = IDCANCEL;
  if ((w = d.window(h)))
    result = static_cast<int>(w->dialog->ended ? w->dialog->result : buttons.front().id);
  if (owner_was_enabled && d.window(owner_top)) EnableWindow(owner_top, TRUE);
  if (d.window(h)) DestroyWindow(h);
  return result;
}
