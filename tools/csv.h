// Comma-separated values as RFC 4180 defines them: fields separated by commas,
// records by CR LF (a bare LF is accepted too), a field that holds a comma, a
// double quote or a line break enclosed in double quotes with its quotes
// doubled. Used by `kdx-db import` (reading) and `kdx-db query` (writing).
#ifndef KDX_TOOLS_CSV_H_
#define KDX_TOOLS_CSV_H_

#include <string>
#include <string_view>
#include <vector>

struct CsvRecord {
  int line = 0;  // 1-based line of the file on which the record starts
  std::vector<std::string> fields;
};

// Splits `text` into records. A UTF-8 byte order mark at the start is skipped;
// a last line without a line end counts, an empty last line does not. Blank
// lines between records are records of one empty field. false with `*error`
// naming the line when a quoted field is not closed or a closing quote is
// followed by anything but a comma or a line end.
[[nodiscard]] bool ParseCsv(std::string_view text, std::vector<CsvRecord>* records, std::string* error);

// The field as written in a record: enclosed in quotes, quotes doubled, when
// it holds a comma, a quote, a CR or an LF, or begins or ends with a blank;
// unchanged otherwise.
std::string CsvField(std::string_view value);

// The fields joined by commas, ended by CR LF.
std::string CsvLine(const std::vector<std::string>& fields);

#endif  // KDX_TOOLS_CSV_H_
