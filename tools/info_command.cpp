// kdx-db info PATH: the tables of a folder, a dictionary or one table file,
// with their columns (engine types, widths, decimals), indexes (segments and
// flags) and row counts, as the engine sees them.
#include <dirent.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

#include "engine/schema.h"
#include "engine/storage.h"
#include "tools/commands.h"
#include "tools/server_database.h"
#include "util/ascii.h"

namespace {

// A failure as the tool reports it: "error <code>: <text>".
std::string ErrorLine(const engine::Status& failed) {
  return "error " + std::to_string(failed.code()) + ": " + failed.text();
}

void PrintTable(const engine::TableSchema& table, const std::string& where) {
  std::cout << "Table " << table.name << "  (" << where << ")";
  if (table.sealed) {
    // Only a free table file is sealed: `where` is its path.
    std::cout << "  sealed, format version " << SealedFormatVersion(where);
  }
  std::cout << "\n";
  if (table.sealed) {
    std::cout << "  rows: hidden without the table password\n";
  } else {
    std::cout << "  rows: " << table.row_count << "\n";
  }
  std::cout << "  record length: " << table.record_length << "\n  columns:\n";
  size_t number = 1;
  for (const engine::ColumnInfo& column : table.columns) {
    char line[512];
    std::string type = engine::TypeName(column.type.type);
    if (column.type.declared_width != 0) {
      type += "(" + std::to_string(column.type.declared_width);
      const engine::ColumnTypeRow* row = engine::FindColumnType(column.type.type);
      if (row != nullptr && row->parameters == engine::TypeParameters::kPrecision) {
        type += "," + std::to_string(column.type.decimals);
      }
      type += ")";
    }
    std::snprintf(line, sizeof line, "    %3zu %-30s %-14s type %2u  width %5u  decimals %2u  offset %6u\n", number++,
                  column.name.c_str(), type.c_str(), column.type.type, column.type.width, column.type.decimals,
                  column.offset);
    std::cout << line;
  }
  std::cout << "  indexes:" << (table.indexes.empty() ? " none" : "") << "\n";
  for (const engine::IndexSchema& index : table.indexes) {
    std::string segments;
    for (int column : index.segments) {
      segments += (segments.empty() ? "" : ";") + table.columns[static_cast<size_t>(column)].name;
    }
    std::cout << "    " << index.name << "  " << segments << (index.unique ? "  unique" : "")
              << (index.descending ? "  descending" : "") << "\n";
  }
}

// One free table file (plain or sealed).
bool InfoTableFile(const std::string& path) {
  engine::TableSchema table;
  if (const engine::Status described = engine::DescribeTableFile(path, &table); !described.ok()) {
    std::cerr << "kdx-db info: " << ErrorLine(described) << "\n";
    return false;
  }
  PrintTable(table, path);
  return true;
}

bool InfoDictionary(const std::string& path) {
  std::vector<engine::TableSchema> tables;
  std::vector<std::pair<std::string, std::string>> failures;
  if (const engine::Status described = engine::DescribeDictionary(path, &tables, &failures); !described.ok()) {
    std::cerr << "kdx-db info: " << ErrorLine(described) << "\n";
    return false;
  }
  std::cout << "Dictionary " << path << ": " << tables.size() + failures.size() << " tables\n";
  for (const engine::TableSchema& table : tables) PrintTable(table, path);
  for (const auto& [name, why] : failures) std::cout << "Table " << name << ": " << why << "\n";
  return failures.empty();
}

bool InfoServer(const std::string& uri) {
  std::vector<engine::TableSchema> tables;
  std::vector<std::pair<std::string, std::string>> failures;
  const std::string shown = ShownConnectionPath(uri);
  if (const engine::Status described = engine::DescribeServer(uri, &tables, &failures); !described.ok()) {
    std::cerr << "kdx-db info: " << ErrorLine(described) << "\n";
    return false;
  }
  std::cout << "Server " << shown << ": " << tables.size() + failures.size() << " tables\n";
  for (const engine::TableSchema& table : tables) PrintTable(table, shown);
  for (const auto& [name, why] : failures) std::cout << "Table " << name << ": " << why << "\n";
  return failures.empty();
}

int RunInfo(const std::string& path) {
  if (IsServerUri(path)) return InfoServer(path) ? 0 : 1;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    std::cerr << "kdx-db info: '" << path << "' does not exist\n";
    return 1;
  }
  if (S_ISDIR(info.st_mode)) {
    std::vector<std::string> files;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* entry = readdir(d)) {
        std::string full = path + "/" + entry->d_name;
        struct stat file_info;
        if (stat(full.c_str(), &file_info) == 0 && S_ISREG(file_info.st_mode) &&
            (engine::LooksLikeDatabaseFile(full) || IsSealedFile(full))) {
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
  if (!IsSealedFile(path) && !engine::LooksLikeDatabaseFile(path)) {
    std::cerr << "kdx-db info: '" << path << "' is neither an SQLite database nor a sealed table\n";
    return 1;
  }
  return (dictionary ? InfoDictionary(path) : InfoTableFile(path)) ? 0 : 1;
}

}  // namespace

void RegisterInfoCommand(CLI::App& app, int* exit_status) {
  auto path = std::make_shared<std::string>();
  CLI::App* info = app.add_subcommand(
      "info", "Show the tables of a folder, a dictionary, a table file or a server (postgresql:// URI): columns, "
              "indexes, row counts");
  info->add_option("PATH", *path, "folder of free tables, dictionary (.add), table file or postgresql:// URI")->required();
  info->callback([path, exit_status]() { *exit_status = RunInfo(*path); });
}
