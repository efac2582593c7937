// Dates as text in the engine's date format (AdsSetDateFormat), as record
// filters write them (ctod) and as AdsGetField reads date columns.
#ifndef KDX_ENGINE_DATE_TEXT_H_
#define KDX_ENGINE_DATE_TEXT_H_

#include <cstdint>
#include <string>

namespace engine {

// Parses `text` in the date format `format` (d, M, y, c and separators) into
// a Julian day. false when the text does not match or is not a real date.
bool ParseDateWithFormat(const std::string& text, const std::string& format, int64_t* julian);
// Formats a Julian day in `format`.
std::string FormatDateWithFormat(int64_t julian, const std::string& format);

}  // namespace engine

#endif  // KDX_ENGINE_DATE_TEXT_H_
