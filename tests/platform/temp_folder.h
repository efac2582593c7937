// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends.
#ifndef KDX_TESTS_PLATFORM_TEMP_FOLDER_H_
#define KDX_TESTS_PLATFORM_TEMP_FOLDER_H_

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/scratch_folder.h"

class TempFolderTest : public ::testing::Test {
 protected:
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

  test_support::ScratchFolder scratch_;
  std::string folder_ = scratch_.Path() + "/";
};

#endif  // KDX_TESTS_PLATFORM_TEMP_FOLDER_H_
