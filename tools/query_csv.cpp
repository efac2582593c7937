#include "tools/query_csv.h"

#include <fmt/format.h>

#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/ads.h"
#include "engine/storage.h"
#include "tools/csv.h"
#include "tools/server_database.h"

namespace fs = std::filesystem;

namespace {

std::string EngineError(const std::string& context) {
  UNSIGNED32 code = 0;
  std::string text;
  if (AdsGetLastError(&code, &text) != AE_SUCCESS) text = "(the engine gives no text)";
  return fmt::format("{}: error {}: {}", context, code, text);
}

// As the run decides it: a dictionary file whose path contains ".ADD" (a
// folder is never one, whatever its name).
bool IsDictionaryPath(const std::string& path) {
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find(".ADD") != std::string::npos && ClassifyConnectionPath(path) == ConnectionPathKind::kDictionary;
}

}  // namespace

bool RunQueryAsCsv(const std::string& path, const std::string& sql, const QueryCredentials& credentials,
                   std::ostream& out, int64_t* rows, std::string* error) {
  *rows = 0;
  // The program's engine settings, so that texts read as the exports read them.
  if (AdsSetDateFormat("dd/MM/yyyy") != AE_SUCCESS || AdsSetDecimals(2) != AE_SUCCESS ||
      AdsShowDeleted(1) != AE_SUCCESS) {
    *error = EngineError("Cannot set the program's engine settings");
    return false;
  }
  // A server's own login applies (the URI, ~/.pgpass); table passwords do not.
  const bool server = IsServerUri(path);
  const bool dictionary = !server && IsDictionaryPath(path);
  ADSHANDLE connection = 0;
  if (AdsConnect60(path, server ? ADS_REMOTE_SERVER : ADS_LOCAL_SERVER, dictionary ? credentials.user : "",
                   dictionary ? credentials.password : "", 0, &connection) != AE_SUCCESS) {
    *error = EngineError("Cannot connect to " + ShownConnectionPath(path));
    return false;
  }
  ADSHANDLE statement = 0;
  bool ok = AdsCreateSQLStatement(connection, &statement) == AE_SUCCESS;
  if (!ok) *error = EngineError("Cannot create a statement on " + ShownConnectionPath(path));
  if (ok && !dictionary && !server && !credentials.table_password.empty()) {
    // Every sealed table of the folder gets the table password, so a
    // statement may read any of them.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec)) {
      if (!entry.is_regular_file() || !IsSealedFile(entry.path().string())) continue;
      const std::string table = entry.path().stem().string();
      if (AdsStmtSetTablePassword(statement, table, credentials.table_password) != AE_SUCCESS) {
        *error = EngineError("Cannot give table " + table + " its password");
        ok = false;
        break;
      }
    }
  }
  if (ok && AdsPrepareSQL(statement, sql) != AE_SUCCESS) {
    *error = EngineError("Cannot prepare the statement");
    ok = false;
  }
  ADSHANDLE cursor = 0;
  if (ok && AdsExecuteSQL(statement, &cursor) != AE_SUCCESS) {
    *error = EngineError("Cannot execute the statement");
    ok = false;
  }
  if (ok && cursor != 0) {
    UNSIGNED16 count = 0;
    std::vector<std::string> names;
    ok = AdsGetNumFields(cursor, &count) == AE_SUCCESS;
    for (UNSIGNED16 i = 1; ok && i <= count; ++i) {
      std::string name;
      ok = AdsGetFieldName(cursor, i, &name) == AE_SUCCESS;
      names.push_back(name);
    }
    if (ok) out << CsvLine(names);
    ok = ok && AdsGotoTop(cursor) == AE_SUCCESS;
    UNSIGNED16 eof = 0;
    while (ok && AdsAtEOF(cursor, &eof) == AE_SUCCESS && !eof) {
      std::vector<std::string> values(names.size());
      for (size_t i = 0; ok && i < names.size(); ++i) {
        ok = AdsGetField(cursor, names[i], &values[i]) == AE_SUCCESS;
      }
      if (!ok) break;
      out << CsvLine(values);
      ++*rows;
      ok = AdsSkip(cursor, 1) == AE_SUCCESS;
    }
    if (!ok) *error = EngineError(fmt::format("Cannot read row {} of the result", *rows + 1));
  }
  // Closing (which closes the cursor too) that fails is a failure of its
  // own, unless the query failed first: the first failure is the one shown.
  if (statement != 0 && AdsCloseSQLStatement(statement) != AE_SUCCESS && ok) {
    *error = EngineError("Cannot close the statement");
    ok = false;
  }
  if (AdsDisconnect(connection) != AE_SUCCESS && ok) {
    *error = EngineError("Cannot close the connection to " + ShownConnectionPath(path));
    ok = false;
  }
  return ok;
}
