// A scratch folder per test, named after the process so parallel runs of
// two presets never share one.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "nt/runtime/machine_root.h"
#include "nt/runtime/machine_runtime.h"

namespace qzr::nt::runtime {

class RootFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = std::filesystem::temp_directory_path() /
               ("qzr-runtime-" + std::to_string(::getpid()) + "-" + info->name());
    std::filesystem::remove_all(scratch_);
    std::filesystem::create_directories(scratch_);
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  std::filesystem::path root_dir() const { return scratch_ / "root"; }

  // Opens the root (taking its lock) and boots it; null after a failed
  // expectation naming the reason.
  std::unique_ptr<BootedMachine> boot() {
    std::string error;
    auto root = MachineRoot::open(root_dir(), error);
    EXPECT_TRUE(root) << error;
    if (!root) return nullptr;
    auto booted = boot_root(std::move(root), error);
    EXPECT_TRUE(booted) << error;
    return booted;
  }
  const std::filesystem::path& scratch() const { return scratch_; }

  static std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static void write_file(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

 private:
  std::filesystem::path scratch_;
};

}  // namespace qzr::nt::runtime
