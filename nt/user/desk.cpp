// The desk: handle tables and the reset that gives tests a fresh machine.
#include "state.h"

namespace qzr::user {

namespace {
std::unique_ptr<Desk>& instance() {
  static std::unique_ptr<Desk> desk;
  return desk;
}
}  // namespace

namespace {
uint64_t desks_made = 0;
}

// The machine root's screen and Windows version, when the program runs on
// one (the runtime is linked in); the defaults otherwise.
extern "C" __attribute__((weak)) int nt_runtime_screen(int* width, int* height, int* platform);

Desk::Desk() : generation(++desks_made) {
  int width = 800, height = 600;
  if (nt_runtime_screen) nt_runtime_screen(&width, &height, &version_platform);
  screen.resize(width, height, to_pixel(sys_color(COLOR_BACKGROUND)));
}

Desk& Desk::get() {
  auto& d = instance();
  if (!d) {
    d.reset(new Desk());
    register_system_classes();
  }
  return *d;
}

void Desk::reset() {
  instance().reset();
}

Rect Rect::intersect(const Rect& o) const {
  Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
         std::min(bottom, o.bottom)};
  if (r.empty()) return {};
  return r;
}

Rect Rect::unite(const Rect& o) const {
  if (empty()) return o;
  if (o.empty()) return *this;
  return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right),
          std::max(bottom, o.bottom)};
}

std::vector<Rect> subtract(const Rect& r, const Rect& hole) {
  Rect h = r.intersect(hole);
  if (h.empty()) return {r};
  std::vector<Rect> out;
  if (h.top > r.top) out.push_back({r.left, r.top, r.right, h.top});
  if (h.bottom < r.bottom) out.push_back({r.left, h.bottom, r.right, r.bottom});
  if (h.left > r.left) out.push_back({r.left, h.top, h.left, h.bottom});
  if (h.right < r.right) out.push_back({h.right, h.top, r.right, h.bottom});
  return out;
}

COLORREF sys_color(int index) {
  switch (index) {
    case COLOR_BACKGROUND:
      return RGB(0, 128, 128);
    case COLOR_ACTIVECAPTION:
      return RGB(0, 0, 128);
    case COLOR_INACTIVECAPTION:
      return RGB(128, 128, 128);
    case COLOR_MENU:
      return RGB(192, 192, 192);
    case COLOR_WINDOW:
      return RGB(255, 255, 255);
    case COLOR_WINDOWFRAME:
      return RGB(0, 0, 0);
    case COLOR_MENUTEXT:
      return RGB(0, 0, 0);
    case COLOR_WINDOWTEXT:
      return RGB(0, 0, 0);
    case COLOR_CAPTIONTEXT:
      return RGB(255, 255, 255);
    case COLOR_ACTIVEBORDER:
      return RGB(192, 192, 192);
    case COLOR_INACTIVEBORDER:
      return RGB(192, 192, 192);
    case COLOR_APPWORKSPACE:
      return RGB(128, 128, 128);
    case COLOR_HIGHLIGHT:
      return RGB(0, 0, 128);
    case COLOR_HIGHLIGHTTEXT:
      return RGB(255, 255, 255);
    case COLOR_BTNFACE:
      return RGB(192, 192, 192);
    case COLOR_BTNSHADOW:
      return RGB(128, 128, 128);
    case COLOR_GRAYTEXT:
      return RGB(128, 128, 128);
    case COLOR_BTNTEXT:
      return RGB(0, 0, 0);
    case COLOR_INACTIVECAPTIONTEXT:
      return RGB(192, 192, 192);
    case COLOR_BTNHIGHLIGHT:
      return RGB(255, 255, 255);
    case COLOR_3DDKSHADOW:
      return RGB(0, 0, 0);
    case COLOR_3DLIGHT:
      return RGB(192, 192, 192);
    default:
      return RGB(192, 192, 192);
  }
}

Window* Desk::window(HWND h) const {
  auto it = windows_.find(reinterpret_cast<uintptr_t>(h));
  return it == windows_.end() ? nullptr : it->second.get();
}
Menu* Desk::menu(HMENU h) const {
  auto it = menus_.find(reinterpret_cast<uintptr_t>(h));
  return it == menus_.end() ? nullptr : it->second.get();
}
GdiObject* Desk::object(HGDIOBJ h) const {
  auto it = objects_.find(reinterpret_cast<uintptr_t>(h));
  return it == objects_.end() ? nullptr : it->second.get();
}
Dc* Desk::dc(HDC h) const {
  auto it = dcs_.find(reinterpret_cast<uintptr_t>(h));
  return it == dcs_.end() ? nullptr : it->second.get();
}
HWND Desk::add_window(std::unique_ptr<Window> w) {
  uintptr_t h = take_handle();
  w->handle = reinterpret_cast<HWND>(h);
  windows_[h] = std::move(w);
  return reinterpret_cast<HWND>(h);
}
void Desk::remove_window(Window* w) {
  windows_.erase(reinterpret_cast<uintptr_t>(w->handle));
}
HMENU Desk::add_menu(std::unique_ptr<Menu> m) {
  uintptr_t h = take_handle();
  menus_[h] = std::move(m);
  return reinterpret_cast<HMENU>(h);
}
void Desk::remove_menu(HMENU h) {
  menus_.erase(reinterpret_cast<uintptr_t>(h));
}
HGDIOBJ Desk::add_object(std::unique_ptr<GdiObject> o) {
  uintptr_t h = take_handle();
  objects_[h] = std::move(o);
  return reinterpret_cast<HGDIOBJ>(h);
}
void Desk::remove_object(HGDIOBJ h) {
  objects_.erase(reinterpret_cast<uintptr_t>(h));
}
HDC Desk::add_dc(std::unique_ptr<Dc> d) {
  uintptr_t h = take_handle();
  dcs_[h] = std::move(d);
  return reinterpret_cast<HDC>(h);
}
void Desk::remove_dc(HDC h) {
  dcs_.erase(reinterpret_cast<uintptr_t>(h));
}

}  // namespace qzr::user
