// Real engine tables for the data-layer tests: a scratch folder of free table
// files built with the SQLite C API (one SQLite file per table, named
// <TABLE>.adt, holding one table of that name), a settings-free connection
// and helpers to make tables and queries on it.
#ifndef KDX_TESTS_DATA_DATA_TEST_SUPPORT_H_
#define KDX_TESTS_DATA_DATA_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/component.h"
#include "data/connection.h"
#include "data/errors.h"
#include "data/query.h"
#include "data/table.h"
#include "tests/support/scratch_folder.h"

namespace data_test {

using test_support::ScratchFolder;

// Runs `statements` (separated by ";") on the SQLite file at `path`.
inline void ExecOnFile(const std::string& path, const std::string& statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << path;
  char* message = nullptr;
  const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &message);
  const std::string text = message != nullptr ? message : "";
  sqlite3_free(message);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << text << "\n" << statements;
}

// The owner of the components of one test, like the main window: it deletes
// what it owns when it goes.
class Form : public TComponent {
 public:
  explicit Form(std::string name = "Form1") : TComponent(nullptr, std::move(name)) {}
};

// A folder of free tables with a connection "AdsConnection1" on it.
class DataFixture : public ::testing::Test {
 protected:
  DataFixture() : form_(new Form("Form1")) {
    connection_ = new TAdsConnection(form_.get(), "AdsConnection1");
    connection_->SetConnectPath(folder_.Path());
    connection_->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
    connection_->SetLoginPrompt(false);
  }

  // Creates <name>.adt holding table `name`: `columns` is the column list of
  // CREATE TABLE, `extra` further statements (indexes, inserts).
  void MakeTable(const std::string& name, const std::string& columns, const std::string& extra = "") {
    ExecOnFile(folder_.File(name + ".adt"), "CREATE TABLE " + name + " (" + columns + ");" + extra);
  }

  TAdsTable* NewTable(const std::string& component, const std::string& table_name,
                      const std::string& index_field_names = "") {
    auto* table = new TAdsTable(form_.get(), component);
    table->SetDatabaseName("AdsConnection1");
    table->SetTableName(table_name);
    if (!index_field_names.empty()) table->SetIndexFieldNames(index_field_names);
    return table;
  }

  TAdsQuery* NewQuery(const std::string& component) {
    auto* query = new TAdsQuery(form_.get(), component);
    query->SetDatabaseName("AdsConnection1");
    return query;
  }

  ScratchFolder folder_;
  std::unique_ptr<Form> form_;
  TAdsConnection* connection_ = nullptr;
};

// The message of the exception `fn` raises, checking its type.
template <typename E, typename F>
std::string MessageOf(F&& fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong exception type: ") + e.what();
  }
  return "no exception";
}

}  // namespace data_test

#endif  // KDX_TESTS_DATA_DATA_TEST_SUPPORT_H_
