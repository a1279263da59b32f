// The sample program run whole, through scripted input, checked on its
// screenshots at the pixels that carry the look.
#include "winsample.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "user_fixture.h"

namespace {

using qzr::user::Script;

using WinsampleTest = SampleProgramTest;

bool is_png(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char sig[8] = {};
  size_t n = std::fread(sig, 1, 8, f);
  std::fclose(f);
  return n == 8 && std::memcmp(sig, "\x89PNG\r\n\x1a\n", 8) == 0;
}

TEST_F(WinsampleTest, MainWindowMenuDialogAndMessageBoxLookTheirPart) {
  std::string shot = scratch_file("sample.png");
  Script s;
  s.run([&] {
    RECT r = qzr::user::window_rect(main());
    EXPECT_EQ((RECT{40, 40, 440, 280}).left, r.left);
    // Active caption: dark blue, and the close box's raised face.
    EXPECT_EQ(RGB(0, 0, 128), at(r.left + 100, r.top + 6));
    EXPECT_EQ(RGB(255, 255, 255), at(r.right - 4 - 2 - 16, r.top + 4 + 2));  // close box light edge
    EXPECT_EQ(RGB(192, 192, 192), at(r.right - 4 - 2 - 3, r.top + 4 + 2 + 1));
    // The frame: light grey outer edge, black at the bottom right.
    EXPECT_EQ(RGB(192, 192, 192), at(r.left, r.top + 50));
    EXPECT_EQ(RGB(0, 0, 0), at(r.right - 1, r.top + 50));
    // The menu bar: grey with black text.
    EXPECT_EQ(RGB(192, 192, 192), at(r.left + 200, r.top + 4 + 19 + 9));
    // The client: white background, the red band, the logo's first bar.
    POINT o{0, 0};
    ClientToScreen(main(), &o);
    EXPECT_EQ(RGB(255, 255, 255), at(o.x + 300, o.y + 100));
    EXPECT_EQ(RGB(255, 0, 0), at(o.x + 100, o.y + 65));
    EXPECT_EQ(RGB(128, 0, 0), at(o.x + 12, o.y + 10));
  });
  s.choose_menu("File", "About...");
  s.run([&] {
    HWND about = GetActiveWindow();
    RECT r = qzr::user::window_rect(about);
    EXPECT_EQ(RGB(0, 0, 128), at(r.left + 60, r.top + 6));
    // The owner's caption went inactive grey.
    RECT m = qzr::user::window_rect(main());
    EXPECT_EQ(RGB(128, 128, 128), at(m.right - 40, m.top + 6));
    // The focus went to the first tab stop, the Details push button: it
    // wears the default frame, and the template's default OK gives it up.
    EXPECT_EQ(GetDlgItem(about, IDC_DETAILS), GetFocus());
    RECT details = qzr::user::window_rect(GetDlgItem(about, IDC_DETAILS));
    EXPECT_EQ(RGB(0, 0, 0), at(details.left, details.top));
    EXPECT_EQ(RGB(255, 255, 255), at(details.left + 1, details.top + 1));
    RECT ok = qzr::user::window_rect(GetDlgItem(about, IDOK));
    EXPECT_EQ(RGB(255, 255, 255), at(ok.left, ok.top));
    EXPECT_EQ(RGB(192, 192, 192), at(r.left + 8, r.bottom - 8));
  });
  s.click_button("Details");
  s.screenshot(shot);
  s.run([&] {
    HWND box = GetActiveWindow();
    EXPECT_EQ("Sample", qzr::user::window_text(box));
    RECT r = qzr::user::window_rect(box);
    // Centred on the screen, the stop sign red at the icon's centre.
    EXPECT_NEAR(400, (r.left + r.right) / 2, 1);
    EXPECT_NEAR(300, (r.top + r.bottom) / 2, 1);
    HWND icon = qzr::user::find_child(box, "Static", "#32513");
    ASSERT_NE(nullptr, icon);
    RECT ir = qzr::user::window_rect(icon);
    EXPECT_EQ(RGB(255, 0, 0), at(ir.left + 6, ir.top + 15));
    EXPECT_EQ(RGB(255, 255, 255), at(ir.left + 15, ir.top + 15));  // the cross
  });
  s.press_key(VK_RETURN);
  s.click_button("OK");
  s.choose_menu("File", "Exit");
  EXPECT_EQ(0, run(s));
  EXPECT_TRUE(is_png(shot));
  std::remove(shot.c_str());
}

}  // namespace

namespace {

// The --do actions of qzrsim run: what parses, and what a user mistyped.
TEST(ScriptActions, ParseOrRefuse) {
  struct Case {
    const char* action;
    bool ok;
  } cases[] = {
      {"click:10,20", true}, {"click:10", false}, {"dclick:1,2", true},
      {"key:enter", true},   {"key:q", true},     {"key:nosuchkey", false},
      {"alt:F", true},       {"alt:FF", false},   {"menu:File/Exit", true},
      {"menu:File", false},  {"button:OK", true}, {"screenshot:/tmp/x.png", true},
      {"wait:250", true},    {"wait:", false},    {"wait:2x", false},
      {"wait:-5", false},    {"fly:1", false},    {"click", false},
  };
  for (const auto& c : cases) {
    Script s;
    EXPECT_EQ(c.ok, s.add_action(c.action)) << c.action;
  }
}

}  // namespace
