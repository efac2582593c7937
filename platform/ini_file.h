// Reading values from an INI file, with the rules of the profile-string
// service the configuration was written for:
//   - "[section]" lines open a section; "key=value" lines give values;
//   - section and key names match without regard to case, blanks around them
//     are dropped;
//   - blanks around a value are dropped, then one pair of matching quotes
//     (" or ') around it is removed;
//   - a value keeps at most its first 2047 characters;
//   - a key present with nothing after "=" gives the empty text;
//   - a missing file, section or key gives the default, and a file that cannot
//     be read counts as missing;
//   - lines may end in CR LF or LF; lines starting with ";" are comments;
//   - the first occurrence of a key in its section wins (a section that
//     appears twice is read as one).
// Nothing is ever written to the file.
#ifndef KDX_PLATFORM_INI_FILE_H_
#define KDX_PLATFORM_INI_FILE_H_

#include <cstddef>
#include <string>
#include <vector>

// The longest value handed back: the service's 2048-byte buffer less its
// terminator.
inline constexpr size_t kMaxProfileValue = 2047;

// The contents of one INI file, read once when constructed.
class IniFile {
 public:
  explicit IniFile(const std::string& path);

  // True when the file could be read.
  bool Exists() const { return exists_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value) const;

  // Whether the value ReadString gives for `key` is the first
  // kMaxProfileValue characters of a longer one in the file.
  bool IsCut(const std::string& section, const std::string& key) const;

  // The keys of `section` in file order, as the file spells them; a key
  // given twice is listed once.
  std::vector<std::string> Keys(const std::string& section) const;

 private:
  struct Entry {
    std::string section;
    std::string key;
    std::string value;
  };
  void Parse(const std::string& contents);
  const Entry* Find(const std::string& section, const std::string& key) const;

  bool exists_ = false;
  std::vector<Entry> entries_;  // in file order
};

// One value read straight from the file at `path`.
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& default_value);

#endif  // KDX_PLATFORM_INI_FILE_H_
