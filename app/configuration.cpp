#include "app/configuration.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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


}  // namespace

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

void LoadConfiguration(RunState& state, const Clock& clock, const std::string& program_path) {
  state.ProgramFolder = ProgramFolderOf(program_path);
  state.RunPeriod = FormatDateTime("YYYYMM", clock.Now());
  const IniFile ini(ConfigurationFilePath(state.ProgramFolder));
  state.SourcePath = ini.ReadString(kPathSection, "SOURCE_PATH", kDefaultSourcePath);
  state.EmployeePath = ini.ReadString(kPathSection, "EMPLOYEE_PATH", kDefaultEmployeePath);
  state.LeavePath = ini.ReadString(kPathSection, "LEAVE_PATH", kDefaultLeavePath);
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
