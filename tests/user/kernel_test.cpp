// The kernel32 text calls the windowed programs make, with Windows' sizes:
// a long is 32 bits there, so "%ld" must read a 32-bit argument.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

TEST(Wsprintf, LongIsThirtyTwoBitsAsOnWindows) {
  char out[1100];
  struct Case {
    std::string got, want;
  } cases[] = {
      {(wsprintfA(out, "%ld Megabytes", static_cast<ULONG>(4294)), out), "4294 Megabytes"},
      {(wsprintfA(out, "%ld", static_cast<LONG>(-5)), out), "-5"},
      {(wsprintfA(out, "%lu|%lx|%5ld|%-3ld|", static_cast<ULONG>(0xFFFFFFFFu),
                  static_cast<ULONG>(0xBEEFu), static_cast<LONG>(-42), static_cast<LONG>(7)),
        out),
       "4294967295|beef|  -42|7  |"},
      // Past the six register arguments the rest go on the stack.
      {(wsprintfA(out, "%d %d %d %d %d %ld %ld", 1, 2, 3, 4, 5, static_cast<LONG>(-6),
                  static_cast<LONG>(-7)),
        out),
       "1 2 3 4 5 -6 -7"},
      {(wsprintfA(out, " ID - %d", 3), out), " ID - 3"},
      {(wsprintfA(out, "100%% %s %c", "done", 'x'), out), "100% done x"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, c.got);
  std::string long_text(1500, 'a');
  EXPECT_EQ(1024, wsprintfA(out, "%s", long_text.c_str()));
  EXPECT_EQ(1024u, std::string(out).size());
}

}  // namespace
