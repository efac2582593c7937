#include "tools/server_database.h"

#include <fmt/format.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "engine/storage.h"
#include "tools/table_import.h"

namespace fs = std::filesystem;

namespace {

// A fresh staging folder in /tmp, removed again with the object; empty when
// it cannot be made.
class StagingFolder {
 public:
  StagingFolder() {
    char pattern[] = "/tmp/kdx-sample-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~StagingFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The sample tables as free table files in `staging`, then copied onto the
// server in the writer's transaction.
[[nodiscard]] bool CopySample(engine::ServerWriter& writer, const fs::path& staging, const SampleOptions& options,
                SampleSummary* summary, std::string* error) {
  SampleOptions plain = options;
  plain.sealed = false;
  if (!GenerateSampleDatabase(staging.string(), plain, summary, error)) return false;
  engine::Status copied;
  for (const SampleTable& table : SampleTables()) {
    copied = writer.CopyTable(TableDefinitionOf(table), (staging / table.file_name).string());
    if (!copied.ok()) break;
  }
  if (copied.ok()) copied = writer.Commit();
  if (!copied.ok()) *error = copied.text();
  return copied.ok();
}

}  // namespace

bool GenerateSampleOnServer(const std::string& uri, const SampleOptions& options, SampleSummary* summary,
                            std::string* error) {
  const std::string shown = ShownConnectionPath(uri);
  if (IsMalformedServerUri(uri)) {
    // libpq's reason would quote the part it cannot read.
    *error = "Cannot connect: the connection URI is malformed; no part of it is shown, since it may hold a password "
             "(write an \"@\", \"/\" or \"%\" in a user name or password percent-encoded: %40, %2F, %25)";
    return false;
  }
  std::unique_ptr<engine::ServerWriter> writer;
  if (const engine::Status opened = engine::ServerWriter::Open(uri, &writer); !opened.ok()) {
    *error = opened.text();
    return false;
  }
  std::vector<std::string> names;
  for (const SampleTable& table : SampleTables()) names.push_back(table.name);
  std::string existing;
  if (const engine::Status found = writer->FindTable(names, &existing); !found.ok()) {
    *error = found.text();
    return false;
  }
  if (!existing.empty()) {
    *error = fmt::format("{} already holds a table {}; generate into an empty database", shown, existing);
    return false;
  }
  StagingFolder staging;
  if (staging.path().empty()) {
    *error = "Cannot make a staging folder in /tmp";
    return false;
  }
  SampleSummary local;
  if (!CopySample(*writer, staging.path(), options, &local, error)) return false;  // nothing is left behind
  *summary = std::move(local);
  return true;
}

bool ImportCsvIntoServerTable(const std::string& uri, const std::string& table, const std::string& csv_path,
                              int64_t* rows, std::vector<std::string>* errors) {
  *rows = 0;
  errors->clear();
  auto fail = [&](std::string message) {
    errors->push_back(std::move(message));
    return false;
  };
  std::unique_ptr<engine::ServerWriter> writer;
  engine::TableSchema schema;
  if (const engine::Status opened = engine::ServerWriter::Open(uri, &writer); !opened.ok()) return fail(opened.text());
  if (const engine::Status described = writer->DescribeTable(table, &schema); !described.ok()) {
    return fail(described.text());
  }
  std::vector<ImportColumn> columns;
  std::vector<int64_t> next_auto(schema.columns.size(), 0);
  for (size_t c = 0; c < schema.columns.size(); ++c) {
    columns.push_back({schema.columns[c].name, schema.columns[c].type});
    if (schema.columns[c].type.type != ADS_AUTOINC) continue;
    if (const engine::Status read = writer->NextNumber(schema, schema.columns[c].name, &next_auto[c]); !read.ok()) {
      return fail(read.text());
    }
  }
  std::vector<ConvertedRow> converted;
  if (!ConvertCsvRows(csv_path, schema.name, columns, std::move(next_auto), &converted, errors)) return false;
  const std::string csv_name = fs::path(csv_path).filename().string();
  for (const auto& [line, values] : converted) {
    if (const engine::Status inserted = writer->Insert(schema, values); !inserted.ok()) {
      fail(fmt::format("{}, line {}: {}", csv_name, line, inserted.text()));
      return fail(fmt::format("Nothing was imported into {}", schema.name));
    }
  }
  if (const engine::Status committed = writer->Commit(); !committed.ok()) {
    return fail(fmt::format("Table {}: the import could not be committed, nothing was imported: {}", schema.name,
                            committed.text()));
  }
  *rows = static_cast<int64_t>(converted.size());
  return true;
}
