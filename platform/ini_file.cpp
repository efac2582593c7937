#include "platform/ini_file.h"

#include <string_view>

#include "util/ascii.h"
#include "util/whole_file.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A byte-order mark some editors put in front of a text file.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

IniFile::IniFile(const std::string& path) {
  std::string contents;
  // An unreadable file counts as missing.
  if (!ReadWholeFile(path, &contents, nullptr)) return;
  exists_ = true;
  Parse(contents);
}

void IniFile::Parse(const std::string& contents) {
  std::string_view rest(contents);
  if (rest.substr(0, kUtf8Bom.size()) == kUtf8Bom) rest.remove_prefix(kUtf8Bom.size());
  std::string section;
  bool in_section = false;
  while (!rest.empty()) {
    const size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      section = std::string(Trim(line.substr(1, close == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : close - 1)));
      in_section = true;
      continue;
    }
    if (!in_section) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    entries_.push_back(
        Entry{section, std::string(Trim(line.substr(0, eq))), std::string(value)});
  }
}

const IniFile::Entry* IniFile::Find(const std::string& section, const std::string& key) const {
  for (const Entry& e : entries_) {
    if (EqualsNoCase(e.section, section) && EqualsNoCase(e.key, key)) return &e;
  }
  return nullptr;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& default_value) const {
  const Entry* e = Find(section, key);
  return e == nullptr ? default_value : e->value.substr(0, kMaxProfileValue);
}

bool IniFile::IsCut(const std::string& section, const std::string& key) const {
  const Entry* e = Find(section, key);
  return e != nullptr && e->value.size() > kMaxProfileValue;
}

std::vector<std::string> IniFile::Keys(const std::string& section) const {
  std::vector<std::string> keys;
  for (const Entry& e : entries_) {
    if (EqualsNoCase(e.section, section) && Find(section, e.key) == &e) keys.push_back(e.key);
  }
  return keys;
}

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& default_value) {
  return IniFile(path).ReadString(section, key, default_value);
}
