#include "tools/csv.h"

#include <fmt/format.h>

bool ParseCsv(std::string_view text, std::vector<CsvRecord>* records, std::string* error) {
  records->clear();
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  size_t i = 0;
  int line = 1;
  const size_t n = text.size();
  while (i < n) {
    CsvRecord record;
    record.line = line;
    // One record: fields until a line end or the end of the text.
    while (true) {
      std::string field;
      if (i < n && text[i] == '"') {
        const int quote_line = line;
        ++i;
        while (true) {
          if (i >= n) {
            *error = fmt::format("line {}: a quoted field is not closed (a \" is missing)", quote_line);
            return false;
          }
          const char c = text[i++];
          if (c == '"') {
            if (i < n && text[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n') ++line;
          field += c;
        }
        if (i < n && text[i] != ',' && text[i] != '\n' && !(text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') &&
            !(text[i] == '\r' && i + 1 == n)) {
          *error = fmt::format("line {}: text after the closing quote of a field (a \" inside a quoted field must be doubled)",
                               line);
          return false;
        }
      } else {
        while (i < n && text[i] != ',' && text[i] != '\n') {
          if (text[i] == '\r' && (i + 1 == n || text[i + 1] == '\n')) break;
          field += text[i++];
        }
      }
      record.fields.push_back(std::move(field));
      if (i < n && text[i] == ',') {
        ++i;
        continue;
      }
      // A line end (CR LF, LF, or a final CR) or the end of the text.
      if (i < n && text[i] == '\r') ++i;
      if (i < n && text[i] == '\n') {
        ++i;
        ++line;
      }
      break;
    }
    records->push_back(std::move(record));
  }
  return true;
}

std::string CsvField(std::string_view value) {
  const bool needs_quotes = value.find_first_of(",\"\r\n") != std::string_view::npos ||
                            (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!needs_quotes) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    out += CsvField(fields[i]);
  }
  out += "\r\n";
  return out;
}
