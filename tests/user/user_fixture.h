// A fresh windowing machine per test, with the sample's resources loaded.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "user.h"

class UserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qzr::user::reset_machine();
    instance_ = GetModuleHandleA(nullptr);
  }
  void TearDown() override { qzr::user::reset_machine(); }

  static COLORREF at(int x, int y) {
    uint32_t p = qzr::user::screen_pixel(x, y);
    return RGB((p >> 16) & 0xff, (p >> 8) & 0xff, p & 0xff);
  }

  HINSTANCE instance_ = nullptr;
};

// Runs the sample program's WinMain under a script; every step the script
// could not take is a test failure.
class SampleProgramTest : public UserTest {
 protected:
  int run(qzr::user::Script& script) {
    qzr::user::play(&script);
    int code = WinMain(instance_, nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
    for (const auto& f : script.failures()) ADD_FAILURE() << f;
    return code;
  }
  static HWND main() { return qzr::user::find_top_level("SampleClass", ""); }
};

inline std::string scratch_file(const std::string& name) {
  return ::testing::TempDir() + "/user_" + std::to_string(::getpid()) + "_" + name;
}
