#include "tools/table_import.h"

#include <fmt/format.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "engine/storage.h"
#include "tools/csv.h"
#include "tools/declared_type.h"
#include "tools/user_tables.h"
#include "util/ascii.h"

namespace fs = std::filesystem;

namespace {


class Database {
 public:
  ~Database() { sqlite3_close(db_); }
  bool Open(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return false;
    sqlite3_busy_timeout(db_, 5000);
    return true;
  }
  sqlite3* get() const { return db_; }
  std::string Message() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  ~Statement() { sqlite3_finalize(stmt_); }
  bool Prepare(sqlite3* db, const std::string& sql) {
    return sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) == SQLITE_OK;
  }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

}  // namespace

bool ConvertCsvRows(const std::string& csv_path, const std::string& table, const std::vector<ImportColumn>& columns,
                    std::vector<int64_t> next_auto, std::vector<ConvertedRow>* converted,
                    std::vector<std::string>* errors) {
  auto fail = [&](std::string message) {
    errors->push_back(std::move(message));
    return false;
  };
  std::ifstream in(csv_path, std::ios::binary);
  if (!in) return fail(fmt::format("CSV file {} cannot be read", csv_path));
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string csv_name = fs::path(csv_path).filename().string();

  std::vector<CsvRecord> records;
  std::string parse_error;
  if (!ParseCsv(buffer.str(), &records, &parse_error)) return fail(fmt::format("{}, {}", csv_name, parse_error));
  if (records.empty()) return fail(fmt::format("{} is empty: its first line must name the columns", csv_name));

  // Header: each name is a column of the table, at most once.
  const CsvRecord& header = records[0];
  std::vector<int> target;  // header position -> column index
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
    target.push_back(found);
  }
  if (!errors->empty()) return false;

  // Convert every row before writing any.
  
  size_t problems = 0;
  for (size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    if (record.fields.size() == 1 && record.fields[0].empty() && header.fields.size() > 1) continue;  // blank line
    if (record.fields.size() != header.fields.size()) {
      if (++problems <= kMaxListedImportErrors) {
        errors->push_back(fmt::format("{}, line {}: {} fields, but the header names {} columns", csv_name,
                                      record.line, record.fields.size(), header.fields.size()));
      }
      continue;
    }
    std::vector<StoredValue> values(columns.size());
    for (size_t f = 0; f < record.fields.size(); ++f) {
      const ImportColumn& column = columns[target[f]];
      std::string why;
      if (!ConvertUserValue(column.type, record.fields[f], &values[target[f]], &why)) {
        if (++problems <= kMaxListedImportErrors) {
          errors->push_back(fmt::format("{}, line {}, column {}: {}", csv_name, record.line, column.name, why));
        }
      }
    }
    for (size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].type.type == ADS_AUTOINC && values[c].kind == StoredValue::Kind::kNull) {
        values[c].kind = StoredValue::Kind::kInteger;
        values[c].integer = next_auto[c]++;
      }
    }
    converted->emplace_back(record.line, std::move(values));
  }
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
  Database db;
  if (!db.Open(table_path)) return fail(fmt::format("Table file {} cannot be opened: {}", table_path, db.Message()));
  // The file's one ordinary table, named like the file.
  std::vector<std::string> tables;
  if (!ListUserTables(db.get(), &tables)) {
    return fail(fmt::format("Table file {} is not an SQLite database: {}", table_path, db.Message()));
  }
  const std::string stem = fs::path(table_path).stem().string();
  if (tables.size() != 1 || !EqualsNoCase(tables[0], stem)) {
    return fail(fmt::format("Table file {} must hold exactly one table named {}; it holds {} table(s)", table_path,
                            stem, tables.size()));
  }
  const std::string table = tables[0];

  std::vector<ImportColumn> columns;
  {
    Statement info;
    info.Prepare(db.get(), "SELECT name, type FROM pragma_table_info(?1)");
    sqlite3_bind_text(info.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(info.get()) == SQLITE_ROW) {
      ImportColumn column;
      column.name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0));
      const unsigned char* type = sqlite3_column_text(info.get(), 1);
      std::string why;
      if (!ParseColumnType(type ? reinterpret_cast<const char*>(type) : "", &column.type, &why)) {
        return fail(fmt::format("Table {}, column {}: {}", table, column.name, why));
      }
      columns.push_back(std::move(column));
    }
  }

  // AUTOINC columns not given take the next number.
  std::vector<int64_t> next_auto(columns.size(), 0);
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].type.type != ADS_AUTOINC) continue;
    Statement max;
    max.Prepare(db.get(), "SELECT coalesce(max(" + QuoteSqlName(columns[c].name) + "), 0) FROM " +
                              QuoteSqlName(table));
    if (sqlite3_step(max.get()) == SQLITE_ROW) next_auto[c] = sqlite3_column_int64(max.get(), 0) + 1;
  }

  std::vector<ConvertedRow> converted;
  if (!ConvertCsvRows(csv_path, table, columns, std::move(next_auto), &converted, errors)) return false;
  const std::string csv_name = fs::path(csv_path).filename().string();

  std::string sql = "INSERT INTO " + QuoteSqlName(table) + " (";
  for (size_t c = 0; c < columns.size(); ++c) sql += (c ? ", " : "") + QuoteSqlName(columns[c].name);
  sql += ") VALUES (";
  for (size_t c = 0; c < columns.size(); ++c) sql += c ? ", ?" : "?";
  sql += ")";
  if (!Exec(db.get(), "BEGIN IMMEDIATE")) {
    return fail(fmt::format("Table {} cannot be written (is another program writing it?): {}", table, db.Message()));
  }
  Statement insert;
  if (!insert.Prepare(db.get(), sql)) {
    const std::string message = db.Message();
    Exec(db.get(), "ROLLBACK");
    return fail(fmt::format("Table {}: {}", table, message));
  }
  for (const auto& [line, values] : converted) {
    for (size_t c = 0; c < values.size(); ++c) {
      const int p = static_cast<int>(c + 1);
      switch (values[c].kind) {
        case StoredValue::Kind::kNull: sqlite3_bind_null(insert.get(), p); break;
        case StoredValue::Kind::kText:
          sqlite3_bind_text(insert.get(), p, values[c].text.c_str(), -1, SQLITE_TRANSIENT);
          break;
        case StoredValue::Kind::kInteger: sqlite3_bind_int64(insert.get(), p, values[c].integer); break;
        case StoredValue::Kind::kReal: sqlite3_bind_double(insert.get(), p, values[c].real); break;
      }
    }
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
      const std::string message = db.Message();
      sqlite3_reset(insert.get());
      Exec(db.get(), "ROLLBACK");
      errors->push_back(fmt::format("{}, line {}: {}", csv_name, line, message));
      errors->push_back(fmt::format("Nothing was imported into {}", table));
      return false;
    }
    sqlite3_reset(insert.get());
  }
  if (!Exec(db.get(), "COMMIT")) {
    const std::string message = db.Message();
    Exec(db.get(), "ROLLBACK");
    return fail(fmt::format("Table {}: the import could not be committed, nothing was imported: {}", table, message));
  }
  *rows = static_cast<int64_t>(converted.size());
  return true;
}
