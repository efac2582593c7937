#include "app/run_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/configuration.h"
#include "app/run_lock.h"
#include "platform/ini_file.h"
#include "util/ascii.h"
#include "util/connection_path.h"
#include "util/error.h"
#include "util/whole_file.h"

namespace {

constexpr char kLogFileName[] = "LOG.TXT";
// The first bytes of a table file: a plain SQLite database, or a sealed one.
constexpr char kSqliteSignature[] = "SQLite format 3";  // and its NUL
constexpr char kSealedSignature[] = "KDXSEAL";          // and its NUL

// Where a path leads: the file it names when that exists (device and inode),
// and its absolute path with links and "." / ".." resolved as far as the
// folders exist.
struct Place {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string resolved;
};

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return "";
  std::string out(real);
  std::free(real);
  return out;
}

std::string FolderPart(const std::string& path) {
  const size_t cut = path.rfind('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

std::string NamePart(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

Place PlaceOf(const std::string& path) {
  Place place;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    place.exists = true;
    place.dev = st.st_dev;
    place.ino = st.st_ino;
    place.resolved = RealPath(path);
    if (!place.resolved.empty()) return place;
  }
  const std::string folder = RealPath(FolderPart(path));
  if (!folder.empty()) {
    place.resolved = (folder == "/" ? folder : folder + "/") + NamePart(path);
  } else {
    place.resolved = path;
  }
  return place;
}

bool SamePlace(const Place& a, const Place& b) {
  if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino;
  return a.resolved == b.resolved;
}

// What a path that exists is when it is not a regular file; empty for one.
std::string NotARegularFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "";
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "";
}

bool StartsWithSignature(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  char head[16] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n < 8) return false;
  return (n == 16 && std::memcmp(head, kSqliteSignature, sizeof kSqliteSignature) == 0) ||
         std::memcmp(head, kSealedSignature, sizeof kSealedSignature) == 0;
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && EqualsNoCase(text.substr(text.size() - end.size()), end);
}

std::string Stem(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The folder whose files are the database's tables (a folder of free tables,
// or the folder of a dictionary file); none for a server.
std::optional<std::string> DatabaseFolder(const std::string& source_path) {
  if (source_path.empty() || IsServerUri(source_path)) return std::nullopt;
  struct stat st {};
  if (::stat(source_path.c_str(), &st) != 0) return std::nullopt;
  const std::string folder = S_ISDIR(st.st_mode) ? RealPath(source_path) : RealPath(FolderPart(source_path));
  if (folder.empty()) return std::nullopt;
  return folder;
}

// Whether the file `name` of the database folder is, or would become, part
// of the database: a table file (by its extension, or by its first bytes),
// the bare name a table file is found under, or a table's companion journal,
// write-ahead log or index.
bool IsDatabaseName(const std::string& folder, const std::string& name) {
  for (const char* companion : {"-journal", "-wal", "-shm"}) {
    if (EndsWithNoCase(name, companion)) return true;
  }
  if (EndsWithNoCase(name, ".adt") || EndsWithNoCase(name, ".add")) return true;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string entry_name = entry->d_name;
    if (!EqualsNoCase(entry_name, name) && !EqualsNoCase(Stem(entry_name), name)) continue;
    if (StartsWithSignature(folder + "/" + entry_name)) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// A default written for another system: a drive letter or back slashes.
bool IsForeignPath(const std::string& path) {
  if (path.find('\\') != std::string::npos) return true;
  return path.size() >= 2 && path[1] == ':' && ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
}

std::string Quoted(const std::string& path) { return "'" + ShownConnectionPath(path) + "'"; }

}  // namespace

std::vector<RunOutput> UnattendedOutputs(const RunState& state) {
  return {{kEmployeePathKey, state.EmployeePath}, {kLeavePathKey, state.LeavePath}};
}

std::vector<RunOutput> LeaveCsvOutputs(const RunState&, const std::string& csv_file) {
  return {{kLeavePathKey, csv_file}};
}

namespace {

// The problems of the settings themselves: a value the run reads that is
// cut at its length limit, or left at a default written for another system,
// and an empty SourcePath.
void AddSettingProblems(const RunState& state, const std::vector<RunOutput>& outputs,
                        std::vector<std::string>& problems) {
  const std::string& ini = state.ConfigurationFile;
  const IniFile file(ini);
  std::string missing_file_reason;
  struct stat ini_stat {};
  if (::stat(ini.c_str(), &ini_stat) != 0) {
    missing_file_reason = ini + " does not exist";
  } else if (S_ISDIR(ini_stat.st_mode)) {
    missing_file_reason = ini + " is a folder, not a file";
  } else if (!file.Exists()) {
    missing_file_reason = ini + " cannot be read";
  }
  for (const ConfigurationValue& v : DescribeConfiguration(ini)) {
    const bool used = v.key == kSourcePathKey ||
                      std::any_of(outputs.begin(), outputs.end(), [&](const RunOutput& o) { return v.key == o.key; });
    if (!used) continue;
    if (v.cut) {
      problems.push_back(state.Setting(v.key.c_str()) + " is longer than " + std::to_string(kMaxProfileValue) +
                         " characters; only its first " + std::to_string(kMaxProfileValue) +
                         " are read, which name another file than the one meant");
    }
    if (!v.from_file && IsForeignPath(v.value)) {
      problems.push_back(v.key + " is not set (" +
                         (missing_file_reason.empty() ? v.key + " is missing from " + ini : missing_file_reason) +
                         "), and its default " + Quoted(v.value) + " cannot be a path on this system");
    }
  }
  if (state.SourcePath.empty()) {
    problems.push_back("Must specify connection string before getting a server connection. (" +
                       state.Setting(kSourcePathKey) + " is empty)");
  }
}

// The problems of the outputs, against what they must never overwrite: a
// file that is no regular file, the run's own files, the database's files
// and each other.
void AddOutputProblems(const RunState& state, const std::vector<RunOutput>& outputs, const RunSite& site,
                       std::vector<std::string>& problems) {
  const std::string& ini = state.ConfigurationFile;
  struct Guarded {
    std::string what;
    Place place;
  };
  std::vector<Guarded> guarded = {
      {"the configuration file " + ini, PlaceOf(ini)},
      {"the run log " + state.ProgramFolder + kLogFileName, PlaceOf(state.ProgramFolder + kLogFileName)},
      {"the run lock " + state.ProgramFolder + kRunLockFileName, PlaceOf(state.ProgramFolder + kRunLockFileName)},
      {"the program " + site.program, PlaceOf(site.program)},
  };
  const std::optional<std::string> database_folder = DatabaseFolder(state.SourcePath);
  std::vector<std::pair<const RunOutput*, Place>> checked;
  for (const RunOutput& output : outputs) {
    if (output.path.empty()) continue;  // the output's own open names the setting
    const std::string setting = state.Setting(output.key);
    const std::string named = setting + " names " + Quoted(output.path);
    if (const std::string kind = NotARegularFile(output.path); !kind.empty()) {
      problems.push_back(named + ", which is " + kind + "; the run replaces only regular files");
      continue;
    }
    const Place place = PlaceOf(output.path);
    bool refused = false;
    for (const Guarded& g : guarded) {
      if (SamePlace(place, g.place)) {
        problems.push_back(named + ", which is " + g.what);
        refused = true;
        break;
      }
    }
    if (refused) continue;
    if (database_folder && FolderPart(place.resolved) == *database_folder &&
        IsDatabaseName(*database_folder, NamePart(place.resolved))) {
      problems.push_back(named + ", a file of the HR database in " + *database_folder);
      continue;
    }
    for (const auto& [other, other_place] : checked) {
      if (SamePlace(place, other_place)) {
        problems.push_back(named + ", the same file as " + state.Setting(other->key) + " " + Quoted(other->path));
        refused = true;
        break;
      }
    }
    if (!refused) checked.emplace_back(&output, place);
  }
}

}  // namespace

std::vector<std::string> RunPathProblems(const RunState& state, const std::vector<RunOutput>& outputs,
                                         const RunSite& site) {
  std::vector<std::string> problems;
  AddSettingProblems(state, outputs, problems);
  AddOutputProblems(state, outputs, site, problems);
  return problems;
}

void RefuseBadRunPaths(const RunState& state, const std::vector<RunOutput>& outputs, const RunSite& site) {
  const std::vector<std::string> problems = RunPathProblems(state, outputs, site);
  if (problems.empty()) return;
  std::string message;
  for (const std::string& problem : problems) message += (message.empty() ? "" : "; ") + problem;
  throw EConfigurationError(message);
}

namespace {

// Edit distance without regard to case (insertions, deletions,
// substitutions and swaps of neighbours each count 1).
size_t Distance(const std::string& a, const std::string& b) {
  const std::string x = ToUpperAscii(a), y = ToUpperAscii(b);
  std::vector<std::vector<size_t>> d(x.size() + 1, std::vector<size_t>(y.size() + 1));
  for (size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    for (size_t j = 1; j <= y.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[x.size()][y.size()];
}

// `text` without the blanks, tabs and CRs around it.
std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The sections of an INI file as IniFile reads them ("[name]" lines, the
// name trimmed), each once, in file order.
std::vector<std::string> Sections(const std::string& path) {
  std::string contents;
  std::vector<std::string> sections;
  if (!ReadWholeFile(path, &contents, nullptr)) return sections;
  size_t start = contents.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;  // a UTF-8 byte order mark
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    std::string line = Trimmed(contents.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] != '[') continue;
    const size_t close = line.find(']');
    const std::string name = Trimmed(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    if (std::none_of(sections.begin(), sections.end(), [&](const std::string& s) { return EqualsNoCase(s, name); })) {
      sections.push_back(name);
    }
  }
  return sections;
}

}  // namespace

std::vector<std::string> UnknownKeyWarnings(const std::string& configuration_file) {
  static const char* const kKnown[] = {kSourcePathKey, kEmployeePathKey, kLeavePathKey};
  std::vector<std::string> warnings;
  for (const std::string& section : Sections(configuration_file)) {
    if (EqualsNoCase(section, kPathSection)) continue;
    warnings.push_back(std::string(kConfigurationFileName) + ": unknown section " + section + " of " +
                       configuration_file + " (did you mean " + kPathSection + "?)");
  }
  for (const std::string& key : IniFile(configuration_file).Keys(kPathSection)) {
    if (std::any_of(std::begin(kKnown), std::end(kKnown), [&](const char* k) { return EqualsNoCase(key, k); })) {
      continue;
    }
    const char* nearest = *std::min_element(std::begin(kKnown), std::end(kKnown), [&](const char* a, const char* b) {
      return Distance(key, a) < Distance(key, b);
    });
    warnings.push_back(std::string(kConfigurationFileName) + ": unknown key " + key + " in section " + kPathSection +
                       " of " + configuration_file + " (did you mean " + nearest + "?)");
  }
  return warnings;
}
