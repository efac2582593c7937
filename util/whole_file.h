// Reading a regular file whole, for the small files the program reads in one
// piece (PAVRO.ini, a sealed table file).
#ifndef KDX_UTIL_WHOLE_FILE_H_
#define KDX_UTIL_WHOLE_FILE_H_

#include <string>

// Reads the regular file at `path` into `*contents` (replacing what it held).
// false when the file cannot be opened, is not a regular file or fails to
// read, with `*error` (if not null) naming the path and the reason.
bool ReadWholeFile(const std::string& path, std::string* contents, std::string* error);

#endif  // KDX_UTIL_WHOLE_FILE_H_
