// Runs each test in a fresh, empty current directory, with TMPDIR pointing at another, so
// that the files a job leaves in either can be seen; both are removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_images.h"

namespace quillet::testing {

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previous_ = cwd;
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    tmp_ = MakeTempDir();
    ASSERT_FALSE(tmp_.empty());
    if (const char* given = std::getenv("TMPDIR")) {
      hadTmpdir_ = true;
      previousTmpdir_ = given;
    }
    setenv("TMPDIR", tmp_.c_str(), 1);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    if (!previous_.empty()) {
      EXPECT_EQ(chdir(previous_.c_str()), 0);
    }
    if (hadTmpdir_) {
      setenv("TMPDIR", previousTmpdir_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    if (!tmp_.empty()) std::filesystem::remove_all(tmp_, ignored);
  }
  // Everything under TMPDIR, each path relative to it, sorted: empty once every job cleaned up.
  std::string TempListing() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tmp_, ignored))
      names.push_back(std::filesystem::relative(entry.path(), tmp_).string());
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) all += (all.empty() ? "" : " ") + name;
    return all;
  }
  const std::string& TempDir() const { return tmp_; }
  // Names of the files in the current directory, sorted.
  static std::string Listing() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) all += (all.empty() ? "" : " ") + name;
    return all;
  }
  const std::string& Dir() const { return dir_; }

 private:
  std::string previous_;
  std::string dir_;
  std::string tmp_;
  bool hadTmpdir_ = false;
  std::string previousTmpdir_;
};

}  // namespace quillet::testing
