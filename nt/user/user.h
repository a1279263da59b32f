// The windowing stand-in's own interface, for tools and tests: the machine's
// screen, screenshots, scripted input and a way to find windows and read
// their state. Programs use only windows.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qzr::user {

struct ScreenSettings {
  int width = 800;
  int height = 600;
  int version_platform =
      VER_PLATFORM_WIN32_NT;  // or VER_PLATFORM_WIN32_WINDOWS, VER_PLATFORM_WIN32s
};

// Starts over with an empty desktop: no windows, classes, objects or queue.
void reset_machine(const ScreenSettings& settings = {});

// Registers a module's resources (a .res image); returns its instance.
HINSTANCE load_module(const std::string& name, const uint8_t* res, size_t size);

// The screen as 0x00RRGGBB pixels.
uint32_t screen_pixel(int x, int y);
int screen_width();
int screen_height();
// Writes the screen, or only one window's rectangle, as PNG.
bool write_screenshot(const std::string& path, HWND window = nullptr);

// Finding windows. Empty strings match anything; text compares without '&'.
HWND find_top_level(const std::string& class_name, const std::string& text);
HWND find_child(HWND parent, const std::string& class_name, const std::string& text);
HWND find_child_by_id(HWND parent, int id);
std::vector<HWND> top_level_windows();  // topmost first
std::string window_text(HWND window);
std::string class_name(HWND window);
bool is_enabled(HWND window);
bool is_visible(HWND window);
bool is_checked(HWND window);   // a check box or radio button (BM_GETCHECK)
RECT window_rect(HWND window);  // screen coordinates
// A menu item's state bits (MF_CHECKED, MF_GRAYED, ...) by command id.
UINT menu_item_state(HWND window, UINT id);

// Dispatches whatever is queued and paints what is stale, without waiting.
void run_until_idle();

// Input played when the program would wait for input, one step each time.
class Script {
 public:
  Script& click(int x, int y);
  Script& double_click(int x, int y);
  Script& click_window(HWND window);  // its centre, resolved when played
  // Clicks a button of the active window by its text (without '&').
  Script& click_button(const std::string& text);
  Script& press_key(int virtual_key, bool alt = false);
  // Chooses a menu bar item and then an item of its popup, by text.
  Script& choose_menu(const std::string& bar_item, const std::string& item);
  Script& screenshot(const std::string& path, HWND window = nullptr);
  // Lets `ms` of message time pass with no input: timers fall due.
  Script& wait(uint32_t ms);
  // Runs any test code at that point (checks, answers, ...).
  Script& run(std::function<void()> step);
  // Parses a command-line action: click:X,Y  dclick:X,Y  key:NAME  alt:C
  // menu:BAR/ITEM  button:TEXT  screenshot:FILE  wait:MS. Returns false if
  // unknown.
  bool add_action(const std::string& action);

  bool done() const { return next_ == steps_.size(); }
  const std::vector<std::string>& failures() const { return failures_; }

  // Runs the next step; false when none is left.
  bool step();

 private:
  std::vector<std::function<void()>> steps_;
  size_t next_ = 0;
  std::vector<std::string> failures_;
};

// Plays `script` whenever the thread waits. When the script is done, the
// optional `after` hook decides: return true if it made input (a live
// display), false to end the session (a quit message).
void play(Script* script, std::function<bool()> after = nullptr);

// A live window on the X display showing the screen and feeding real mouse
// and keyboard input; false when no display can be opened.
bool open_live_display();
// Waits for and feeds the next real input; false when the window was closed.
bool live_display_wait();
void close_live_display();

}  // namespace qzr::user
