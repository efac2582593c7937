// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends.
#ifndef KDX_TESTS_PLATFORM_TEMP_FOLDER_H_
#define KDX_TESTS_PLATFORM_TEMP_FOLDER_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kdx-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern + "/";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(folder_, ec);
  }
  std::string PathOf(const std::string& name) const { return folder_ + name; }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
  }

  std::string folder_;  // ends in "/"
};

#endif  // KDX_TESTS_PLATFORM_TEMP_FOLDER_H_
