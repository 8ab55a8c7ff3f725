// Runs each Windows test in a fresh current directory, with TMP (where the platform puts
// temporary folders, children's too) pointing into a fresh folder of its own; both are
// removed afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_images.h"

namespace quillet::testing {

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(sizeof cwd, cwd), 0u);
    previous_ = cwd;
    dir_ = MakeTempDir();
    tmp_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty() || tmp_.empty());
    char given[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("TMP", given, sizeof given);
    if (length > 0 && length < sizeof given) previousTmp_ = given;
    ASSERT_TRUE(SetEnvironmentVariableA("TMP", tmp_.c_str()));
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  }
  void TearDown() override {
    SetCurrentDirectoryA(previous_.c_str());
    SetEnvironmentVariableA("TMP", previousTmp_.empty() ? nullptr : previousTmp_.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    std::filesystem::remove_all(tmp_, ignored);
  }
  // Everything under TMP: empty once every job cleaned up after itself.
  std::string TempListing() const {
    std::string all;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tmp_, ignored)) {
      if (!all.empty()) all.push_back(' ');
      all.append(std::filesystem::relative(entry.path(), tmp_).string());
    }
    return all;
  }
  const std::string& Dir() const { return dir_; }

 private:
  std::string previous_, previousTmp_, dir_, tmp_;
};

}  // namespace quillet::testing
