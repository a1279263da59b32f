// Starts a windowed program on its own: headless by default, live on the X
// display when one is set. Scripted actions and a final screenshot come
// from the command line (--do ACTION, --screenshot FILE) or from the
// environment (QZR_DO, actions separated by ';', and QZR_SCREENSHOT).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "user.h"

int main(int argc, char** argv) {
  using namespace qzr::user;
  Script script;
  std::string shot;
  bool live = std::getenv("DISPLAY") && *std::getenv("DISPLAY");
  if (const char* env = std::getenv("QZR_DO")) {
    std::string all = env;
    for (size_t start = 0; start <= all.size();) {
      size_t end = all.find(';', start);
      if (end == std::string::npos) end = all.size();
      std::string one = all.substr(start, end - start);
      if (!one.empty() && !script.add_action(one)) {
        std::fprintf(stderr, "%s: unknown action '%s'\n", argv[0], one.c_str());
        return 2;
      }
      start = end + 1;
    }
  }
  if (const char* env = std::getenv("QZR_SCREENSHOT")) shot = env;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--do" && i + 1 < argc) {
      if (!script.add_action(argv[++i])) {
        std::fprintf(stderr, "%s: unknown action '%s'\n", argv[0], argv[i]);
        return 2;
      }
    } else if (a == "--screenshot" && i + 1 < argc) {
      shot = argv[++i];
    } else if (a == "--headless") {
      live = false;
    } else {
      std::fprintf(stderr, "usage: %s [--do ACTION]... [--screenshot FILE] [--headless]\n",
                   argv[0]);
      return 2;
    }
  }
  bool shot_taken = false;
  bool display_open = live && open_live_display();
  play(&script, [&]() -> bool {
    if (!shot.empty() && !shot_taken) {
      shot_taken = true;
      if (!write_screenshot(shot))
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], shot.c_str());
    }
    // With a script or a screenshot the run ends when they are done.
    if (!display_open || !shot.empty() || !script.done()) return false;
    return live_display_wait();
  });
  int code = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
  if (display_open) close_live_display();
  for (const auto& f : script.failures()) std::fprintf(stderr, "%s: %s\n", argv[0], f.c_str());
  return script.failures().empty() ? code : 1;
}
