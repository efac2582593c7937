#include "app/configuration.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/ini_file.h"
#include "util/ascii.h"
#include "util/date_format.h"
#include "util/error.h"

namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The keys of section PATH in the order they are read, with their defaults
// and the run state field each one fills.
struct PathKey {
  const char* key;
  const char* default_value;
  std::string RunState::*field;
};
constexpr PathKey kPathKeys[] = {
    {kSourcePathKey, kDefaultSourcePath, &RunState::SourcePath},
    {kEmployeePathKey, kDefaultEmployeePath, &RunState::EmployeePath},
    {kLeavePathKey, kDefaultLeavePath, &RunState::LeavePath},
};

// A default no file can hold: values are read line by line, so none holds a
// line feed.
constexpr char kAbsent[] = "\n";

}  // namespace

RunSite::RunSite(std::string program_path)
    : program(std::move(program_path)), folder(ProgramFolderOf(program)), origin(Origin::kProgramFolder) {}

RunSite::RunSite(std::string program_path, std::string site_folder, Origin origin_)
    : program(std::move(program_path)), folder(std::move(site_folder)), origin(origin_) {}

std::string RunSite::Why() const {
  switch (origin) {
    case Origin::kOption:
      return "given by --site";
    case Origin::kEnvironment:
      return std::string("given by the environment variable ") + kSiteVariable;
    case Origin::kProgramFolder:
      break;
  }
  return std::string("the program's own folder: no --site, no ") + kSiteVariable;
}

RunSite ChooseRunSite(const std::string& program_path, const std::optional<std::string>& option,
                      const char* environment) {
  std::string folder;
  RunSite::Origin origin = RunSite::Origin::kOption;
  if (option) {
    folder = *option;
  } else if (environment != nullptr && environment[0] != '\0') {
    folder = environment;
    origin = RunSite::Origin::kEnvironment;
  } else {
    return RunSite(program_path);
  }
  if (folder.empty() || folder[0] != '/') {
    std::vector<char> buf(4096);
    if (::getcwd(buf.data(), buf.size()) != nullptr) folder = std::string(buf.data()) + "/" + folder;
  }
  if (folder.back() != '/') folder += '/';
  return RunSite(program_path, folder, origin);
}

std::string SiteFolderProblem(const RunSite& site) {
  if (site.origin == RunSite::Origin::kProgramFolder) return "";
  struct stat st {};
  const std::string shown = "site folder '" + site.folder + "' (" + site.Why() + ")";
  if (::stat(site.folder.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT) return shown + " does not exist";
    if (err == ENOTDIR) return shown + " is not a folder";
    return shown + ": " + std::strerror(err);
  }
  if (!S_ISDIR(st.st_mode)) return shown + " is not a folder";
  return "";
}

std::string ProgramFolderOf(const std::string& program_path) {
  size_t cut = program_path.find_last_of("\\/");
  if (cut == std::string::npos) cut = program_path.find_last_of(':');
  return cut == std::string::npos ? std::string() : program_path.substr(0, cut + 1);
}

std::string ConfigurationFilePath(const std::string& program_folder) {
  const std::string exact = program_folder + kConfigurationFileName;
  if (IsFile(exact)) return exact;
  DIR* dir = ::opendir(program_folder.empty() ? "." : program_folder.c_str());
  if (dir == nullptr) return exact;
  std::vector<std::string> matches;
  while (const dirent* entry = ::readdir(dir)) {
    if (EqualsNoCase(entry->d_name, kConfigurationFileName)) matches.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  // Several spellings in one folder: take the first in byte order, so the
  // choice does not depend on the order the folder lists them in.
  std::sort(matches.begin(), matches.end());
  for (const std::string& name : matches) {
    if (IsFile(program_folder + name)) return program_folder + name;
  }
  return exact;
}

void LoadConfiguration(RunState& state, const Clock& clock, const RunSite& site) {
  state.ProgramFolder = site.folder;
  state.RunPeriod = FormatDateTime("YYYYMM", clock.Now());
  state.ConfigurationFile = ConfigurationFilePath(state.ProgramFolder);
  const IniFile ini(state.ConfigurationFile);
  for (const PathKey& key : kPathKeys) state.*key.field = ini.ReadString(kPathSection, key.key, key.default_value);
}

std::vector<ConfigurationValue> DescribeConfiguration(const std::string& configuration_file) {
  const IniFile ini(configuration_file);
  std::vector<ConfigurationValue> values;
  for (const PathKey& key : kPathKeys) {
    ConfigurationValue v{key.key, ini.ReadString(kPathSection, key.key, kAbsent), true,
                         ini.IsCut(kPathSection, key.key)};
    if (v.value == kAbsent) v = {key.key, key.default_value, false, false};
    values.push_back(std::move(v));
  }
  return values;
}

std::string RunningProgramPath() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) {
      throw Exception(std::string("Cannot find the program's own path: ") + std::strerror(errno));
    }
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}
