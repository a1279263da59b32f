// Dialogs from templates: dialog units from the template's font, the
// controls, the modal loop with its owner disabled, and the dialog
// keyboard (Enter, Escape, Tab, mnemonics).
#include <algorithm>
#include <cstring>

#include "resources.h"
#include "state.h"

namespace qzr::user {

namespace {

struct DialogSetup {
  DLGPROC proc;
  int base_x, base_y;
  HFONT font;
};

std::string class_for(const NameOrId& c) {
  if (!c.numeric) return c.name;
  switch (c.number) {
    case 0x80:
      return "Button";
    case 0x81:
      return "Edit";
    case 0x82:
      return "Static";
    case 0x83:
      return "ListBox";
    case 0x84:
      return "ScrollBar";
    case 0x85:
      return "ComboBox";
  }
  return "Static";
}

std::string text_for(const NameOrId& t) {
  return t.numeric ? "#" + std::to_string(t.number) : t.name;
}

Window* next_tab(Window* dlg, Window* from, bool backwards) {
  std::vector<Window*> stops;
  for (Window* c : dlg->children)
    if ((c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED))
      stops.push_back(c);
  if (stops.empty()) return nullptr;
  auto it = std::find(stops.begin(), stops.end(), from);
  if (it == stops.end()) return stops.front();
  size_t i = static_cast<size_t>(it - stops.begin());
  return stops[(i + (backwards ? stops.size() - 1 : 1)) % stops.size()];
}

}  // namespace

Window* dialog_of(Window* w) {
  for (; w; w = w->parent)
    if (w->dialog) return w;
  return nullptr;
}

POINT dialog_base_units_of(HFONT font) {
  GdiObject* f = desk().object(font);
  if (!f || !f->font) f = desk().object(system_font());
  return base_units(*f->font);
}

HWND create_dialog(HINSTANCE inst, const DialogTemplate& t, HWND owner_handle, DLGPROC proc,
                   LPARAM param) {
  Desk& d = desk();
  HFONT font = system_font();
  if (t.style & DS_SETFONT) {
    font = CreateFontA(-MulDiv(t.point_size, 96, 72), 0, 0, 0, t.weight, t.italic, 0, 0,
                       ANSI_CHARSET, 0, 0, 0, 0, t.face.c_str());
    if (!font) font = system_font();
  }
  POINT base = dialog_base_units_of(font);
  auto px = [&](int v) { return MulDiv(v, base.x, 4); };
  auto py = [&](int v) { return MulDiv(v, base.y, 8); };
  DWORD style = t.style;
  DWORD ex = t.ex_style;
  if (style & DS_MODALFRAME) ex |= WS_EX_DLGMODALFRAME;
  RECT r{0, 0, px(t.cx), py(t.cy)};
  AdjustWindowRectEx(&r, style, FALSE, ex);
  int x = px(t.x), y = py(t.y);
  Window* owner = d.window(owner_handle);
  if (owner && !(style & DS_ABSALIGN) && !(style & WS_CHILD))
    x += owner->client.left, y += owner->client.top;
  int w = r.right - r.left, hgt = r.bottom - r.top;
  if (style & DS_CENTER) x = (d.screen.width - w) / 2, y = (d.screen.height - hgt) / 2;
  DialogSetup setup{proc, base.x, base.y, font};
  HWND h = CreateWindowExA(ex, "#32770", t.caption.c_str(), style & ~WS_VISIBLE, x, y, w, hgt,
                           owner_handle, nullptr, inst, &setup);
  if (!h) return nullptr;
  Window* dw = d.window(h);
  if (t.style & DS_SETFONT) send(dw, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  HWND first_tab = nullptr;
  for (const DialogItem& it : t.items) {
    std::string cls = class_for(it.class_name);
    std::string text = text_for(it.text);
    HWND c = CreateWindowExA(it.ex_style, cls.c_str(), text.c_str(), it.style | WS_CHILD, px(it.x),
                             py(it.y), px(it.cx), py(it.cy), h,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(it.id)), inst, nullptr);
    if (!c) continue;
    SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (!first_tab && (it.style & WS_TABSTOP) && !(it.style & WS_DISABLED)) first_tab = c;
    if ((it.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && cls == "Button")
      dw->dialog->default_id = it.id;
  }
  if (!d.window(h)) return nullptr;
  if (send(dw, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_tab), param) && first_tab &&
      d.window(first_tab))
    dw->dialog->initial_focus = first_tab;
  if (!d.window(h)) return nullptr;
  return h;
}

// Keyboard for a dialog: returns true when the message was taken.
bool dialog_keyboard(Window* dlg, const MSG& m) {
  Desk& d = desk();
  Window* target = d.window(m.hwnd);
  if (!target || dialog_of(target) != dlg) return false;
  HWND dh = dlg->handle;
  UINT code = target != dlg ? static_cast<UINT>(send(target, WM_GETDLGCODE, m.wParam, 0)) : 0;
  if (m.message == WM_KEYDOWN) {
    switch (m.wParam) {
      case VK_RETURN: {
        // A focused push button is the default while it has the focus.
        int id = dlg->dialog->default_id;
        if (target != dlg && (code & (DLGC_UNDEFPUSHBUTTON | DLGC_DEFPUSHBUTTON))) {
          id = static_cast<int>(target->id);
        } else {
          LRESULT def = send(dlg, DM_GETDEFID, 0, 0);
          if (HIWORD(def) == 0x534B) id = LOWORD(def);
        }
        HWND b = GetDlgItem(dh, id);
        if (b && !IsWindowEnabled(b)) return true;
        send(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
        return true;
      }
      case VK_ESCAPE:
        send(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
             reinterpret_cast<LPARAM>(GetDlgItem(dh, IDCANCEL)));
        return true;
      case VK_TAB:
        if (Window* n = next_tab(dlg, target, false)) {
          HWND nh = n->handle;
          SetFocus(nh);
          // A control that can select, an edit, comes in with all selected.
          if (Window* again = d.window(nh);
              again && (send(again, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL))
            send(again, EM_SETSEL, 0, -1);
        }
        return true;
    }
    return false;
  }
  if (m.message == WM_CHAR || m.message == WM_SYSCHAR) {
    if (m.wParam == VK_RETURN || m.wParam == VK_ESCAPE || m.wParam == VK_TAB) return true;
    // Characters typed into a control that takes them are its own; only
    // Alt makes them mnemonics there.
    if (m.message == WM_CHAR && (code & DLGC_WANTCHARS)) return false;
    char c = static_cast<char>(std::tolower(static_cast<int>(m.wParam)));
    // Mnemonics: a button is clicked; a static moves the focus past itself.
    for (size_t i = 0; i < dlg->children.size(); ++i) {
      Window* k = dlg->children[i];
      if (!(k->style & WS_VISIBLE) || (k->style & WS_DISABLED)) continue;
      bool is_static = k->cls->name == "Static";
      if (is_static && (k->style & SS_NOPREFIX)) continue;
      if (mnemonic_of(k->text) != c) continue;
      if (is_static) {
        if (i + 1 < dlg->children.size()) SetFocus(dlg->children[i + 1]->handle);
      } else {
        SetFocus(k->handle);
        send(k, BM_CLICK, 0, 0);
      }
      return true;
    }
    return m.message == WM_SYSCHAR;
  }
  return false;
}

}  // namespace qzr::user

using namespace qzr::user;

extern "C" {

LRESULT WINAPI DefDlgProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Desk& d = desk();
  Window* w = d.window(h);
  if (!w) return 0;
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    auto* setup = static_cast<DialogSetup*>(cs->lpCreateParams);
    w->dialog = std::make_unique<DialogInfo>();
    if (setup) {
      w->dialog->proc = setup->proc;
      w->dialog->base_x = setup->base_x;
      w->dialog->base_y = setup->base_y;
      w->dialog->font = setup->font;
    }
  }
  if (!w->dialog) return DefWindowProcA(h, msg, wp, lp);
  if (DLGPROC proc = w->dialog->proc) {
    w->dialog->msg_result = 0;
    INT_PTR handled = proc(h, msg, wp, lp);
    if (!d.window(h)) return 0;
    if (handled) {
      switch (msg) {
        case WM_INITDIALOG:
        case WM_CTLCOLORSTATIC:
        case WM_GETDLGCODE:
          return handled;
      }
      return w->dialog->msg_result;
    }
  }
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(reinterpret_cast<HDC>(wp), &rc, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wp), sys_color(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
      // The close box asks for Cancel, as Escape does.
      PostMessageA(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(h, IDCANCEL)));
      return 0;
    case DM_GETDEFID:
      return MAKELONG(w->dialog->default_id, 0x534B);
    case DM_SETDEFID:
      w->dialog->default_id = static_cast<int>(wp);
      return TRUE;
    case WM_INITDIALOG:
      return 0;
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wp);
      return 0;
  }
  return DefWindowProcA(h, msg, wp, lp);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE inst, LPCSTR name, HWND owner_handle, DLGPROC proc,
                               LPARAM param) {
  Desk& d = desk();
  const auto* data = find_resource(inst, 5, name);
  if (!data) return -1;
  auto t = parse_dialog(data->data(), data->size());
  if (!t) return -1;
  // The owner of a modal dialog is a top-level window.
  Window* owner = d.window(owner_handle);
  if (owner) owner = top_level_of(owner);
  HWND owner_top = owner ? owner->handle : nullptr;
  HWND h = create_dialog(inst, *t, owner_top, proc, param);
  if (!h) return -1;
  bool owner_was_enabled = owner_top && IsWindowEnabled(owner_top);
  if (owner_was_enabled) EnableWindow(owner_top, FALSE);
  Window* w = d.window(h);
  if (w && !w->dialog->ended) {
    ShowWindow(h, SW_SHOWNORMAL);
    if (HWND f = w->dialog->initial_focus; f && d.window(f)) SetFocus(f);
    run_modal_loop(w);
  }
  INT_PTR result = -1;
  if ((w = d.window(h))) result = w->dialog->result;
  if (owner_was_enabled && d.window(owner_top)) EnableWindow(owner_top, TRUE);
  if (d.window(h)) DestroyWindow(h);
  return result;
}

HWND WINAPI CreateDialogParamA(HINSTANCE inst, LPCSTR name, HWND owner, DLGPROC proc,
                               LPARAM param) {
  const auto* data = find_resource(inst, 5, name);
  if (!data) return nullptr;
  auto t = parse_dialog(data->data(), data->size());
  if (!t) return nullptr;
  HWND h = create_dialog(inst, *t, owner, proc, param);
  if (h && (t->style & WS_VISIBLE)) ShowWindow(h, SW_SHOWNORMAL);
  return h;
}

BOOL WINAPI EndDialog(HWND h, INT_PTR result) {
  Window* w = desk().window(h);
  if (!w || !w->dialog) return FALSE;
  w->dialog->ended = true;
  w->dialog->result = result;
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND h, int id) {
  Window* w = desk().window(h);
  if (!w) return nullptr;
  for (Window* c : w->children)
    if (static_cast<int>(c->id) == id) return c->handle;
  return nullptr;
}

BOOL WINAPI SetDlgItemTextA(HWND h, int id, LPCSTR text) {
  return SetWindowTextA(GetDlgItem(h, id), text);
}
UINT WINAPI GetDlgItemTextA(HWND h, int id, LPSTR text, int max_count) {
  return static_cast<UINT>(GetWindowTextA(GetDlgItem(h, id), text, max_count));
}
LRESULT WINAPI SendDlgItemMessageA(HWND h, int id, UINT msg, WPARAM wp, LPARAM lp) {
  return SendMessageA(GetDlgItem(h, id), msg, wp, lp);
}
BOOL WINAPI CheckDlgButton(HWND h, int id, UINT check) {
  return SendDlgItemMessageA(h, id, BM_SETCHECK, check, 0), TRUE;
}
UINT WINAPI IsDlgButtonChecked(HWND h, int id) {
  return static_cast<UINT>(SendDlgItemMessageA(h, id, BM_GETCHECK, 0, 0));
}

BOOL WINAPI MapDialogRect(HWND h, LPRECT r) {
  Window* w = desk().window(h);
  if (!w || !w->dialog || !r) return FALSE;
  int bx = w->dialog->base_x, by = w->dialog->base_y;
  *r = {MulDiv(r->left, bx, 4), MulDiv(r->top, by, 8), MulDiv(r->right, bx, 4),
        MulDiv(r->bottom, by, 8)};
  return TRUE;
}

LONG WINAPI GetDialogBaseUnits(void) {
  POINT b = dialog_base_units_of(system_font());
  return MAKELONG(b.x, b.y);
}

BOOL WINAPI IsDialogMessageA(HWND h, LPMSG m) {
  Window* w = desk().window(h);
  if (!w || !m) return FALSE;
  if (dialog_keyboard(w, *m)) return TRUE;
  Window* t = desk().window(m->hwnd);
  if (!t || dialog_of(t) != w) return FALSE;
  TranslateMessage(m);
  DispatchMessageA(m);
  return TRUE;
}

}  // extern "C"
