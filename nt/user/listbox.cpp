// The single-selection ListBox control in the Windows NT 4.0 look: a white
// field with a sunken edge, one line per item, the selection highlighted,
// LBN_SELCHANGE and LBN_DBLCLK to the parent with LBS_NOTIFY.
#include <algorithm>
#include <cstring>

#include "state.h"

namespace qzr::user {

namespace {

struct ListData {
  std::vector<std::string> items;
  std::vector<LPARAM> data;
  int selected = -1, top = 0;
};

// Items live with the window; a desk reset drops them with it.
std::map<HWND, ListData>& lists() {
  static std::map<HWND, ListData> all;
  static uint64_t owner = 0;
  if (owner != desk().generation) all.clear(), owner = desk().generation;
  return all;
}

int item_height(Window* w) {
  GdiObject* f = desk().object(w->font ? w->font : system_font());
  return f && f->font ? metrics(*f->font).height : 16;
}

Rect inner_of(Window* w) {
  Rect r{0, 0, w->client.width(), w->client.height()};
  return w->sunken ? r.inflate(-2, -2) : r;
}

int visible_count(Window* w) {
  return std::max(1, inner_of(w).height() / item_height(w));
}

void notify(Window* w, WORD code) {
  if (w->parent && (w->style & LBS_NOTIFY))
    send(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code),
         reinterpret_cast<LPARAM>(w->handle));
}

// Keeps the selection in view by moving the top item.
void show_selection(Window* w, ListData& l) {
  if (l.selected < 0) return;
  int n = visible_count(w);
  if (l.selected < l.top) l.top = l.selected;
  if (l.selected >= l.top + n) l.top = l.selected - n + 1;
}

void paint_list(Window* w, ListData& l) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(w->handle, &ps);
  Dc* d = desk().dc(hdc);
  auto px = [](int c) { return to_pixel(sys_color(c)); };
  Rect r{0, 0, w->client.width(), w->client.height()};
  fill_rect(d, r, px(COLOR_WINDOW));
  if (w->sunken) draw_edge_sunken(d, r);
  Rect inner = inner_of(w);
  std::vector<Rect> saved = d->clip, kept;
  for (const Rect& c : saved)
    if (Rect i = c.intersect(inner.offset(d->origin_x, d->origin_y)); !i.empty()) kept.push_back(i);
  d->clip = kept;
  d->bk_mode = TRANSPARENT;
  int lh = item_height(w);
  bool enabled = !(w->style & WS_DISABLED);
  for (int i = l.top, y = inner.top; i < static_cast<int>(l.items.size()) && y < inner.bottom;
       ++i, y += lh) {
    bool sel = i == l.selected;
    if (sel) fill_rect(d, {inner.left, y, inner.right, y + lh}, px(COLOR_HIGHLIGHT));
    d->text_color = sys_color(!enabled ? COLOR_GRAYTEXT
                              : sel    ? COLOR_HIGHLIGHTTEXT
                                       : COLOR_WINDOWTEXT);
    draw_prefixed(d, inner.left + 2, y, l.items[i], false);
  }
  d->clip = saved;
  EndPaint(w->handle, &ps);
}

bool select(Window* w, ListData& l, int index) {
  if (index < -1 || index >= static_cast<int>(l.items.size())) return false;
  bool changed = l.selected != index;
  l.selected = index;
  show_selection(w, l);
  invalidate(w, nullptr, true, false);
  return changed;
}

int insert(ListData& l, int at, const char* text) {
  if (!text) text = "";
  int n = static_cast<int>(l.items.size());
  if (at < 0 || at > n) at = n;
  l.items.insert(l.items.begin() + at, text);
  l.data.insert(l.data.begin() + at, 0);
  if (l.selected >= at) ++l.selected;
  return at;
}

}  // namespace

LRESULT CALLBACK listbox_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Window* w = desk().window(h);
  if (!w) return 0;
  ListData& l = lists()[h];
  int n = static_cast<int>(l.items.size());
  switch (msg) {
    case WM_NCCREATE:
      take_sunken_edge(w);
      return DefWindowProcA(h, msg, wp, lp);
    case WM_NCDESTROY:
      lists().erase(h);
      return 0;
    case WM_PAINT:
      paint_list(w, l);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_ENABLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      invalidate(w, nullptr, true, false);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      SetFocus(h);
      if (!desk().window(h)) return 0;
      int y = GET_Y_LPARAM(lp) - inner_of(w).top;
      int i = y < 0 ? -1 : l.top + y / item_height(w);
      if (i < 0 || i >= n) return 0;
      if (select(w, l, i)) notify(w, LBN_SELCHANGE);
      if (msg == WM_LBUTTONDBLCLK && desk().window(h)) notify(w, LBN_DBLCLK);
      return 0;
    }
    case WM_KEYDOWN: {
      int page = visible_count(w);
      int to = l.selected;
      switch (wp) {
        case VK_UP:
          to = std::max(0, l.selected - 1);
          break;
        case VK_DOWN:
          to = std::min(n - 1, l.selected + 1);
          break;
        case VK_HOME:
          to = 0;
          break;
        case VK_END:
          to = n - 1;
          break;
        case VK_PRIOR:
          to = std::max(0, l.selected - page + 1);
          break;
        case VK_NEXT:
          to = std::min(n - 1, std::max(0, l.selected) + page - 1);
          break;
        default:
          return 0;
      }
      if (n > 0 && select(w, l, to)) notify(w, LBN_SELCHANGE);
      return 0;
    }
    case WM_CHAR: {
      // A letter selects the next item that begins with it.
      int c = std::tolower(static_cast<int>(wp));
      for (int k = 1; k <= n && c > 0x20; ++k) {
        int i = (std::max(l.selected, -1) + k + n) % n;
        if (!l.items[i].empty() && std::tolower(static_cast<unsigned char>(l.items[i][0])) == c) {
          if (select(w, l, i)) notify(w, LBN_SELCHANGE);
          break;
        }
      }
      return 0;
    }
    case LB_ADDSTRING:
      return insert(l, -1, reinterpret_cast<const char*>(lp));
    case LB_INSERTSTRING:
      return insert(l, static_cast<int>(wp), reinterpret_cast<const char*>(lp));
    case LB_DELETESTRING: {
      int i = static_cast<int>(wp);
      if (i < 0 || i >= n) return LB_ERR;
      l.items.erase(l.items.begin() + i);
      l.data.erase(l.data.begin() + i);
      if (l.selected == i) l.selected = -1;
      if (l.selected > i) --l.selected;
      l.top = std::max(0, std::min(l.top, n - 2));
      invalidate(w, nullptr, true, false);
      return n - 1;
    }
    case LB_RESETCONTENT:
      l = ListData{};
      invalidate(w, nullptr, true, false);
      return 0;
    case LB_GETCOUNT:
      return n;
    case LB_GETCURSEL:
      return l.selected;
    case LB_SETCURSEL: {
      int i = static_cast<int>(wp);
      if (i >= n) return LB_ERR;
      select(w, l, i < 0 ? -1 : i);
      return i < 0 ? LB_ERR : i;
    }
    case LB_GETTEXTLEN: {
      int i = static_cast<int>(wp);
      return i < 0 || i >= n ? LB_ERR : static_cast<LRESULT>(l.items[i].size());
    }
    case LB_GETTEXT: {
      int i = static_cast<int>(wp);
      if (i < 0 || i >= n || !lp) return LB_ERR;
      // The caller's buffer holds the text, as LB_GETTEXTLEN told it.
      std::memcpy(reinterpret_cast<char*>(lp), l.items[i].c_str(), l.items[i].size() + 1);
      return static_cast<LRESULT>(l.items[i].size());
    }
    case LB_SETITEMDATA: {
      int i = static_cast<int>(wp);
      if (i < 0 || i >= n) return LB_ERR;
      l.data[i] = lp;
      return TRUE;
    }
    case LB_GETITEMDATA: {
      int i = static_cast<int>(wp);
      return i < 0 || i >= n ? LB_ERR : l.data[i];
    }
    case LB_FINDSTRINGEXACT: {
      // From the item after wParam, wrapping, without regard to case.
      const char* s = reinterpret_cast<const char*>(lp);
      if (!s || n == 0) return LB_ERR;
      int start = static_cast<int>(wp);
      for (int k = 1; k <= n; ++k) {
        int i = ((start < 0 ? -1 : start) + k + n) % n;
        if (strcasecmp(l.items[i].c_str(), s) == 0) return i;
      }
      return LB_ERR;
    }
    case LB_GETTOPINDEX:
      return l.top;
  }
  return DefWindowProcA(h, msg, wp, lp);
}

}  // namespace qzr::user
