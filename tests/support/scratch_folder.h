// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the object goes (also entries the test made
// unreadable or unwritable).
#ifndef KDX_TESTS_SUPPORT_SCRATCH_FOLDER_H_
#define KDX_TESTS_SUPPORT_SCRATCH_FOLDER_H_

#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <system_error>

namespace test_support {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("kdx-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto& entry : fs::recursive_directory_iterator(path_, ec)) {
      // A link is left as it is: what it points to is not the test's.
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ec);
    }
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path() const { return path_.string(); }
  // `name` inside the folder.
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // `name` inside the folder, made if it is a folder that does not exist yet.
  std::string Sub(const std::string& name, bool make_folder = false) const {
    const std::filesystem::path p = path_ / name;
    if (make_folder) std::filesystem::create_directories(p);
    return p.string();
  }
  // The names of the entries directly inside the folder.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.insert(e.path().filename().string());
    return names;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support

#endif  // KDX_TESTS_SUPPORT_SCRATCH_FOLDER_H_
