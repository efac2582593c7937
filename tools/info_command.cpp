// kdx-db info PATH: the tables of a folder, a dictionary or one table file,
// with their columns (engine types, widths, decimals), indexes (segments and
// flags) and row counts, as the engine sees them.
#include <CLI/CLI.hpp>
#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include "engine/internal.h"
#include "engine/sealed_file.h"
#include "tools/commands.h"
#include "tools/user_tables.h"

namespace {

using engine::EngineTable;

std::string LastEngineError() {
  UNSIGNED32 code = 0;
  std::string text;
  AdsGetLastError(&code, &text);
  return "error " + std::to_string(code) + ": " + text;
}

bool StartsWith(const std::string& path, const char* marker, size_t length) {
  std::ifstream in(path, std::ios::binary);
  std::string head(length, '\0');
  if (!in.read(head.data(), static_cast<std::streamsize>(length))) return false;
  return head.compare(0, length, marker, length) == 0;
}

bool IsSqliteFile(const std::string& path) { return StartsWith(path, "SQLite format 3\0", 16); }

std::string Stem(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Prints one loaded table; false when its rows could not be counted.
bool PrintTable(EngineTable& table, const std::string& where, bool sealed) {
  std::cout << "Table " << table.display_name() << "  (" << where << ")";
  if (sealed) std::cout << "  sealed";
  std::cout << "\n";
  bool ok = true;
  if (table.rows_hidden()) {
    std::cout << "  rows: hidden without the table password\n";
  } else {
    UNSIGNED32 count = 0;
    if (table.RecordCount(false, &count) == 0) {
      std::cout << "  rows: " << count << "\n";
    } else {
      std::cout << "  rows: " << LastEngineError() << "\n";
      ok = false;
    }
  }
  std::cout << "  record length: " << table.record_length() << "\n  columns:\n";
  size_t number = 1;
  for (const engine::ColumnInfo& column : table.columns()) {
    char line[512];
    std::string type = engine::TypeName(column.type.type);
    if (column.type.declared_width != 0) {
      type += "(" + std::to_string(column.type.declared_width);
      if (column.type.type == ADS_NUMERIC) type += "," + std::to_string(column.type.decimals);
      type += ")";
    }
    std::snprintf(line, sizeof line, "    %3zu %-30s %-14s type %2u  width %5u  decimals %2u  offset %6u\n", number++,
                  column.name.c_str(), type.c_str(), column.type.type, column.type.width, column.type.decimals,
                  column.offset);
    std::cout << line;
  }
  std::cout << "  indexes:" << (table.indexes().empty() ? " none" : "") << "\n";
  for (const engine::IndexInfo& index : table.indexes()) {
    std::string segments;
    for (int column : index.segments) {
      segments += (segments.empty() ? "" : ";") + table.columns()[static_cast<size_t>(column)].name;
    }
    std::cout << "    " << index.name << "  " << segments << (index.unique ? "  unique" : "")
              << (index.descending ? "  descending" : "") << "\n";
  }
  return ok;
}

// One free table file (plain or sealed).
bool InfoTableFile(const std::string& path) {
  sqlite3* db = nullptr;
  bool sealed = IsSealedFile(path);
  if (sealed) {
    SealedHeader header;
    std::string why;
    if (!ReadSealedHeader(path, &header, &why) || !OpenSealedSchema(header, &db, &why)) {
      std::cerr << "kdx-db info: " << why << "\n";
      return false;
    }
  } else if (UNSIGNED32 rc = engine::OpenSqlite(path, SQLITE_OPEN_READONLY, &db)) {
    (void)rc;
    std::cerr << "kdx-db info: " << LastEngineError() << "\n";
    return false;
  }
  // The one user table named like the file.
  std::vector<std::string> names;
  ListUserTables(db, &names);
  if (names.size() != 1 || !EqualsNoCase(names[0], Stem(path))) {
    std::cerr << "kdx-db info: '" << path << "' holds " << names.size()
              << " tables; a table file holds exactly one, named like the file\n";
    sqlite3_close(db);
    return false;
  }
  EngineTable table(nullptr, db, true, "main", names[0], names[0]);
  if (table.Load() != 0) {
    std::cerr << "kdx-db info: " << LastEngineError() << "\n";
    return false;
  }
  if (sealed) table.set_rows_hidden(true);
  return PrintTable(table, path, sealed);
}

bool InfoDictionary(const std::string& path) {
  sqlite3* db = nullptr;
  if (engine::OpenSqlite(path, SQLITE_OPEN_READONLY, &db) != 0) {
    std::cerr << "kdx-db info: " << LastEngineError() << "\n";
    return false;
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
  std::vector<std::string> names;
  ListUserTables(db, &names);
  std::cout << "Dictionary " << path << ": " << names.size() << " tables\n";
  bool ok = true;
  for (const std::string& name : names) {
    EngineTable table(nullptr, db, false, "main", name, name);
    if (table.Load() != 0) {
      std::cout << "Table " << name << ": " << LastEngineError() << "\n";
      ok = false;
      continue;
    }
    ok = PrintTable(table, path, false) && ok;
  }
  return ok;
}

int RunInfo(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    std::cerr << "kdx-db info: '" << path << "' does not exist\n";
    return 1;
  }
  engine::EngineGuard guard(engine::EngineMutex());
  if (S_ISDIR(info.st_mode)) {
    std::vector<std::string> files;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* entry = readdir(d)) {
        std::string full = path + "/" + entry->d_name;
        struct stat file_info;
        if (stat(full.c_str(), &file_info) == 0 && S_ISREG(file_info.st_mode) &&
            (IsSqliteFile(full) || IsSealedFile(full))) {
          files.push_back(full);
        }
      }
      closedir(d);
    }
    std::sort(files.begin(), files.end());
    std::cout << "Folder " << path << ": " << files.size() << " database files\n";
    bool ok = true;
    for (const std::string& file : files) {
      std::string upper = ToUpperAscii(file);
      bool dictionary = upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".ADD") == 0;
      ok = (dictionary ? InfoDictionary(file) : InfoTableFile(file)) && ok;
    }
    return ok ? 0 : 1;
  }
  std::string upper = ToUpperAscii(path);
  bool dictionary = upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".ADD") == 0;
  if (!IsSealedFile(path) && !IsSqliteFile(path)) {
    std::cerr << "kdx-db info: '" << path << "' is neither an SQLite database nor a sealed table\n";
    return 1;
  }
  return (dictionary ? InfoDictionary(path) : InfoTableFile(path)) ? 0 : 1;
}

}  // namespace

void RegisterInfoCommand(CLI::App& app, int* exit_status) {
  auto path = std::make_shared<std::string>();
  CLI::App* info = app.add_subcommand(
      "info", "Show the tables of a folder, a dictionary or a table file: columns, indexes, row counts");
  info->add_option("PATH", *path, "folder of free tables, dictionary (.add) or table file")->required();
  info->callback([path, exit_status]() { *exit_status = RunInfo(*path); });
}
