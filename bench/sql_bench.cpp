// Benchmarks of sealed tables and SQL statements.
//
//  1. Open + unseal of a 100,000-row sealed employee table, key derivation
//     included (the key cache is emptied before each run): directly
//     (OpenSealedImage) and through the engine interface (AdsOpenTable +
//     AdsEnableEncryption + record count). Target: under 1 s.
//  2. A parameterised statement reopened with new values 10,000 times
//     (AdsPrepareSQL with the same text, AdsSetString, AdsExecuteSQL, read the
//     record, close the cursor), side by side with bare SQLite's prepare
//     once / bind / step / reset on the same table.
//  3. Materialising a 100,000-row SELECT into a cursor.
//
// Usage: sql_bench [ROWS] [REOPENS]    (defaults 100000 and 10000)
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/storage.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Check(bool ok, const std::string& what) {
  if (ok) return;
  UNSIGNED32 code = 0;
  std::string text;
  if (AdsGetLastError(&code, &text) != 0) text = "no error text";
  std::fprintf(stderr, "sql_bench: %s failed (%u %s)\n", what.c_str(), code, text.c_str());
  std::exit(1);
}

void Check(const engine::Status& status, const std::string& what) {
  if (status.ok()) return;
  std::fprintf(stderr, "sql_bench: %s failed (%u %s)\n", what.c_str(), status.code(), status.text().c_str());
  std::exit(1);
}

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "sql_bench: %s: %s\n", sql.c_str(), message ? message : "");
    std::exit(1);
  }
}

std::string Key(int i) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "E%06d", i);
  return buffer;
}

// An employee table of about a dozen columns.
void MakeTable(const std::string& path, int rows) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Exec(db,
       "CREATE TABLE employee(EMP_NO CHAR(10), NAME CHAR(40), SECTION CHAR(10), BATCH_NO CHAR(4),"
       " IC_NO CHAR(14), SALARY NUMERIC(12,2), ALLOWANCE MONEY, HIRED DATE, TERMINATION_DATE DATE,"
       " MODIFIED TIMESTAMP, GRADE INTEGER, ACTIVE LOGICAL);"
       "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO employee VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)", -1, &insert,
                     nullptr);
  std::mt19937 random(42);
  for (int i = 0; i < rows; ++i) {
    const std::string key = Key(i);
    const std::string name = "Employee number " + std::to_string(i);
    char section[16];  // formatted in place: g++ 12 warns (-Wrestrict) on "S" + std::to_string(...)
    std::snprintf(section, sizeof section, "S%d", i % 37);
    const std::string ic = std::to_string(800000000000LL + i);
    char hired[16];
    std::snprintf(hired, sizeof hired, "%04d-%02d-%02d", 1990 + i % 30, 1 + i % 12, 1 + i % 28);
    sqlite3_bind_text(insert, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, section, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, "B1", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 5, ic.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(insert, 6, 1000 + (random() % 900000) / 100.0);
    sqlite3_bind_double(insert, 7, (random() % 10000) / 100.0);
    sqlite3_bind_text(insert, 8, hired, -1, SQLITE_TRANSIENT);
    if (i % 10 == 0) sqlite3_bind_text(insert, 9, "2010-03-31", -1, SQLITE_STATIC);
    else sqlite3_bind_null(insert, 9);
    sqlite3_bind_text(insert, 10, "2010-03-08 14:05:09", -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 11, i % 9);
    sqlite3_bind_int(insert, 12, i % 2);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT; CREATE INDEX \"employee.EMP_NO\" ON employee(EMP_NO);");
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int reopens = argc > 2 ? std::atoi(argv[2]) : 10000;
  const std::string password = "VARDE5816";
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kdx-sql-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string sealed = (folder / "employee.adt").string();
  const std::string plain_folder = (folder / "plain").string();
  std::filesystem::create_directories(plain_folder);
  const std::string plain = plain_folder + "/employee.adt";

  MakeTable(plain, rows);
  std::filesystem::copy_file(plain, sealed);
  auto start = Clock::now();
  Check(SealFile(sealed, password), "seal");
  std::printf("seal %d rows (%.1f MB): %.3f s\n", rows, std::filesystem::file_size(sealed) / 1e6, Seconds(start));

  // 1. Open + unseal, key derivation included.
  double best_direct = 1e9;
  double best_engine = 1e9;
  for (int run = 0; run < 3; ++run) {
    ForgetSealedKeys();
    start = Clock::now();
    sqlite3* db = nullptr;
    Check(OpenSealedImage(sealed, password, &db), "unseal");
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM employee", -1, &count, nullptr);
    sqlite3_step(count);
    const int seen = sqlite3_column_int(count, 0);
    sqlite3_finalize(count);
    sqlite3_close(db);
    best_direct = std::min(best_direct, Seconds(start));
    Check(seen == rows, "row count after unseal");

    ForgetSealedKeys();
    start = Clock::now();
    ADSHANDLE connection = 0;
    ADSHANDLE table = 0;
    Check(AdsConnect60(folder.string(), ADS_LOCAL_SERVER, "", "", 0, &connection) == 0, "connect");
    Check(AdsOpenTable(connection, "employee", "", 3, 1, 1, 2, 0, &table) == 0, "open sealed table");
    Check(AdsEnableEncryption(table, password) == 0, "AdsEnableEncryption");
    UNSIGNED32 records = 0;
    Check(AdsGetRecordCount(table, 0, &records) == 0, "record count");
    Check(AdsGotoTop(table) == 0, "go to top");
    best_engine = std::min(best_engine, Seconds(start));
    Check(static_cast<int>(records) == rows, "record count after AdsEnableEncryption");
    Check(AdsDisconnect(connection) == 0, "disconnect");
  }
  std::printf("open + unseal incl. key derivation, direct:           %.3f s (target < 1 s)\n", best_direct);
  std::printf("open + unseal incl. key derivation, engine interface: %.3f s (target < 1 s)\n", best_engine);

  // 2. Reopen with new values.
  ADSHANDLE connection = 0;
  ADSHANDLE statement = 0;
  Check(AdsConnect60(plain_folder, ADS_LOCAL_SERVER, "", "", 0, &connection) == 0, "connect");
  Check(AdsCreateSQLStatement(connection, &statement) == 0, "create statement");
  const std::string text = "select * from employee where EMP_NO = :emp";
  std::mt19937 random(7);
  std::vector<uint8_t> record(4096);
  start = Clock::now();
  for (int i = 0; i < reopens; ++i) {
    Check(AdsPrepareSQL(statement, text) == 0, "prepare");
    Check(AdsSetString(statement, 1, Key(static_cast<int>(random() % rows))) == 0, "bind");
    ADSHANDLE cursor = 0;
    Check(AdsExecuteSQL(statement, &cursor) == 0, "execute");
    Check(AdsGotoTop(cursor) == 0, "top");
    UNSIGNED32 length = static_cast<UNSIGNED32>(record.size());
    Check(AdsGetRecord(cursor, record.data(), &length) == 0, "record");
    Check(AdsCloseTable(cursor) == 0, "close cursor");
  }
  const double engine_time = Seconds(start);

  sqlite3* db = nullptr;
  sqlite3_open_v2(plain.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "select * from employee where EMP_NO = ?1", -1, &query, nullptr);
  random.seed(7);
  long checksum = 0;
  start = Clock::now();
  for (int i = 0; i < reopens; ++i) {
    const std::string key = Key(static_cast<int>(random() % rows));
    sqlite3_bind_text(query, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(query) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(query); ++c) checksum += sqlite3_column_bytes(query, c);
    }
    sqlite3_reset(query);
  }
  const double bare_time = Seconds(start);
  sqlite3_finalize(query);
  sqlite3_close(db);
  std::printf("reopen with new values x%d: engine %.0f statements/s, bare SQLite %.0f statements/s (ratio %.2f;"
              " %ld bytes read by bare SQLite)\n",
              reopens, reopens / engine_time, reopens / bare_time, bare_time / engine_time, checksum);

  // 3. Materialising a whole table.
  start = Clock::now();
  Check(AdsPrepareSQL(statement, "select * from employee") == 0, "prepare all");
  ADSHANDLE cursor = 0;
  Check(AdsExecuteSQL(statement, &cursor) == 0, "execute all");
  UNSIGNED32 count = 0;
  Check(AdsGetRecordCount(cursor, 0, &count) == 0, "record count all");
  std::printf("select * of %u rows into a cursor: %.3f s\n", count, Seconds(start));
  Check(AdsCloseTable(cursor) == 0, "close cursor");
  Check(AdsDisconnect(connection) == 0, "disconnect");
  std::filesystem::remove_all(folder);
  return 0;
}
