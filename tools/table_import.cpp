#include "tools/table_import.h"

#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/storage.h"
#include "tools/csv.h"
#include "tools/declared_type.h"
#include "util/ascii.h"

namespace fs = std::filesystem;

namespace {

// Reads the CSV file whole into its records; false with the problem in
// `*errors`.
[[nodiscard]] bool ReadCsv(const std::string& csv_path, std::vector<CsvRecord>* records, std::vector<std::string>* errors) {
  std::ifstream in(csv_path, std::ios::binary);
  if (!in) {
    errors->push_back(fmt::format("CSV file {} cannot be read", csv_path));
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string csv_name = fs::path(csv_path).filename().string();
  std::string parse_error;
  if (!ParseCsv(buffer.str(), records, &parse_error)) {
    errors->push_back(fmt::format("{}, {}", csv_name, parse_error));
    return false;
  }
  if (records->empty()) {
    errors->push_back(fmt::format("{} is empty: its first line must name the columns", csv_name));
    return false;
  }
  return true;
}

// The column each header name stands for: each name a column of the table,
// at most once. false with every problem in `*errors`.
[[nodiscard]] bool MapHeader(const CsvRecord& header, const std::string& csv_name, const std::string& table,
               const std::vector<ImportColumn>& columns, std::vector<int>* target, std::vector<std::string>* errors) {
  std::vector<bool> named(columns.size(), false);
  for (const std::string& raw_name : header.fields) {
    std::string name = raw_name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    int found = -1;
    for (size_t c = 0; c < columns.size(); ++c) {
      if (EqualsNoCase(columns[c].name, name)) found = static_cast<int>(c);
    }
    if (found < 0) {
      std::string all;
      for (const ImportColumn& c : columns) all += (all.empty() ? "" : ", ") + c.name;
      errors->push_back(fmt::format("{}, line 1: \"{}\" is not a column of table {} (its columns: {})", csv_name,
                                    name, table, all));
      continue;
    }
    if (named[found]) {
      errors->push_back(fmt::format("{}, line 1: column {} is named twice", csv_name, columns[found].name));
    }
    named[found] = true;
    target->push_back(found);
  }
  return errors->empty();
}

// Converts the rows after the header; the number of problems (the first
// kMaxListedImportErrors listed in `*errors`).
size_t ConvertRecords(const std::vector<CsvRecord>& records, const std::string& csv_name,
                      const std::vector<ImportColumn>& columns, const std::vector<int>& target,
                      std::vector<int64_t>* next_auto, std::vector<ConvertedRow>* converted,
                      std::vector<std::string>* errors) {
  const size_t header_fields = records[0].fields.size();
  size_t problems = 0;
  auto problem = [&](std::string message) {
    if (++problems <= kMaxListedImportErrors) errors->push_back(std::move(message));
  };
  for (size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    if (record.fields.size() == 1 && record.fields[0].empty() && header_fields > 1) continue;  // blank line
    if (record.fields.size() != header_fields) {
      problem(fmt::format("{}, line {}: {} fields, but the header names {} columns", csv_name, record.line,
                          record.fields.size(), header_fields));
      continue;
    }
    std::vector<StoredValue> values(columns.size());
    for (size_t f = 0; f < record.fields.size(); ++f) {
      const ImportColumn& column = columns[target[f]];
      std::string why;
      if (!ConvertUserValue(column.type, record.fields[f], &values[target[f]], &why)) {
        problem(fmt::format("{}, line {}, column {}: {}", csv_name, record.line, column.name, why));
      }
    }
    for (size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].type.type == ADS_AUTOINC && values[c].kind == StoredValue::Kind::kNull) {
        values[c].kind = StoredValue::Kind::kInteger;
        values[c].integer = (*next_auto)[c]++;
      }
    }
    converted->emplace_back(record.line, std::move(values));
  }
  return problems;
}

}  // namespace

bool ConvertCsvRows(const std::string& csv_path, const std::string& table, const std::vector<ImportColumn>& columns,
                    std::vector<int64_t> next_auto, std::vector<ConvertedRow>* converted,
                    std::vector<std::string>* errors) {
  std::vector<CsvRecord> records;
  if (!ReadCsv(csv_path, &records, errors)) return false;
  const std::string csv_name = fs::path(csv_path).filename().string();
  std::vector<int> target;  // header position -> column index
  if (!MapHeader(records[0], csv_name, table, columns, &target, errors)) return false;
  // Convert every row before writing any.
  const size_t problems = ConvertRecords(records, csv_name, columns, target, &next_auto, converted, errors);
  if (problems > kMaxListedImportErrors) {
    errors->push_back(fmt::format("... and {} more problems", problems - kMaxListedImportErrors));
  }
  if (problems > 0) {
    errors->push_back(fmt::format("Nothing was imported into {}", table));
    return false;
  }
  return true;
}

bool ImportCsvIntoTable(const std::string& table_path, const std::string& csv_path, int64_t* rows,
                        std::vector<std::string>* errors) {
  *rows = 0;
  errors->clear();
  auto fail = [&](std::string message) {
    errors->push_back(std::move(message));
    return false;
  };
  if (!fs::is_regular_file(table_path)) return fail(fmt::format("Table file {} does not exist", table_path));
  if (IsSealedFile(table_path)) {
    return fail(fmt::format("Table file {} is sealed: unseal it with kdx-db unseal, import, then seal it again",
                            table_path));
  }
  std::unique_ptr<engine::TableFileAppender> appender;
  if (const engine::Status opened = engine::TableFileAppender::Open(table_path, &appender); !opened.ok()) {
    return fail(opened.text());
  }
  const std::string& table = appender->table();
  std::vector<ImportColumn> columns;
  for (const engine::ColumnDefinition& declared : appender->columns()) {
    ImportColumn column{declared.name, {}};
    std::string why;
    if (!ParseColumnType(declared.type, &column.type, &why)) {
      return fail(fmt::format("Table {}, column {}: {}", table, column.name, why));
    }
    columns.push_back(std::move(column));
  }
  // AUTOINC columns not given take the next number.
  std::vector<int64_t> next_auto(columns.size(), 0);
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].type.type == ADS_AUTOINC) next_auto[c] = appender->NextNumber(columns[c].name);
  }
  std::vector<ConvertedRow> converted;
  if (!ConvertCsvRows(csv_path, table, columns, std::move(next_auto), &converted, errors)) return false;
  if (const engine::Status begun = appender->Begin(); !begun.ok()) return fail(begun.text());
  for (const auto& [line, values] : converted) {
    if (const engine::Status appended = appender->Append(values); !appended.ok()) {
      fail(fmt::format("{}, line {}: {}", fs::path(csv_path).filename().string(), line, appended.text()));
      return fail(fmt::format("Nothing was imported into {}", table));
    }
  }
  if (const engine::Status committed = appender->Commit(); !committed.ok()) return fail(committed.text());
  *rows = static_cast<int64_t>(converted.size());
  return true;
}
