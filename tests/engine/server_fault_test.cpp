// A server connection, a table read and a statement with the Nth request to
// the server failing, for N = 1, 2, ... until none fails: each failure is an
// error naming the server, in the error's detail too, and never a crash.
#include <gtest/gtest.h>

#include <string>

#include "engine/ads.h"
#include "engine/faults.h"
#include "tests/engine/pg_test_support.h"

namespace {

// Connects, reads table emp and runs a statement on it; 0 or the first
// failure's code.
UNSIGNED32 ReadThroughServer(const std::string& uri) {
  ADSHANDLE connection = 0;
  UNSIGNED32 rc = AdsConnect60(uri, ADS_REMOTE_SERVER, "", "", 0, &connection);
  ADSHANDLE table = 0;
  UNSIGNED32 count = 0;
  if (rc == 0) rc = AdsOpenTable(connection, "emp", "", 3, 1, 1, 2, 0, &table);
  if (rc == 0) rc = AdsGetRecordCount(table, 0, &count);
  ADSHANDLE statement = 0;
  ADSHANDLE cursor = 0;
  if (rc == 0) rc = AdsCreateSQLStatement(connection, &statement);
  if (rc == 0) rc = AdsPrepareSQL(statement, "select code from emp where code >= :low");
  if (rc == 0) rc = AdsExecuteSQL(statement, &cursor);
  UNSIGNED32 failed_code = 0;
  std::string failed_text;
  static_cast<void>(AdsGetLastError(&failed_code, &failed_text));
  AdsErrorDetail detail;
  static_cast<void>(AdsGetLastErrorDetail(&detail));
  // Closing after a failure may fail too; only the first failure counts.
  if (connection != 0) static_cast<void>(AdsDisconnect(connection));
  if (rc != 0) {
    EXPECT_NE(failed_text.find("PostgreSQL server"), std::string::npos) << failed_text;
    EXPECT_NE(detail.server.find("PostgreSQL server"), std::string::npos) << failed_text;
  }
  return rc;
}

class ServerFaultTest : public pg_test::PgFixture {};

TEST_F(ServerFaultTest, EveryFailedRequestIsAnErrorNamingTheServer) {
  Sql(std::string("CREATE TABLE emp(") + pg_test::kOrderKey + ", code text)");
  Sql("INSERT INTO emp(code) VALUES ('E1'), ('E2')");
  ASSERT_EQ(ReadThroughServer(uri_), 0u) << pg_test::LastErrorText();
  int64_t failed = 0;
  for (int64_t n = 1; n <= 1000; ++n) {
    engine::ArmFault(n, engine::kServer);
    const UNSIGNED32 rc = ReadThroughServer(uri_);
    const bool fired = engine::FaultFired();
    engine::DisarmFault();
    if (!fired) {
      EXPECT_EQ(rc, 0u) << pg_test::LastErrorText();
      EXPECT_GT(failed, 2);  // the connect, the session's start and a read at least
      return;
    }
    EXPECT_NE(rc, 0u) << "request " << n << " failed unnoticed";
    ++failed;
  }
  FAIL() << "a read still met a failing request after 1000";
}

}  // namespace
