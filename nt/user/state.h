// Internal state of the windowing stand-in: classes, windows, menus, GDI
// objects and the one thread's message queue. Everything lives in one Desk
// object so that tests can start from a clean machine with Desk::reset().
#pragma once

#include <strings.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "resources.h"

namespace qzr::user {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  Rect offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  Rect inflate(int dx, int dy) const { return {left - dx, top - dy, right + dx, bottom + dy}; }
  Rect intersect(const Rect& o) const;
  Rect unite(const Rect& o) const;
  RECT to_win() const { return {left, top, right, bottom}; }
  static Rect from(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
  bool operator==(const Rect&) const = default;
};
// The parts of `r` not covered by `hole` (at most four rectangles).
std::vector<Rect> subtract(const Rect& r, const Rect& hole);

struct Pixels {  // 0x00RRGGBB, row-major, top-down
  int width = 0, height = 0;
  std::vector<uint32_t> data;
  uint32_t* row(int y) { return data.data() + static_cast<size_t>(y) * width; }
  void resize(int w, int h, uint32_t fill) {
    width = w, height = h;
    data.assign(static_cast<size_t>(w) * h, fill);
  }
};

inline uint32_t to_pixel(COLORREF c) {
  return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}
inline COLORREF to_colorref(uint32_t p) {
  return RGB((p >> 16) & 0xff, (p >> 8) & 0xff, p & 0xff);
}

// System colours as Windows NT 4.0 ships them.
COLORREF sys_color(int index);

struct FontFace;  // fonts.cpp

struct GdiObject {
  DWORD type = 0;  // OBJ_*
  bool stock = false;
  // brush, pen
  COLORREF color = 0;
  bool null_style = false;
  // bitmap
  Pixels pixels;
  int bits_per_pixel = 32;
  // font
  int height = 0, weight = FW_NORMAL;
  bool italic = false, underline = false;
  std::string face;
  std::shared_ptr<FontFace> font;
  // icon/cursor: image and mask (mask bit set = transparent)
  std::vector<uint8_t> mask;
  int cursor_id = 0;
};

struct Window;

struct MenuItem {
  std::string text;
  UINT flags = 0;  // MF_* state: MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_SEPARATOR, MF_POPUP
  UINT id = 0;
  HMENU popup = nullptr;
  Rect rect;  // where it was last drawn, screen coordinates
};

struct Menu {
  bool popup = false;
  std::vector<MenuItem> items;
};

struct Dc {
  bool memory = false;
  Window* window = nullptr;
  bool whole_window = false;  // GetWindowDC: origin at the window's corner
  bool from_paint = false;
  int origin_x = 0, origin_y = 0;  // device origin in target coordinates
  std::vector<Rect> clip;          // in target coordinates; empty means nothing visible
  HGDIOBJ brush = nullptr, pen = nullptr, font = nullptr, bitmap = nullptr;
  HGDIOBJ own_bitmap = nullptr;  // a memory DC's 1 x 1 bitmap, gone with the DC
  int bk_mode = OPAQUE;
  COLORREF bk_color = RGB(255, 255, 255), text_color = RGB(0, 0, 0);
  int map_mode = MM_TEXT;
  // Logical units per `map_den` device pixels, and the y direction, as the
  // map mode set them (no origins: SetViewportOrgEx is not offered).
  int map_num = 1, map_den = 1, map_sign_y = 1;
  POINT pos{0, 0};  // logical coordinates
};

struct WindowClass {
  ATOM atom = 0;
  std::string name;
  UINT style = 0;
  WNDPROC proc = nullptr;
  int cls_extra = 0, wnd_extra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  std::string menu_name;  // "#n" for a numbered menu
  bool system = false;
  std::vector<uint8_t> extra;
};

struct DialogInfo {
  DLGPROC proc = nullptr;
  bool ended = false;
  INT_PTR result = 0;
  int base_x = 6, base_y = 13;  // dialog base units in pixels
  HFONT font = nullptr;
  int default_id = IDOK;
  LONG_PTR msg_result = 0, user = 0;
  HWND initial_focus = nullptr;
};

struct Window {
  HWND handle = nullptr;
  WindowClass* cls = nullptr;
  std::string text;
  DWORD style = 0, ex_style = 0;
  Window* parent = nullptr;  // WS_CHILD windows only
  Window* owner = nullptr;
  std::vector<Window*> children;  // z-order, topmost first
  Rect rect;                      // window rectangle, screen coordinates
  Rect client;                    // client rectangle, screen coordinates
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  LONG_PTR id = 0;
  HMENU menu = nullptr;
  LONG_PTR user_data = 0;
  std::vector<uint8_t> extra;
  // Update state, client coordinates.
  Rect update;
  bool needs_paint = false, erase_pending = false, frame_pending = false;
  bool created = false, destroying = false;
  bool active_caption = false;
  HFONT font = nullptr;
  std::unique_ptr<DialogInfo> dialog;
  int control_state = 0;  // button: BST_* bits
  // edit: the selection (caret at sel_end) and the length limit
  int sel_start = 0, sel_end = 0, text_limit = 0x7FFF;
  bool sunken = false;  // edit: draws its own sunken edge in place of WS_BORDER
  HICON control_icon = nullptr;
  bool in_paint = false;
};

struct InputEvent {
  // tick: nothing happens but the passing of time (a scripted wait).
  enum class Kind { mouse_down, mouse_up, mouse_move, key_down, key_up, character, tick } kind;
  int x = 0, y = 0;
  int key = 0;
  bool alt = false;
  uint32_t time_ms = 0;
};

// A timer runs on the message time: it falls due `elapse_ms` after it was
// set or last delivered.
struct Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  UINT elapse_ms = 0;
  uint32_t due_ms = 0;
  TIMERPROC proc = nullptr;
};

struct Module {
  std::string name;
  std::vector<ResourceEntry> resources;
};

// The one thread: the desktop with its windows and the message queue.
class Desk {
 public:
  static Desk& get();
  // Drops every window, class, object and queued message; a fresh machine.
  static void reset();

  // Handles.
  Window* window(HWND h) const;
  Menu* menu(HMENU h) const;
  GdiObject* object(HGDIOBJ h) const;
  Dc* dc(HDC h) const;
  HWND add_window(std::unique_ptr<Window> w);
  void remove_window(Window* w);
  HMENU add_menu(std::unique_ptr<Menu> m);
  void remove_menu(HMENU h);
  HGDIOBJ add_object(std::unique_ptr<GdiObject> o);
  void remove_object(HGDIOBJ h);
  HDC add_dc(std::unique_ptr<Dc> d);
  void remove_dc(HDC h);
  // Live GDI objects and DCs, for tests that look for leaks.
  size_t object_count() const { return objects_.size() + dcs_.size(); }

  std::vector<std::unique_ptr<WindowClass>> classes;
  std::vector<Window*> top_level;  // z-order, topmost first
  Window* active = nullptr;
  Window* focus = nullptr;
  Window* capture = nullptr;
  HCURSOR cursor = nullptr;

  std::deque<MSG> posted;
  bool quit_posted = false;
  int quit_code = 0;
  std::deque<InputEvent> input;
  // Input already turned into messages that a filtered GetMessageA or
  // PeekMessageA passed over; they keep their place ahead of newer input.
  std::deque<MSG> input_msgs;
  uint32_t time_ms = 0;  // virtual message time
  POINT cursor_pos{0, 0};
  std::vector<Timer> timers;
  UINT_PTR next_thread_timer = 0x7FF0;  // ids SetTimer picks for window-less timers
  MSG last_down{};                      // for double clicks
  bool last_down_valid = false;

  Pixels screen;
  int version_platform = VER_PLATFORM_WIN32_NT;
  std::map<uintptr_t, std::unique_ptr<Module>> modules;
  HINSTANCE main_module = nullptr;
  int modal_depth = 0;
  // Tells caches of handles that the desk they came from is gone; a new
  // desk may well sit at the old one's address.
  const uint64_t generation;

  // Called when the thread would wait for input; returns true when it made
  // something happen (posted, fed input). Scripts and the live display hook in.
  std::function<bool()> idle;
  // Called after the screen changed and before waiting for more input.
  std::function<void()> present;

 private:
  Desk();
  uintptr_t next_handle_ = 0x100;
  std::map<uintptr_t, std::unique_ptr<Window>> windows_;
  std::map<uintptr_t, std::unique_ptr<Menu>> menus_;
  std::map<uintptr_t, std::unique_ptr<GdiObject>> objects_;
  std::map<uintptr_t, std::unique_ptr<Dc>> dcs_;
  uintptr_t take_handle() { return next_handle_ += 4; }
};

inline Desk& desk() {
  return Desk::get();
}

// windows.cpp
Window* top_level_of(Window* w);
bool is_visible_on_screen(const Window* w);
bool is_enabled_chain(const Window* w);
Window* window_from_point(int x, int y);
void set_active(Window* w);
Window* next_to_activate(Window* w);
void set_focus(Window* w);
WindowClass* find_class(const char* name);
void register_system_classes();
void move_window_to(Window* w, const Rect& new_rect, bool repaint);
void reveal(const Rect& screen_area, const Window* except);

// nonclient.cpp
struct FrameParts {
  int border = 0;  // frame thickness each side
  Rect caption;    // screen coordinates; empty when none
  Rect close_box;
  Rect menu_bar;
};
FrameParts frame_parts(const Window* w);
Rect client_from_window(const Window* w, const Rect& window_rect);
void draw_frame(Window* w);
int hit_test(const Window* w, int x, int y);

// messages.cpp
LRESULT send(Window* w, UINT msg, WPARAM wp, LPARAM lp);
void invalidate(Window* w, const Rect* client_area, bool erase, bool children);
void invalidate_frame(Window* w);
Window* next_to_paint();
void paint_now(Window* w);
bool pump_one(HWND dialog_filter);  // one message dispatched; false when the queue is dry
void run_until_idle();
// Returns the next raw input event, waiting through the idle hook;
// nullopt when no more input will ever come.
std::optional<InputEvent> wait_raw_input();
bool dispatch_input(const InputEvent& ev);
void run_modal_loop(Window* dialog);
void kill_timers(HWND window);

// gdi.cpp
HDC make_window_dc(Window* w, bool whole_window, const Rect* paint_clip);
std::vector<Rect> visible_rects(const Window* w, bool client_only);
Pixels* dc_target(Dc* d);
void fill_rect(Dc* d, const Rect& r, uint32_t pixel);  // logical coordinates
void draw_icon(Dc* d, int x, int y, GdiObject* icon);
HGDIOBJ stock(int index);
void draw_edge_raised(Dc* d, const Rect& r, bool pressed);
// The 2-pixel sunken client edge of edits, list boxes and check boxes.
void draw_edge_sunken(Dc* d, const Rect& r);
// The 3D look: a bordered edit or list box draws the sunken client edge
// in place of its flat border.
inline void take_sunken_edge(Window* w) {
  if ((w->style & WS_BORDER) || (w->ex_style & WS_EX_CLIENTEDGE)) {
    w->style &= ~WS_BORDER;
    w->sunken = true;
  }
}
// Logical to device coordinates (relative to the DC's origin) by its map mode.
POINT to_device(const Dc* d, int x, int y);
// A logical rectangle in device coordinates, corners ordered.
Rect to_device(const Dc* d, const Rect& logical);

// fonts.cpp
std::shared_ptr<FontFace> open_face(const std::string& face, int height, int weight, bool italic);
struct TextMetrics {
  int height, ascent, descent, ave_width, max_width, internal_leading;
};
TextMetrics metrics(FontFace& f);
int text_width(FontFace& f, const std::string& s);
void draw_text(Pixels& target, const std::vector<Rect>& clip, int ox, int oy, FontFace& f,
               const std::string& s, uint32_t color, bool underline_all);
GdiObject* dc_font(Dc* d);
HFONT system_font();
HFONT caption_font();
HFONT message_font();
HFONT menu_font();
// Dialog base units of a font: average width (x) and height (y) in pixels.
POINT base_units(FontFace& f);

// Text with '&' prefixes: draw it and underline the mnemonic.
void draw_prefixed(Dc* d, int x, int y, const std::string& s, bool prefix);
int prefixed_width(Dc* d, const std::string& s, bool prefix);
char mnemonic_of(const std::string& s);
void draw_disabled_text(Dc* d, int x, int y, const std::string& s, bool prefix);

// resources.cpp
// The data of a resource of a numbered type, by name or number (a name
// "#12" means number 12); null when the module has none.
const std::vector<uint8_t>* find_resource(HINSTANCE inst, WORD type, LPCSTR name);
HICON stock_icon(int id);

// menus.cpp
void draw_menu_bar(Window* w);
bool track_menu_bar(Window* w, int start_index, bool keyboard);
int menu_bar_hit(Window* w, int x, int y);
int menu_bar_mnemonic(Window* w, char c);

// dialogs.cpp
struct DialogTemplate;
HWND create_dialog(HINSTANCE inst, const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param);
POINT dialog_base_units_of(HFONT font);
bool dialog_keyboard(Window* dlg, const MSG& m);
Window* dialog_of(Window* w);
LRESULT dialog_default(Window* w, UINT msg, WPARAM wp, LPARAM lp);

// controls.cpp
LRESULT CALLBACK static_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK button_proc(HWND, UINT, WPARAM, LPARAM);
// edit.cpp
LRESULT CALLBACK edit_proc(HWND, UINT, WPARAM, LPARAM);
// listbox.cpp
LRESULT CALLBACK listbox_proc(HWND, UINT, WPARAM, LPARAM);

}  // namespace qzr::user
