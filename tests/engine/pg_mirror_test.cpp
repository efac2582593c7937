// Server tables mirrored into SQLite: value for value what a table file with
// the same rows holds, read by the engine's own table code, in load order,
// from the session's snapshot.
#include "engine/pg_mirror.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "engine/engine_table.h"
#include "engine/handles.h"
#include "engine/pg_catalog.h"
#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "tests/engine/pg_test_support.h"

namespace engine {
namespace {

using pg_test::kOrderKey;
using pg_test::LastErrorText;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

Db MemoryDb() {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  return Db(db);
}

// Every row of `table` in rowid order, each value as "type:quoted value".
std::string Dump(sqlite3* db, const std::string& table) {
  sqlite3_stmt* stmt = nullptr;
  std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY rowid";
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  std::string out;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      static const char* kTypes[] = {"?", "int", "real", "text", "blob", "null"};
      char real[40];
      std::string value;
      switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_FLOAT: std::snprintf(real, sizeof real, "%.17g", sqlite3_column_double(stmt, c)); value = real; break;
        case SQLITE_BLOB: value = std::to_string(sqlite3_column_bytes(stmt, c)) + " bytes"; break;
        case SQLITE_NULL: break;
        default: value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
      }
      out += std::string(kTypes[sqlite3_column_type(stmt, c)]) + ":" + value + "|";
    }
    out += "\n";
  }
  sqlite3_finalize(stmt);
  return out;
}

class PgMirrorTest : public pg_test::PgFixture {
 protected:
  void OpenSession() {
    ASSERT_EQ(PgSession::Open(uri_, &session_), 0u) << LastErrorText();
    catalog_ = std::make_unique<PgCatalog>(session_.get());
  }
  // Mirrors `name` into a fresh database; null when refused.
  Db Mirror(const std::string& name, UNSIGNED32* rc = nullptr) {
    if (session_ == nullptr) OpenSession();
    const PgTable* table = nullptr;
    Db db = MemoryDb();
    UNSIGNED32 result = catalog_->FindTable(name, &table);
    if (result == 0) result = PgMirrorTable(*session_, *table, db.get());
    if (rc != nullptr) *rc = result;
    if (rc == nullptr) {
      EXPECT_EQ(result, 0u) << LastErrorText();
    }
    return result == 0 ? std::move(db) : nullptr;
  }

  // The engine's own table over the mirror of `name`.
  static std::unique_ptr<EngineTable> Load(sqlite3* mirror, const std::string& name) {
    auto table = std::make_unique<EngineTable>(nullptr, mirror, false, "main", name, name);
    EXPECT_EQ(table->Load(), 0u) << LastErrorText();
    return table;
  }

  std::unique_ptr<PgSession> session_;
  std::unique_ptr<PgCatalog> catalog_;
};

TEST_F(PgMirrorTest, HoldsWhatATableFileWithTheSameRowsHolds) {
  Sql(std::string("CREATE TABLE emp(code char(6), active boolean, salary numeric(12,2), rate numeric(19,4), "
                  "pay money, start date, note text, name varchar(20), photo bytea, factor double precision, "
                  "at time(6), modified timestamp, id integer, small smallint, ") + kOrderKey + ")");
  Sql("INSERT INTO emp VALUES "
      "('E1', true, 2500.00, 12.3456, '1234.5', '2010-03-05', 'memo', 'Ann', '\\x00ff', 0.1, '10:00:00', "
      "'2010-03-05 10:00:00', 1, -2), "
      "('E2  ', false, -2500.5, 100, '-0.01', '0001-01-01', '', ' ', '\\x', 1e300, '23:59:59.999999', "
      "'9999-12-31 23:59:59.1239', -2147483647, 32767), "
      "(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
      "('', true, 0, 0, 0, '2024-02-29', 'a\nb', 'x', '\\x41', -0.5, '00:00:00.5', '2024-02-29 00:00:00.001', 0, 0)");
  Db mirror = Mirror("emp");
  ASSERT_NE(mirror, nullptr);

  // The same rows written to a table file by the storage rules.
  Db file = MemoryDb();
  ASSERT_EQ(sqlite3_exec(file.get(),
                         "CREATE TABLE emp(code CHAR(6), active LOGICAL, salary NUMERIC(12,2), rate MONEY, pay MONEY, "
                         "start DATE, note MEMO, name VARCHAR(20), photo BLOB, factor DOUBLE, at TIME, "
                         "modified TIMESTAMP, id INTEGER, small SHORTINT);"
                         "INSERT INTO emp VALUES "
                         "('E1', 1, 2500, 12.3456, 1234.5, '2010-03-05', 'memo', 'Ann', x'00ff', 0.1, '10:00:00', "
                         "'2010-03-05 10:00:00', 1, -2), "
                         "('E2', 0, -2500.5, 100, -0.01, '0001-01-01', '', ' ', x'', 1e300, '23:59:59.999', "
                         "'9999-12-31 23:59:59.123', -2147483647, 32767), "
                         "(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
                         "('', 1, 0, 0, 0, '2024-02-29', 'a' || char(10) || 'b', 'x', x'41', -0.5, '00:00:00.500', "
                         "'2024-02-29 00:00:00.001', 0, 0)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(file.get());
  EXPECT_EQ(Dump(mirror.get(), "emp"), Dump(file.get(), "emp"));
}

TEST_F(PgMirrorTest, TheEngineReadsTheMirrorAsATableWithItsTags) {
  Sql(std::string("CREATE TABLE \"Emp_Cld\"(emp_code char(12), date date, work_code char(2), ") + kOrderKey + ")");
  Sql("CREATE UNIQUE INDEX \"EMP_CLD.PRIMARY\" ON \"Emp_Cld\"(emp_code, date DESC)");
  Sql("CREATE INDEX work ON \"Emp_Cld\"(work_code)");
  Db mirror = Mirror("emp_cld.adt");
  ASSERT_NE(mirror, nullptr);
  std::unique_ptr<EngineTable> loaded = Load(mirror.get(), "Emp_Cld");
  const EngineTable& table = *loaded;
  ASSERT_EQ(table.columns().size(), 3u);
  EXPECT_EQ(table.columns()[0].type.type, ADS_STRING);
  EXPECT_EQ(table.columns()[0].type.width, 48u);  // 12 characters of 4 bytes at most in UTF8
  EXPECT_EQ(table.columns()[1].type.type, ADS_DATE);
  ASSERT_EQ(table.indexes().size(), 2u);
  EXPECT_EQ(table.indexes()[0].name, "PRIMARY");
  EXPECT_TRUE(table.indexes()[0].unique);
  EXPECT_EQ(table.indexes()[0].segments, (std::vector<int>{0, 1}));
  EXPECT_EQ(table.indexes()[0].segment_descending, (std::vector<bool>{false, true}));
  EXPECT_EQ(table.indexes()[1].name, "work");
}

TEST_F(PgMirrorTest, ReadsTheSessionsSnapshotInLoadOrder) {
  Sql(std::string("CREATE TABLE emp(code text, ") + kOrderKey + ")");
  Sql("INSERT INTO emp VALUES ('c'), ('a'), ('b')");
  OpenSession();
  Sql("INSERT INTO emp VALUES ('d')");  // committed after the session began
  Sql("DELETE FROM emp WHERE code = 'a'");
  Db mirror = Mirror("emp");
  ASSERT_NE(mirror, nullptr);
  EXPECT_EQ(Dump(mirror.get(), "emp"), "text:c|\ntext:a|\ntext:b|\n");
}

TEST_F(PgMirrorTest, TheNaturalOrderIsTheKeysAndATableWithoutOneIsRefusedSayingWhatToAdd) {
  const struct {
    const char* columns;
    const char* key;    // made after the rows: ('c', 2), ('a', 3), ('b', 1)
    const char* order;  // of the mirror; "" when refused
  } cases[] = {
      {"code text, n integer", "", ""},
      {"code text, n integer", "CREATE UNIQUE INDEX ON t(code)", ""},  // NULLs would be no key
      {"code text NOT NULL, n integer", "CREATE UNIQUE INDEX ON t(code) WHERE n > 0", ""},
      {"code text NOT NULL, n integer", "CREATE UNIQUE INDEX ON t(code DESC)", "c b a "},
      {"code text NOT NULL, n integer NOT NULL", "CREATE UNIQUE INDEX zz ON t(n); CREATE UNIQUE INDEX aa ON t(code)",
       "a b c "},
      {"code text NOT NULL, n integer", "CREATE UNIQUE INDEX ON t(code); ALTER TABLE t ADD PRIMARY KEY (n)", "b c a "},
  };
  for (const auto& c : cases) {
    session_.reset();  // its locks would hold the DROP
    Sql("DROP TABLE IF EXISTS t");
    Sql(std::string("CREATE TABLE t(") + c.columns + ")");
    Sql("INSERT INTO t VALUES ('c', 2), ('a', 3), ('b', 1)");
    if (*c.key != '\0') Sql(c.key);
    Sql("UPDATE t SET n = n WHERE code = 'c'");  // moves the row on the server
    UNSIGNED32 rc = 0;
    Db mirror = Mirror("t", &rc);
    if (*c.order == '\0') {
      EXPECT_EQ(rc, AE_KDX_PG_NO_ORDER) << c.key;
      EXPECT_NE(LastErrorText().find("Table t on " + session_->name() + " has no stable row order"),
                std::string::npos)
          << LastErrorText();
      EXPECT_NE(LastErrorText().find("ALTER TABLE \"public\".\"t\" ADD COLUMN kdx_order bigint GENERATED ALWAYS AS "
                                     "IDENTITY PRIMARY KEY"),
                std::string::npos)
          << LastErrorText();
      continue;
    }
    ASSERT_NE(mirror, nullptr) << c.key << LastErrorText();
    const std::string rows = Dump(mirror.get(), "t");
    std::string order;
    for (size_t at = 0; (at = rows.find("text:", at)) != std::string::npos; at += 5) order += rows.substr(at + 5, 1) + " ";
    EXPECT_EQ(order, c.order) << c.key;
  }
}

TEST_F(PgMirrorTest, AUniqueIndexWhoseStoredKeysCollideBecomesPlain) {
  Sql(std::string("CREATE TABLE emp(code char(4), seen timestamp, ") + kOrderKey + ")");
  Sql("CREATE UNIQUE INDEX \"emp.SEEN\" ON emp(seen)");
  Sql("INSERT INTO emp VALUES ('E1', '2010-03-05 10:00:00.0001'), ('E2', '2010-03-05 10:00:00.0002')");
  Db mirror = Mirror("emp");
  ASSERT_NE(mirror, nullptr);
  std::unique_ptr<EngineTable> loaded = Load(mirror.get(), "emp");
  const EngineTable& table = *loaded;
  ASSERT_EQ(table.indexes().size(), 1u);
  EXPECT_EQ(table.indexes()[0].name, "SEEN");
  EXPECT_FALSE(table.indexes()[0].unique);
}

TEST_F(PgMirrorTest, AValueWithoutAStoredFormNamesTableColumnAndRowAndTheSessionGoesOn) {
  Sql(std::string("CREATE TABLE emp(code char(6), start date, ") + kOrderKey + ")");
  Sql("INSERT INTO emp (code, start) SELECT 'E' || n, '2010-01-01'::date + n FROM generate_series(1, 7000) n");
  Sql("UPDATE emp SET start = '0044-03-15 BC' WHERE code = 'E6500'");  // stays row 6500 of the key's order
  Sql(std::string("CREATE TABLE dept(code char(4), ") + kOrderKey + ")");
  Sql("INSERT INTO dept VALUES ('D1')");
  UNSIGNED32 rc = 0;
  EXPECT_EQ(Mirror("emp", &rc), nullptr);
  EXPECT_EQ(rc, AE_KDX_BAD_STORED_VALUE);
  EXPECT_NE(LastErrorText().find("Table emp on " + session_->name() + ", column start, row 6500: '0044-03-15 BC'"),
            std::string::npos)
      << LastErrorText();
  Db dept = Mirror("dept");
  ASSERT_NE(dept, nullptr);
  EXPECT_EQ(Dump(dept.get(), "dept"), "text:D1|\n");
}

TEST_F(PgMirrorTest, AnOpenTableIsCopiedWhenItsRowsAreFirstRead) {
  Sql(std::string("CREATE TABLE emp(code char(4), seen timestamp, start date, ") + kOrderKey + ")");
  Sql("CREATE UNIQUE INDEX \"emp.SEEN\" ON emp(seen)");
  Sql("INSERT INTO emp VALUES ('E1', '2010-03-05 10:00:00.0001', '0044-03-15 BC'), "
      "('E2', '2010-03-05 10:00:00.0002', '2010-01-01')");
  ADSHANDLE connection = 0, table = 0, index = 0;
  ASSERT_EQ(AdsConnect60(uri_, ADS_REMOTE_SERVER, "", "", 0, &connection), 0u) << LastErrorText();
  ASSERT_EQ(AdsOpenTable(connection, "emp", "", 3, 1, 1, 2, 0, &table), 0u) << LastErrorText();
  ASSERT_EQ(AdsGetIndexHandle(table, "SEEN", &index), 0u) << LastErrorText();
  UNSIGNED16 unique = 0;
  ASSERT_EQ(AdsIsIndexUnique(index, &unique), 0u);
  EXPECT_EQ(unique, 1u);  // as the server says, until the rows are read
  // The bad value is met by the first read, which fails naming it; so does
  // the next, which tries again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(AdsGotoTop(table), AE_KDX_BAD_STORED_VALUE);
    EXPECT_NE(LastErrorText().find("Table emp on "), std::string::npos) << LastErrorText();
  }
  Sql("UPDATE emp SET start = NULL");  // after the run's snapshot: the run still sees the bad value
  EXPECT_EQ(AdsGotoTop(table), AE_KDX_BAD_STORED_VALUE);
  EXPECT_EQ(AdsDisconnect(connection), 0u);

  ASSERT_EQ(AdsConnect60(uri_, ADS_REMOTE_SERVER, "", "", 0, &connection), 0u) << LastErrorText();
  ASSERT_EQ(AdsOpenTable(connection, "emp", "", 3, 1, 1, 2, 0, &table), 0u) << LastErrorText();
  ASSERT_EQ(AdsGotoTop(table), 0u) << LastErrorText();
  ASSERT_EQ(AdsGetIndexHandle(table, "SEEN", &index), 0u) << LastErrorText();
  ASSERT_EQ(AdsIsIndexUnique(index, &unique), 0u);
  EXPECT_EQ(unique, 0u);  // the copy's keys collide
  EXPECT_EQ(AdsDisconnect(connection), 0u);
}

TEST_F(PgMirrorTest, AHundredThousandRowsInOneOrderedRead) {
  constexpr int kRows = 100000;
  Sql(std::string("CREATE TABLE emp(code char(12), name varchar(40), start date, salary numeric(12,2), "
                  "active boolean, ") + kOrderKey + ")");
  Sql("INSERT INTO emp (code, name, start, salary, active) SELECT 'E' || lpad(n::text, 6, '0'), 'Employee ' || n, '2000-01-01'::date + n % 5000, "
      "n * 1.25, n % 2 = 0 FROM generate_series(" + std::to_string(kRows) + ", 1, -1) n");
  Sql("CREATE UNIQUE INDEX \"emp.PRIMARY\" ON emp(code)");
  OpenSession();
  const auto start = std::chrono::steady_clock::now();
  Db mirror = Mirror("emp");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_NE(mirror, nullptr);
  std::printf("mirrored %d rows in %.3f s: %.0f rows/s\n", kRows, seconds, kRows / seconds);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(mirror.get(), "SELECT count(*), min(rowid), max(rowid), "
                                             "(SELECT code FROM emp WHERE rowid = 1), "
                                             "(SELECT code FROM emp ORDER BY code LIMIT 1) FROM emp",
                               -1, &stmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), kRows);
  EXPECT_EQ(sqlite3_column_int(stmt, 2), kRows);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)), "E100000");  // load order
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 4)), "E000001");
  sqlite3_finalize(stmt);
}

// A table sought and walked by key reads windows of the server's rows, row
// for row as its whole copy reads; the first read that needs the whole table
// copies it and goes on from the record the table stands on.
TEST_F(PgMirrorTest, ATableSoughtAndWalkedByKeyReadsWindowsAsItsCopyReads) {
  Sql(std::string("CREATE TABLE emp(code char(6), day date, n integer, ") + kOrderKey + ")");
  Sql("CREATE INDEX \"emp.KEY\" ON emp(code, day)");
  // Codes inserted out of order, each with several days, some days twice.
  Sql("INSERT INTO emp (code, day, n) SELECT 'E' || ((n * 37) % 101), '2020-01-01'::date + n % 3, n "
      "FROM generate_series(1, 600) n");
  ADSHANDLE connection = 0;
  ASSERT_EQ(AdsConnect60(uri_, ADS_REMOTE_SERVER, "", "", 0, &connection), 0u) << LastErrorText();
  auto open = [&](ADSHANDLE* table, ADSHANDLE* index) {
    ASSERT_EQ(AdsOpenTable(connection, "emp", "", 3, 1, 1, 2, 0, table), 0u) << LastErrorText();
    ASSERT_EQ(AdsGetIndexHandle(*table, "KEY", index), 0u) << LastErrorText();
  };
  auto row = [](ADSHANDLE table) {
    UNSIGNED16 eof = 0;
    EXPECT_EQ(AdsAtEOF(table, &eof), 0u);
    if (eof) return std::string("<eof>");
    std::string code, day, n;
    EXPECT_EQ(AdsGetField(table, "CODE", &code), 0u);
    EXPECT_EQ(AdsGetField(table, "DAY", &day), 0u);
    EXPECT_EQ(AdsGetField(table, "N", &n), 0u);
    return code + "|" + day + "|" + n;
  };
  // Seeks (found, missed, a prefix, past the end), each followed by steps,
  // then the whole index walked.
  auto exercise = [&](ADSHANDLE table, ADSHANDLE index) {
    std::string log;
    for (const char* code : {"E50", "E5", "E0", "E99", "E1000", "F"}) {
      std::string key(code);
      key.resize(6, ' ');
      UNSIGNED16 found = 0;
      EXPECT_EQ(AdsSeek(index, reinterpret_cast<const uint8_t*>(key.data()), 6, 1, 1, &found), 0u) << LastErrorText();
      log += std::string(code) + (found ? " found " : " missed ") + row(table) + "\n";
      for (int step = 0; step < 40; ++step) {
        EXPECT_EQ(AdsSkip(index, 1), 0u) << LastErrorText();
        log += row(table) + "\n";
      }
    }
    EXPECT_EQ(AdsGotoTop(index), 0u) << LastErrorText();
    for (UNSIGNED16 eof = 0; AdsAtEOF(table, &eof) == 0 && !eof && AdsSkip(index, 0) == 0;) {
      log += row(table) + "\n";
      EXPECT_EQ(AdsSkip(index, 1), 0u) << LastErrorText();
    }
    return log;
  };
  auto engine_table = [](ADSHANDLE table) {
    EngineTable* t = nullptr;
    EXPECT_EQ(Lookup<EngineTable>(table, ADS_TABLE, &t), 0u);
    return t;
  };

  auto queue = [](ADSHANDLE index, const char* code) {
    std::string key(code);
    key.resize(6, ' ');
    UNSIGNED16 queued = 0;
    EXPECT_EQ(AdsQueueSeek(index, reinterpret_cast<const uint8_t*>(key.data()), 6, &queued), 0u) << LastErrorText();
    return queued != 0;
  };

  ADSHANDLE windowed = 0, windowed_key = 0, copied = 0, copied_key = 0;
  open(&windowed, &windowed_key);
  // Seeks queued in another order, one of them never made: every seek and
  // walk reads as without the queue.
  for (const char* code : {"F", "E5", "E77", "E50", "E0"}) EXPECT_TRUE(queue(windowed_key, code)) << code;
  const std::string from_windows = exercise(windowed, windowed_key);
  EXPECT_TRUE(engine_table(windowed)->reads_windows());
  open(&copied, &copied_key);
  ASSERT_EQ(AdsGotoTop(copied), 0u) << LastErrorText();  // the natural order needs the whole table
  EXPECT_FALSE(engine_table(copied)->reads_windows());
  EXPECT_FALSE(queue(copied_key, "E5"));
  EXPECT_EQ(from_windows, exercise(copied, copied_key));
  EXPECT_EQ(std::count(from_windows.begin(), from_windows.end(), '\n'), 6 * 41 + 600);

  // Record numbers are those of the copy, and a record is gone back to
  // without it; a step back needs the whole table:
  // it is copied, and the walk goes on from the same record.
  ASSERT_EQ(AdsGotoTop(windowed_key), 0u);
  ASSERT_EQ(AdsSkip(windowed_key, 300), 0u);
  ASSERT_EQ(AdsGotoTop(copied_key), 0u);
  ASSERT_EQ(AdsSkip(copied_key, 300), 0u);
  UNSIGNED32 record = 0, expected = 0;
  ASSERT_EQ(AdsGetRecordNum(windowed, &record), 0u) << LastErrorText();
  ASSERT_EQ(AdsGetRecordNum(copied, &expected), 0u);
  EXPECT_EQ(record, expected);
  ASSERT_EQ(AdsGotoTop(windowed_key), 0u);
  ASSERT_EQ(AdsGotoRecord(windowed, record), 0u) << LastErrorText();  // the record read alone
  EXPECT_EQ(row(windowed), row(copied));
  EXPECT_TRUE(engine_table(windowed)->reads_windows());
  for (SIGNED32 step : {-1, 1, 1}) {
    ASSERT_EQ(AdsSkip(windowed_key, step), 0u) << LastErrorText();
    ASSERT_EQ(AdsSkip(copied_key, step), 0u);
    EXPECT_EQ(row(windowed), row(copied));
  }
  EXPECT_FALSE(engine_table(windowed)->reads_windows());
  EXPECT_EQ(AdsDisconnect(connection), 0u);
}

}  // namespace
}  // namespace engine
