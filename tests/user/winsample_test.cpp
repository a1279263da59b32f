// The sample program run whole, through scripted input and screenshots.
#include "winsample.h"

#include <unistd.h>

#include "user_fixture.h"

namespace {

using qzr::user::Script;

class WinsampleTest : public UserTest {
 protected:
  int run(Script& script) {
    qzr::user::play(&script);
    int code = WinMain(instance_, nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
    for (const auto& f : script.failures()) ADD_FAILURE() << f;
    return code;
  }
};

TEST_F(WinsampleTest, ShotsForLooking) {
  Script s;
  s.screenshot("/tmp/ws_main.png");
  s.choose_menu("File", "About...");
  s.screenshot("/tmp/ws_about.png");
  s.click_button("Details");
  s.screenshot("/tmp/ws_msgbox.png");
  s.press_key(VK_RETURN);
  s.press_key(VK_RETURN);
  s.choose_menu("Options", "Checked");
  s.click(60, 75);
  s.screenshot("/tmp/ws_menu.png");
  s.press_key(VK_ESCAPE);
  EXPECT_EQ(0, run(s));
}

}  // namespace
