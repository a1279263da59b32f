// Tools and tests drive the stand-in from here: a fresh machine, finding
// windows, and scripted input played while the program waits.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "resources.h"
#include "state.h"
#include "user.h"

namespace qzr::user {

namespace {

std::string plain(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size()) ++i;
    out += s[i];
  }
  // Menu texts may carry padding blanks; compare what a user reads.
  size_t a = out.find_first_not_of(' '), b = out.find_last_not_of(' ');
  return a == std::string::npos ? "" : out.substr(a, b - a + 1);
}

bool matches(Window* w, const std::string& cls, const std::string& text) {
  if (!cls.empty() && strcasecmp(w->cls->name.c_str(), cls.c_str()) != 0) return false;
  return text.empty() || plain(w->text) == plain(text);
}

void push_click(int x, int y, uint32_t gap_ms) {
  Desk& d = desk();
  uint32_t t = d.time_ms + gap_ms;
  d.input.push_back({InputEvent::Kind::mouse_down, x, y, 0, false, t});
  d.input.push_back({InputEvent::Kind::mouse_up, x, y, 0, false, t + 50});
}

POINT centre(const Rect& r) {
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

void reset_machine(const ScreenSettings& s) {
  Desk::reset();
  Desk& d = desk();
  d.screen.resize(s.width, s.height, to_pixel(sys_color(COLOR_BACKGROUND)));
  d.version_platform = s.version_platform;
  // The program's own module keeps its instance handle across machines.
  GetModuleHandleA(nullptr);
}

HINSTANCE load_module(const std::string& name, const uint8_t* res, size_t size) {
  return register_module(name, res, size);
}

HWND find_top_level(const std::string& cls, const std::string& text) {
  for (Window* t : desk().top_level)
    if (matches(t, cls, text)) return t->handle;
  return nullptr;
}

HWND find_child(HWND parent, const std::string& cls, const std::string& text) {
  Window* p = desk().window(parent);
  if (!p) return nullptr;
  for (Window* c : p->children) {
    if (matches(c, cls, text)) return c->handle;
    if (HWND deeper = find_child(c->handle, cls, text)) return deeper;
  }
  return nullptr;
}

HWND find_child_by_id(HWND parent, int id) {
  return GetDlgItem(parent, id);
}

std::vector<HWND> top_level_windows() {
  std::vector<HWND> out;
  for (Window* t : desk().top_level) out.push_back(t->handle);
  return out;
}

std::string window_text(HWND h) {
  Window* w = desk().window(h);
  return w ? w->text : "";
}
std::string class_name(HWND h) {
  Window* w = desk().window(h);
  return w ? w->cls->name : "";
}
bool is_enabled(HWND h) {
  return IsWindowEnabled(h);
}
bool is_visible(HWND h) {
  return IsWindowVisible(h);
}
bool is_checked(HWND h) {
  return SendMessageA(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
RECT window_rect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}
UINT menu_item_state(HWND h, UINT id) {
  return GetMenuState(GetMenu(h), id, MF_BYCOMMAND);
}

Script& Script::click(int x, int y) {
  steps_.push_back([x, y] { push_click(x, y, 1000); });
  return *this;
}

Script& Script::double_click(int x, int y) {
  steps_.push_back([x, y] {
    push_click(x, y, 1000);
    Desk& d = desk();
    uint32_t t = d.time_ms + 1150;
    d.input.push_back({InputEvent::Kind::mouse_down, x, y, 0, false, t});
    d.input.push_back({InputEvent::Kind::mouse_up, x, y, 0, false, t + 50});
  });
  return *this;
}

Script& Script::click_window(HWND h) {
  steps_.push_back([this, h] {
    Window* w = desk().window(h);
    if (!w) return failures_.push_back("click_window: no such window");
    POINT c = centre(w->rect);
    push_click(c.x, c.y, 1000);
  });
  return *this;
}

Script& Script::click_button(const std::string& text) {
  steps_.push_back([this, text] {
    Window* a = desk().active;
    HWND b = a ? find_child(a->handle, "Button", text) : nullptr;
    Window* w = desk().window(b);
    if (!w)
      return failures_.push_back("click_button: no button \"" + text + "\" in the active window");
    POINT c = centre(w->rect);
    push_click(c.x, c.y, 1000);
  });
  return *this;
}

Script& Script::press_key(int vk, bool alt) {
  steps_.push_back([vk, alt] {
    Desk& d = desk();
    uint32_t t = d.time_ms + 200;
    d.input.push_back({InputEvent::Kind::key_down, 0, 0, vk, alt, t});
    d.input.push_back({InputEvent::Kind::key_up, 0, 0, vk, alt, t + 50});
  });
  return *this;
}

Script& Script::choose_menu(const std::string& bar_item, const std::string& item) {
  steps_.push_back([this, bar_item] {
    Window* a = desk().active;
    Menu* m = a ? desk().menu(a->menu) : nullptr;
    if (!m) return failures_.push_back("choose_menu: the active window has no menu");
    menu_bar_hit(a, 0, 0);  // lays the bar out
    for (auto& it : m->items)
      if (plain(it.text) == plain(bar_item)) {
        POINT c = centre(it.rect);
        return push_click(c.x, c.y, 1000);
      }
    failures_.push_back("choose_menu: no bar item \"" + bar_item + "\"");
  });
  steps_.push_back([this, item] {
    HWND popup = find_top_level("#32768", "");
    Window* pw = desk().window(popup);
    Menu* m = pw ? desk().menu(reinterpret_cast<HMENU>(pw->user_data)) : nullptr;
    if (!m) return failures_.push_back("choose_menu: no popup open");
    for (auto& it : m->items)
      if (!(it.flags & MF_SEPARATOR) && plain(it.text) == plain(item)) {
        POINT c = centre(it.rect);
        return push_click(c.x, c.y, 300);
      }
    failures_.push_back("choose_menu: no item \"" + item + "\"");
    // Close the popup so the program is not left in the menu loop.
    desk().input.push_back(
        {InputEvent::Kind::key_down, 0, 0, VK_ESCAPE, false, desk().time_ms + 100});
  });
  return *this;
}

Script& Script::screenshot(const std::string& path, HWND window) {
  steps_.push_back([this, path, window] {
    if (!write_screenshot(path, window)) failures_.push_back("screenshot: cannot write " + path);
  });
  return *this;
}

Script& Script::wait(uint32_t ms) {
  steps_.push_back([ms] {
    // The tick goes through the input queue, so that timers due before it
    // are delivered first.
    Desk& d = desk();
    d.input.push_back({InputEvent::Kind::tick, 0, 0, 0, false, d.time_ms + ms});
  });
  return *this;
}

Script& Script::run(std::function<void()> step) {
  steps_.push_back(std::move(step));
  return *this;
}

bool Script::add_action(const std::string& action) {
  size_t colon = action.find(':');
  if (colon == std::string::npos) return false;
  std::string verb = action.substr(0, colon), arg = action.substr(colon + 1);
  auto xy = [&](int* x, int* y) { return std::sscanf(arg.c_str(), "%d,%d", x, y) == 2; };
  int x, y;
  if (verb == "click" && xy(&x, &y)) return click(x, y), true;
  if (verb == "dclick" && xy(&x, &y)) return double_click(x, y), true;
  if (verb == "button") return click_button(arg), true;
  if (verb == "screenshot") return screenshot(arg), true;
  if (verb == "wait") {
    char* end = nullptr;
    unsigned long ms = std::strtoul(arg.c_str(), &end, 10);
    if (arg.empty() || *end || ms > 3'600'000) return false;
    return wait(static_cast<uint32_t>(ms)), true;
  }
  if (verb == "menu") {
    size_t slash = arg.find('/');
    if (slash == std::string::npos) return false;
    return choose_menu(arg.substr(0, slash), arg.substr(slash + 1)), true;
  }
  if (verb == "alt" && arg.size() == 1) return press_key(std::toupper(arg[0]), true), true;
  if (verb == "key") {
    static const std::map<std::string, int> keys = {
        {"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"tab", VK_TAB},
        {"space", VK_SPACE},  {"up", VK_UP},         {"down", VK_DOWN},
        {"left", VK_LEFT},    {"right", VK_RIGHT},   {"f10", VK_F10}};
    auto it = keys.find(arg);
    if (it != keys.end()) return press_key(it->second), true;
    if (arg.size() == 1 && std::isalnum(static_cast<unsigned char>(arg[0])))
      return press_key(std::toupper(arg[0])), true;
  }
  return false;
}

bool Script::step() {
  if (done()) return false;
  steps_[next_++]();
  return true;
}

void play(Script* script, std::function<bool()> after) {
  desk().idle = [script, after]() -> bool {
    if (script && !script->done()) {
      script->step();
      return true;
    }
    return after ? after() : false;
  };
}

}  // namespace qzr::user
