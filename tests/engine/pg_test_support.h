// Support of the tests that need a PostgreSQL server: the server named by
// KDX_TEST_PG_URI (an admin URI, as scripts/pg-cluster writes it), and a
// fixture that gives each test a database of its own, created for it and
// dropped after it, so that tests can run in parallel.
//
// Without KDX_TEST_PG_URI a server test is skipped, unless
// KDX_TEST_PG_REQUIRED or CI is set: it then fails, so that a CI run never
// passes without having run them.
#ifndef KDX_TESTS_ENGINE_PG_TEST_SUPPORT_H_
#define KDX_TESTS_ENGINE_PG_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "engine/ads.h"

namespace pg_test {

// The column that gives a server table a stable natural order (the
// engine's own kdx_order, never listed), for the columns of CREATE TABLE.
constexpr char kOrderKey[] = "kdx_order bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY";

inline std::string LastErrorText() {
  UNSIGNED32 code = 0;
  std::string text;
  static_cast<void>(AdsGetLastError(&code, &text));
  return text;
}

inline UNSIGNED32 LastErrorCode() {
  UNSIGNED32 code = 0;
  std::string text;
  static_cast<void>(AdsGetLastError(&code, &text));
  return code;
}

// `uri` with its database replaced by `database`.
inline std::string WithDatabase(const std::string& uri, const std::string& database) {
  const size_t authority = uri.find("://") + 3;
  const size_t query = uri.find('?', authority);
  const size_t slash = uri.find('/', authority);
  const size_t path_end = query == std::string::npos ? uri.size() : query;
  const std::string head = uri.substr(0, slash == std::string::npos || slash > path_end ? path_end : slash);
  return head + "/" + database + uri.substr(path_end);
}

struct ConnDeleter {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using Conn = std::unique_ptr<PGconn, ConnDeleter>;

// A plain libpq connection (autocommit), failing the test when refused.
inline Conn Connect(const std::string& uri) {
  Conn conn(PQconnectdb(uri.c_str()));
  EXPECT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
  return conn;
}

// Runs `sql` on `conn`; the result's first value ("" when none).
inline std::string RunSql(PGconn* conn, const std::string& sql) {
  PGresult* r = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  EXPECT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << sql << ": " << PQresultErrorMessage(r);
  std::string value = status == PGRES_TUPLES_OK && PQntuples(r) > 0 && PQnfields(r) > 0 ? PQgetvalue(r, 0, 0) : "";
  PQclear(r);
  return value;
}

// Runs `work` on a thread of its own: false when it has not returned within
// `limit`; the server process `pid` (stopped by the test) is then continued,
// so that the work can return, and waited for.
inline bool ReturnsWithin(std::chrono::milliseconds limit, int pid, const std::function<void()>& work) {
  std::future<void> done = std::async(std::launch::async, work);
  if (done.wait_for(limit) == std::future_status::ready) return true;
  kill(pid, SIGCONT);
  done.wait();
  return false;
}

// Each test gets database kdx_t_<pid>_<n>; `uri_` reaches it as the admin,
// `admin_` is an autocommit connection to it (the HR application's side).
class PgFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* uri = std::getenv("KDX_TEST_PG_URI");
    if (uri == nullptr || *uri == '\0') {
      if (std::getenv("KDX_TEST_PG_REQUIRED") != nullptr || std::getenv("CI") != nullptr) {
        FAIL() << "KDX_TEST_PG_URI is not set, and server tests are required here (KDX_TEST_PG_REQUIRED or CI); "
                  "run them through scripts/test, which starts a cluster with scripts/pg-cluster";
      }
      GTEST_SKIP() << "no PostgreSQL server: set KDX_TEST_PG_URI (scripts/pg-cluster start; scripts/pg-cluster uri DIR)";
    }
    admin_uri_ = uri;
    static std::atomic<int> counter{0};
    database_ = "kdx_t_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 100000);
    server_ = Connect(admin_uri_);
    ASSERT_EQ(PQstatus(server_.get()), CONNECTION_OK);
    RunSql(server_.get(), "CREATE DATABASE " + database_);
    uri_ = WithDatabase(admin_uri_, database_);
    admin_ = Connect(uri_);
    ASSERT_EQ(PQstatus(admin_.get()), CONNECTION_OK);
  }
  void TearDown() override {
    admin_.reset();
    if (server_ != nullptr && !database_.empty()) {
      RunSql(server_.get(), "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    }
  }

  // Runs `sql` as the HR application would (committed at once).
  std::string Sql(const std::string& sql) { return RunSql(admin_.get(), sql); }

  // The server process of the one session on the test's database other
  // than admin_ (the engine's), waited for up to 5 s; 0 when there is none.
  int EngineBackend() {
    for (int i = 0; i < 100; ++i) {
      const std::string pid = Sql("SELECT pid FROM pg_stat_activity WHERE datname = current_database() AND "
                                  "pid <> pg_backend_pid() AND backend_type = 'client backend' LIMIT 1");
      if (!pid.empty()) return std::stoi(pid);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }
  // Whether server process `pid` has ended, waited for up to 5 s.
  bool Ended(int pid) {
    for (int i = 0; i < 100; ++i) {
      if (Sql("SELECT count(*) FROM pg_stat_activity WHERE pid = " + std::to_string(pid)) == "0") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string admin_uri_;
  std::string database_;
  std::string uri_;
  Conn server_;  // to the cluster's first database, for CREATE/DROP DATABASE
  Conn admin_;   // to the test's database
};

}  // namespace pg_test

#endif  // KDX_TESTS_ENGINE_PG_TEST_SUPPORT_H_
