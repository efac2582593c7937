#include "tools/database_check.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "engine/ads.h"
#include "engine/schema.h"
#include "engine/storage.h"
#include "tools/declared_type.h"
#include "tools/sample_database.h"
#include "tools/server_database.h"
#include "tools/user_tables.h"
#include "util/ascii.h"

namespace fs = std::filesystem;

namespace {

// Table names are compared without regard to case, as the engine opens them.
bool SameName(const std::string& a, const std::string& b) { return EqualsNoCase(a, b); }
// The key of a table in the map: lower case, so that tables are listed in
// that order.
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
std::string Quote(const std::string& name) { return QuoteSqlName(name); }

// The engine's code for a server table without a stable row order
// (docs/database-format.md, error codes 6201 to 6207).
constexpr UNSIGNED32 kNoStableOrder = 6206;

struct ColumnInfo {
  std::string name;
  std::string declared;
  engine::ColumnType type;
  bool type_ok = false;
};

struct IndexInfo {
  std::string name;
  std::vector<std::string> columns;
  bool descending = false;
};

struct TableInfo {
  std::string name;  // the SQLite table name
  std::string file;  // file name in a folder; empty in a dictionary
  std::string path;  // the file's path as the user named the folder
  bool sealed = false;
  bool readable = false;  // rows can be read (a sealed table opened with its password)
  bool server = false;    // a table of a PostgreSQL server
  const engine::InspectedDatabase* db = nullptr;
  std::vector<ColumnInfo> columns;
  std::vector<IndexInfo> indexes;

  const ColumnInfo* Column(const std::string& name) const {
    for (const ColumnInfo& c : columns) {
      if (SameName(c.name, name)) return &c;
    }
    return nullptr;
  }
  std::string Where() const { return file.empty() ? "table " + name : "table " + name + " (" + file + ")"; }
  // Wraps a fix that changes a sealed file.
  std::string Change(const std::string& fix) const {
    if (!sealed) return fix;
    return "unseal " + file + " with kdx-db unseal, then " + fix + ", then seal it again with kdx-db seal";
  }
  std::string Sql(const std::string& statement) const {
    if (server) return "run on the server (psql): " + statement;
    return "run " + (file.empty() ? std::string("in the dictionary: ") : "sqlite3 " + path + " '") + statement +
           (file.empty() ? "" : "'");
  }
};

// What the exports read: the table name they open, the columns they read by
// name, and the index their component selects by index field names.
struct Requirement {
  std::string table;  // as the program names it
  std::vector<std::string> columns;
  std::vector<std::string> index;  // empty when the table is read through SQL only
  // The run hands the table password over for this table (exports/credentials):
  // any other table the run reads sealed fails the run.
  bool read_with_password = false;
};

const std::vector<Requirement>& Requirements() {
  static const std::vector<Requirement> kRequirements = {
      {"employee",
       {"emp_no", "TERMINATION_DATE", "PAY_TYPE", "HRS_WORK_PERYEAR", "FUND_LEVY", "NEW_IC", "INCOME_TAX_AC_NO",
        "fund_Ac_no", "WORKPERMIT_DURATION", "EMP_PASS_EXPIRY", "TEL_EXT", "BATCH_NO"},
       {},
       true},
      {"export",
       {"SECTION", "NO", "Field Name", "TABLE", "CATEGORY", "MAPFIELD2", "VALUE", "FORMAT", "DELIMITER", "size"},
       {}},
      {"CODE.ADT", {"CATEGORY", "CODE", "desc", "MAPCODE", "LONG_DESC"}, {"CATEGORY", "CODE"}},
      {"EMP_PROS.adt", {"EMP_CODE", "PAY_EFFECTIVE_DATE", "ID", "OLD_SALARY", "NEW_SALARY"},
       {"EMP_CODE", "PAY_EFFECTIVE_DATE", "ID"},
       true},
      {"EMP_ALW", {"EMP_NO", "ALLOW_CODE", "effdate", "enddate", "START_MTH", "END_MTH", "AMT"},
       {"EMP_NO", "ALLOW_CODE"},
       true},
      {"EMPLOYMT.ADT", {"EMP_NO"}, {"EMP_NO"}, true},
      {"EMPMISC.ADT", {"EMP_NO"}, {"EMP_NO"}, true},
      {"PAYPARA1", {"YEAR", "COMPANY", "CADDR1", "CADDR2", "CADDR3", "CPOSTAL_CODE"}, {"YEAR"}, true},
      {"empleave",
       {"EMPCODE", "ID", "LEAVE_CODE", "START_DATE", "END_DATE", "DAY", "AMPM", "MODIFIED_DATE", "APPROVED_DATE",
        "aprroved", "REMARK1", "EMP_NAME", "TIMEIN", "TIMEOUT"},
       {}},
      {"LEAV_TRX", {"ID", "EMPCODE", "LEAVE_CODE", "DATE", "DAY", "APPROVED", "SHIFT"}, {}},
      {"EMP_CLD.ADT", {"EMP_NO", "DATE", "WORKCODE"}, {"EMP_NO", "DATE"}},
      {"LV_PAYGRP_SHIFT", {"SHIFT", "AM_PM", "TIMEIN", "TIMEOUT"}, {}},
  };
  return kRequirements;
}

// Columns that the exports' joins name without a table: another table of the
// join holding a column of the same name makes the statement ambiguous.
struct Ambiguity {
  std::string table;
  std::string other;
  std::vector<std::string> columns;
  std::string statement;
};
const std::vector<Ambiguity>& Ambiguities() {
  static const std::vector<Ambiguity> kAmbiguities = {
      {"employee", "empleave", {"EMPCODE", "REMARK1", "aprroved", "MODIFIED_DATE"}, "the leave-day export"},
      {"empleave", "employee", {"EMP_NO"}, "the leave-day export"},
      {"CODE",
       "empleave",
       {"EMPCODE", "EMP_NAME", "START_DATE", "END_DATE", "AMPM", "TIMEIN", "TIMEOUT", "APRROVED", "APPROVED_DATE",
        "MODIFIED_DATE"},
       "the leave CSV export"},
  };
  return kAmbiguities;
}

std::string Stem(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

const SampleTable* SampleFor(const std::string& table) {
  for (const SampleTable& t : SampleTables()) {
    if (SameName(t.name, Stem(table))) return &t;
  }
  return nullptr;
}

std::string SuggestedType(const std::string& table, const std::string& column) {
  if (const SampleTable* t = SampleFor(table)) {
    for (const SampleColumn& c : t->columns) {
      if (SameName(c.name, column)) return c.type;
    }
  }
  return "CHAR(20)";
}

class Checker {
 public:
  Checker(std::string table_password, CheckReport* report) : password_(std::move(table_password)), report_(report) {}

  void Run(const std::string& path) {
    std::error_code ec;
    if (IsServerUri(path)) {
      LoadServer(path);
      report_->tables = static_cast<int>(tables_.size());
      CheckRequirements();
      CheckServerTemplate(path);
      return;
    }
    // Folder, dictionary or table file as the run's connection decides it.
    switch (ClassifyConnectionPath(path)) {
      case ConnectionPathKind::kFolder: LoadFolder(path); break;
      case ConnectionPathKind::kDictionary: LoadDictionary(path); break;
      case ConnectionPathKind::kTableFile:
        Problem("file " + path, "is a table file: the run cannot connect to it",
                "give the folder that holds the table files, or the dictionary file");
        return;
      case ConnectionPathKind::kNothing:
        Problem("path " + path, "does not exist", "give the folder of the free tables or the dictionary file");
        return;
    }
    report_->tables = static_cast<int>(tables_.size());
    for (auto& [key, table] : tables_) CheckValues(*table);
    CheckRequirements();
    CheckTemplate();
  }

 private:
  void Problem(std::string where, std::string problem, std::string fix) {
    report_->problems.push_back({std::move(where), std::move(problem), std::move(fix)});
  }

  // Opens a file of a folder as the run would read it: a sealed file with
  // the table password (its schema alone without it), a plain one read-only.
  // nullptr, with the problem or note recorded, for a file that cannot be read.
  std::unique_ptr<engine::InspectedDatabase> OpenFolderFile(const fs::path& file, bool* readable) {
    const std::string name = file.filename().string();
    const std::string ext = Lower(file.extension().string());
    std::unique_ptr<engine::InspectedDatabase> db;
    *readable = true;
    if (IsSealedFile(file.string())) {
      SealedHeader header;
      if (const engine::Status read = ReadSealedHeader(file.string(), &header); !read.ok()) {
        Problem("file " + name, "is a damaged sealed table: " + read.text(),
                "restore it from a backup (a sealed file cannot be repaired)");
        return nullptr;
      }
      const engine::Status opened = engine::InspectedDatabase::OpenSealed(file.string(), password_, &db);
      if (opened.ok()) {
        // Every page (every byte of a version 1 file) must authenticate, not
        // just those the checks below happen to read.
        if (const engine::Status verified = VerifySealedFile(file.string(), password_); !verified.ok()) {
          Problem("file " + name, "is a damaged sealed table: " + verified.text(),
                  "restore it from a backup (a sealed file cannot be repaired)");
          return nullptr;
        }
        return db;
      }
      *readable = false;
      Problem("file " + name, "cannot be opened with the table password: " + opened.text(),
              "unseal it with its current password (kdx-db unseal) and seal it again with the table password "
              "the program uses (kdx-db seal)");
      if (!engine::InspectedDatabase::OpenSealedSchema(header, &db).ok()) return nullptr;
      return db;
    }
    if (!engine::LooksLikeDatabaseFile(file.string())) {
      if (ext == ".adt" || ext == ".add" || ext.empty()) {
        Problem("file " + name, "is not an SQLite database",
                "replace it with an SQLite table file, or move it out of the database folder");
      } else {
        report_->notes.push_back("skipped " + name + ": not a table file");
      }
      return nullptr;
    }
    if (const engine::Status opened = engine::InspectedDatabase::Open(file.string(), &db); !opened.ok()) {
      Problem("file " + name, "cannot be read: " + opened.text(),
              "check the file's permissions; a file left in the middle of a write must be recovered by the HR "
              "application or sqlite3 first");
      return nullptr;
    }
    return db;
  }

  // The table of a free table file: the one named like the file, else the
  // first; "" when it holds none. Each departure from one table named like
  // the file is a problem.
  std::string FileTable(const engine::InspectedDatabase& db, const std::string& name) {
    std::vector<std::string> names;
    if (const engine::Status listed = db.Tables(&names); !listed.ok()) {
      Problem("file " + name, "its schema cannot be read: " + listed.text(),
              "check the file with sqlite3 (PRAGMA integrity_check) and restore it from a backup if it is damaged");
      return "";
    }
    const std::string stem = Stem(name);
    if (names.size() != 1) {
      Problem("file " + name,
              names.empty() ? "holds no table" : fmt::format("holds {} tables; a free table file holds one", names.size()),
              names.empty() ? "create the table " + stem + " in it, or remove the file"
                            : "keep only the table " + stem + " in this file and move the others into files of "
                              "their own");
      if (names.empty()) return "";
    }
    std::string table_name = names[0];
    for (const std::string& n : names) {
      if (SameName(n, stem)) table_name = n;
    }
    if (!SameName(table_name, stem)) {
      Problem("file " + name, "holds the table " + table_name + ", not a table named " + stem,
              "rename the table: sqlite3 " + name + " 'ALTER TABLE " + Quote(table_name) + " RENAME TO " +
                  Quote(stem) + "', or rename the file");
    }
    return table_name;
  }

  void LoadFolder(const std::string& folder) {
    dictionary_ = false;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      const std::string name = file.filename().string();
      bool readable = true;
      std::unique_ptr<engine::InspectedDatabase> db = OpenFolderFile(file, &readable);
      if (db == nullptr) continue;
      const std::string table_name = FileTable(*db, name);
      if (table_name.empty()) continue;
      const std::string stem = Stem(name);
      if (tables_.count(Lower(stem))) {
        Problem("file " + name, "names the same table as " + tables_[Lower(stem)]->file,
                "keep one of the two files");
        continue;
      }
      auto info = std::make_unique<TableInfo>();
      info->name = table_name;
      info->file = name;
      info->path = file.string();
      info->sealed = IsSealedFile(file.string());
      info->readable = readable;
      info->db = db.get();
      Describe(info.get());
      tables_[Lower(stem)] = std::move(info);
      dbs_.push_back(std::move(db));
    }
  }

  static std::string EngineText() {
    UNSIGNED32 code = 0;
    std::string text;
    if (AdsGetLastError(&code, &text) != AE_SUCCESS) text = "(the engine gives no text)";
    return fmt::format("error {}: {}", code, text);
  }

  // The tables of a server as the engine maps them; then every table is
  // opened as a run opens it, which reads every value into its stored form
  // and names the first one that has none.
  void LoadServer(const std::string& uri) {
    server_ = true;
    std::vector<engine::TableSchema> tables;
    std::vector<std::pair<std::string, std::string>> failures;
    if (engine::DescribeServer(uri, &tables, &failures) != 0) {
      Problem("server " + ShownConnectionPath(uri), "cannot be read: " + EngineText(),
              "check the URI, the server and the login (a password belongs in ~/.pgpass)");
      return;
    }
    for (const auto& [name, why] : failures) {
      Problem("table " + name, "cannot be opened: " + why,
              "give the column or index one of the types and forms listed in docs/database-format.md");
    }
    ADSHANDLE connection = 0;
    const bool connected = AdsConnect60(uri, ADS_REMOTE_SERVER, "", "", 0, &connection) == AE_SUCCESS;
    for (const engine::TableSchema& schema : tables) {
      auto info = std::make_unique<TableInfo>();
      info->name = schema.name;
      info->server = true;
      for (const engine::ColumnInfo& c : schema.columns) info->columns.push_back({c.name, c.declared, c.type, true});
      for (const engine::IndexSchema& index : schema.indexes) {
        IndexInfo out{index.name, {}, index.descending};
        for (int column : index.segments) out.columns.push_back(schema.columns[static_cast<size_t>(column)].name);
        info->indexes.push_back(std::move(out));
      }
      ADSHANDLE table = 0;
      const UNSIGNED32 opened = connected ? AdsOpenTable(connection, schema.name, "", 3, 1, 1, 2, 0, &table) : 0;
      if (opened == kNoStableOrder) {
        Problem(info->Where(),
                "has no stable row order (no primary key, and no unique index on NOT NULL columns): the run "
                "refuses it, since the order of its rows would change with every update",
                info->Sql("ALTER TABLE " + Quote(schema.name) +
                          " ADD COLUMN " + engine::kServerOrderColumn +
                          " bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY") +
                    ", or give it a primary key of its own columns");
      } else if (opened != AE_SUCCESS) {
        Problem(info->Where(), "cannot be read: " + EngineText(), "correct the value on the server");
      } else if (table != 0 && AdsCloseTable(table) != AE_SUCCESS) {
        Problem(info->Where(), "cannot be closed: " + EngineText(), "check the server");
      }
      tables_[Lower(schema.name)] = std::move(info);
    }
    if (connected && AdsDisconnect(connection) != AE_SUCCESS) {
      Problem("server " + ShownConnectionPath(uri), "cannot be disconnected from: " + EngineText(), "check the server");
    }
  }

  // The template rows of section KDX, read through the engine as the export
  // reads them.
  void CheckServerTemplate(const std::string& uri) {
    TableInfo* t = Find("export");
    if (!t) return;
    for (const char* c : {"SECTION", "NO", "Field Name", "TABLE", "CATEGORY", "DELIMITER", "size"}) {
      if (!t->Column(c)) return;  // reported above
    }
    ADSHANDLE connection = 0, statement = 0, cursor = 0;
    if (AdsConnect60(uri, ADS_REMOTE_SERVER, "", "", 0, &connection) != AE_SUCCESS) return;  // reported above
    const bool ran = AdsCreateSQLStatement(connection, &statement) == AE_SUCCESS &&
                     AdsPrepareSQL(statement, "select * from " + Quote(t->name) +
                                                  " where section = 'KDX' order by no") == AE_SUCCESS &&
                     AdsExecuteSQL(statement, &cursor) == AE_SUCCESS && cursor != 0 &&
                     AdsGotoTop(cursor) == AE_SUCCESS;
    if (!ran) Problem(t->Where(), "its template rows cannot be read: " + EngineText(), "check the table");
    int rows = 0;
    UNSIGNED16 eof = 1;
    while (ran && AdsAtEOF(cursor, &eof) == AE_SUCCESS && eof == 0) {
      ++rows;
      auto text = [&](const char* column) {
        std::string value;
        if (AdsGetField(cursor, column, &value) != AE_SUCCESS) value.clear();
        return value;
      };
      const std::string no = text("NO"), field = text("Field Name"), size = text("size");
      const bool size_ok = !size.empty() && size.size() < 4 && std::all_of(size.begin(), size.end(), ::isdigit) &&
                           std::stoi(size) <= 255;
      CheckTemplateRow(*t, fmt::format("{}, template row NO {} (\"{}\")", t->Where(), no, field),
                       "section = 'KDX' AND no = " + no, field, text("TABLE"), text("CATEGORY"), text("DELIMITER"),
                       size_ok);
      if (AdsSkip(cursor, 1) != AE_SUCCESS) break;
    }
    if (ran && rows == 0) {
      report_->notes.push_back("the template section KDX of table export has no rows: every employee line will be "
                               "empty");
    }
    if (AdsDisconnect(connection) != AE_SUCCESS) {
      Problem("server " + ShownConnectionPath(uri), "cannot be disconnected from: " + EngineText(), "check the server");
    }
  }

  void LoadDictionary(const std::string& path) {
    dictionary_ = true;
    std::unique_ptr<engine::InspectedDatabase> db;
    if (IsSealedFile(path) || !engine::LooksLikeDatabaseFile(path)) {
      Problem("file " + path, "is not a dictionary (an SQLite database holding the tables)",
              "give the folder of free tables or the dictionary file (*.add)");
      return;
    }
    if (const engine::Status opened = engine::InspectedDatabase::Open(path, &db); !opened.ok()) {
      Problem("file " + path, "cannot be read: " + opened.text(),
              "check its permissions; a file left in the middle of a write must be recovered by the HR application "
              "or sqlite3 first");
      return;
    }
    std::vector<std::string> names;
    if (const engine::Status listed = db->Tables(&names); !listed.ok()) {
      Problem("file " + path, "its schema cannot be read: " + listed.text(),
              "check the file with sqlite3 (PRAGMA integrity_check) and restore it from a backup if it is damaged");
      return;
    }
    for (const std::string& name : names) {
      auto info = std::make_unique<TableInfo>();
      info->name = name;
      info->readable = true;
      info->db = db.get();
      Describe(info.get());
      tables_[Lower(name)] = std::move(info);
    }
    dbs_.push_back(std::move(db));
  }

  void Describe(TableInfo* t) {
    std::vector<engine::ColumnDefinition> columns;
    std::vector<engine::DeclaredIndex> indexes;
    engine::Status described = t->db->Columns(t->name, &columns);
    if (described.ok()) described = t->db->Indexes(t->name, &indexes);
    if (!described.ok()) {
      Problem(t->Where(), "its columns and indexes cannot be read: " + described.text(),
              "check the file with sqlite3 (PRAGMA integrity_check) and restore it from a backup if it is damaged");
      t->readable = false;
      return;
    }
    for (const engine::ColumnDefinition& declared : columns) {
      ColumnInfo c;
      c.name = declared.name;
      c.declared = declared.type;
      std::string why;
      c.type_ok = ParseColumnType(c.declared, &c.type, &why);
      if (!c.type_ok) {
        Problem(t->Where() + ", column " + c.name, why,
                t->Change("declare the column with one of the listed types: SQLite cannot change a column's type, "
                          "so create the table anew and copy the rows"));
      }
      t->columns.push_back(std::move(c));
    }
    for (const engine::DeclaredIndex& declared : indexes) {
      IndexInfo index{declared.name, declared.columns, declared.descending};
      const std::string prefix = t->name + ".";
      if (declared.name.size() > prefix.size() && SameName(declared.name.substr(0, prefix.size()), prefix)) {
        index.name = declared.name.substr(prefix.size());
      }
      if (declared.expression) {
        Problem(t->Where() + ", index " + index.name, "is an expression index, which the engine cannot use",
                t->Change(t->Sql("DROP INDEX " + Quote(declared.name))) + " and index plain columns instead");
        continue;
      }
      t->indexes.push_back(std::move(index));
    }
  }

  void CheckValues(TableInfo& t) {
    if (!t.readable) return;
    std::vector<int> bad(t.columns.size(), 0);
    auto check_row = [&](const std::vector<engine::StoredValue>& row) {
      const int64_t rowid = row[0].integer;
      for (size_t c = 0; c < t.columns.size(); ++c) {
        const ColumnInfo& column = t.columns[c];
        std::string why;
        if (!column.type_ok || CheckStoredValue(column.type, row[c + 1], &why)) continue;
        if (++bad[c] > kMaxListedValuesPerColumn) continue;
        Problem(fmt::format("{}, column {}, row with rowid {}", t.Where(), column.name, rowid), why,
                t.Change(t.Sql(fmt::format("UPDATE {} SET {} = <a {} value, or NULL> WHERE rowid = {}", Quote(t.name),
                                           Quote(column.name), column.declared, rowid))));
      }
    };
    if (const engine::Status read = t.db->Query("SELECT rowid, * FROM " + Quote(t.name), check_row); !read.ok()) {
      Problem(t.Where(), "cannot be read: " + read.text(), "check the file");
      return;
    }
    for (size_t c = 0; c < t.columns.size(); ++c) {
      if (bad[c] > kMaxListedValuesPerColumn) {
        report_->problems.back().problem += fmt::format(" (and {} more bad values in column {})",
                                                        bad[c] - kMaxListedValuesPerColumn, t.columns[c].name);
      }
    }
  }

  TableInfo* Find(const std::string& program_name) {
    auto it = tables_.find(Lower(Stem(program_name)));
    if (it == tables_.end()) it = tables_.find(Lower(program_name));
    return it == tables_.end() ? nullptr : it->second.get();
  }

  void CheckRequirements() {
    for (const Requirement& r : Requirements()) {
      TableInfo* t = Find(r.table);
      if (t && t->sealed && !r.read_with_password) {
        Problem(t->Where(), "is sealed, but the run reads it without a password and fails",
                "unseal it (kdx-db unseal)");
      }
      if (!t) {
        // Every required table has a sample definition to copy.
        const SampleTable& sample = *SampleFor(r.table);
        Problem("table " + r.table, "is missing: the exports read it",
                server_     ? "create it on the server with the columns of " + sample.file_name +
                                  " (kdx-db sample writes a complete example into an empty database)"
                : dictionary_ ? "create it in the dictionary: " + CreateTableSql(sample)
                            : "create the file " + sample.file_name + " in the folder: sqlite3 " + sample.file_name +
                                  " '" + CreateTableSql(sample) + "' (kdx-db sample writes a complete example)");
        continue;
      }
      for (const std::string& column : r.columns) {
        if (t->Column(column)) continue;
        Problem(t->Where() + ", column " + column, "is missing: the exports read it",
                t->Change(t->Sql("ALTER TABLE " + Quote(t->name) + " ADD COLUMN " + Quote(column) + " " +
                                 SuggestedType(r.table, column))));
      }
      if (!r.index.empty() && !HasIndex(*t, r.index)) {
        std::string list;
        for (const std::string& c : r.index) list += (list.empty() ? "" : ";") + c;
        std::string name = r.index.size() == 1 ? r.index[0] : r.index[0] + "_" + r.index[1];
        bool unique = false;
        if (const SampleTable* sample = SampleFor(r.table)) {
          for (const SampleIndex& index : sample->indexes) {
            if (index.columns == r.index) {
              name = index.name;
              unique = index.unique;
            }
          }
        }
        if (dictionary_ || server_) name = t->name + "." + name;
        Problem(t->Where(), "has no index on " + list + ", which the program selects to seek in it",
                t->Change(t->Sql(engine::CreateIndexSql(t->name, name, r.index, unique))));
      }
    }
    for (const Ambiguity& a : Ambiguities()) {
      TableInfo* t = Find(a.table);
      if (!t || !Find(a.other)) continue;
      for (const std::string& column : a.columns) {
        if (!t->Column(column)) continue;
        Problem(t->Where() + ", column " + column,
                "also exists in " + a.other + ", so the statement of " + a.statement + " is ambiguous",
                t->Change(t->Sql("ALTER TABLE " + Quote(t->name) + " RENAME COLUMN " + Quote(column) + " TO " +
                                 Quote(column + "_" + t->name))));
      }
    }
  }

  // An index usable for the field list: not descending, its columns equal to
  // the list or beginning with it.
  static bool HasIndex(const TableInfo& t, const std::vector<std::string>& fields) {
    for (const IndexInfo& index : t.indexes) {
      if (index.descending || index.columns.size() < fields.size()) continue;
      bool match = true;
      for (size_t i = 0; i < fields.size(); ++i) match = match && SameName(index.columns[i], fields[i]);
      if (match) return true;
    }
    return false;
  }

  // One template row of section KDX: a fixed-width field needs a size from 0
  // to 255, and the column it names must exist where the export reads it.
  // `where` names the row in messages, `row` selects it in a fix.
  void CheckTemplateRow(const TableInfo& template_table, const std::string& where, const std::string& row,
                        const std::string& field, const std::string& table, const std::string& category,
                        const std::string& delimiter, bool size_ok) {
    const TableInfo* t = &template_table;
    static const std::vector<std::string> kKeywords = {
        "DUMMY",   "DATE",     "FIXED",           "TEL_EXT",  "PAY_TYPE",   "ALLOW_CODE",   "SOC_NO",
        "SOC_EXPIRY_DATE", "RES_TYPE", "RES_DOC_NO", "RES_DURATION", "RES_EXPIRY_DATE", "PAY_EFFECTIVE_DATE",
        "OLD_SALARY", "NEW_SALARY"};
    static const std::vector<std::string> kCompany = {"CADDR1", "COMPANY", "CADDR2", "CADDR3", "CPOSTAL_CODE"};
    if (delimiter == "F" && !size_ok) {
      Problem(where, "is a fixed-width field without a size from 0 to 255",
              t->Change(t->Sql(fmt::format("UPDATE {} SET size = <0 to 255> WHERE {}", Quote(t->name), row))));
    }
    // Which source the row's column name must exist in, in the order the
    // export decides a row's kind.
    std::string source;
    if (std::find(kCompany.begin(), kCompany.end(), field) != kCompany.end()) {
      source = "PAYPARA1";
    } else if (std::find(kKeywords.begin(), kKeywords.end(), field) != kKeywords.end() &&
               !(field == "OLD_SALARY" || field == "NEW_SALARY" || field == "PAY_EFFECTIVE_DATE")) {
      return;
    } else if (!category.empty()) {
      source = "employee";
    } else if (field == "PAY_EFFECTIVE_DATE") {
      return;
    } else if (table == "EMPMISC") {
      source = "EMPMISC.ADT";
    } else if (table == "EMPLOYMT") {
      source = "EMPLOYMT.ADT";
    } else if (table == "FORMULA" || field == "OLD_SALARY" || field == "NEW_SALARY") {
      return;
    } else {
      source = "employee";
    }
    TableInfo* s = Find(source);
    if (s && !s->Column(field)) {  // a missing table is reported already
      Problem(where, "names the column " + field + ", which table " + s->name + " does not have",
              "correct the row's Field Name, or add the column: " +
                  s->Change(s->Sql("ALTER TABLE " + Quote(s->name) + " ADD COLUMN " + Quote(field) + " CHAR(20)")));
    }
  }

  void CheckTemplate() {
    TableInfo* t = Find("export");
    if (!t || !t->readable) return;
    for (const char* c : {"SECTION", "NO", "Field Name", "TABLE", "CATEGORY", "DELIMITER", "size"}) {
      if (!t->Column(c)) return;  // reported above
    }
    const std::string sql = "SELECT rowid, \"Field Name\", \"TABLE\", CATEGORY, DELIMITER, size FROM " +
                            Quote(t->name) + " WHERE SECTION = 'KDX' ORDER BY NO";
    int rows = 0;
    auto check_row = [&](const std::vector<engine::StoredValue>& row) {
      ++rows;
      const int64_t rowid = row[0].integer;
      const std::string& field = row[1].text;
      const bool size_ok =
          row[5].kind == engine::StoredValue::Kind::kInteger && row[5].integer >= 0 && row[5].integer <= 255;
      CheckTemplateRow(*t, fmt::format("{}, template row with rowid {} (\"{}\")", t->Where(), rowid, field),
                       fmt::format("rowid = {}", rowid), field, row[2].text, row[3].text, row[4].text, size_ok);
    };
    if (!t->db->Query(sql, check_row).ok()) return;
    if (rows == 0) report_->notes.push_back("the template section KDX of table export has no rows: every employee "
                                            "line will be empty");
  }

  std::string password_;
  CheckReport* report_;
  bool dictionary_ = false;
  bool server_ = false;
  std::vector<std::unique_ptr<engine::InspectedDatabase>> dbs_;
  std::map<std::string, std::unique_ptr<TableInfo>> tables_;
};

}  // namespace

CheckReport CheckDatabase(const std::string& path, const std::string& table_password) {
  CheckReport report;
  Checker(table_password, &report).Run(path);
  return report;
}
