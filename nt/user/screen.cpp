// The screen and its screenshots.
#include <png.h>

#include <cstdio>
#include <memory>

#include "state.h"
#include "user.h"

namespace qzr::user {

uint32_t screen_pixel(int x, int y) {
  Pixels& s = desk().screen;
  if (x < 0 || y < 0 || x >= s.width || y >= s.height) return 0;
  return s.row(y)[x];
}
int screen_width() {
  return desk().screen.width;
}
int screen_height() {
  return desk().screen.height;
}

bool write_screenshot(const std::string& path, HWND window) {
  Desk& d = desk();
  Rect area{0, 0, d.screen.width, d.screen.height};
  if (window) {
    Window* w = d.window(window);
    if (!w) return false;
    area = w->rect.intersect(area);
    if (area.empty()) return false;
  }
  // Paint anything stale first: a screenshot shows what the user would see.
  for (int i = 0; i < 10000; ++i) {
    Window* p = next_to_paint();
    if (!p) break;
    paint_now(p);
  }
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, area.width(), area.height(), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<size_t>(area.width()) * 3);
  for (int y = area.top; y < area.bottom; ++y) {
    const uint32_t* src = d.screen.row(y) + area.left;
    for (int x = 0; x < area.width(); ++x) {
      row[3 * x] = static_cast<png_byte>(src[x] >> 16);
      row[3 * x + 1] = static_cast<png_byte>(src[x] >> 8);
      row[3 * x + 2] = static_cast<png_byte>(src[x]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace qzr::user
