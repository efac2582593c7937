// Server statements: places and their kinds from the server, dates compared
// by calendar day, result columns with their types and sources, rows in the
// storage forms of table files, and each statement prepared once.
#include "engine/pg_query.h"

#include <sqlite3.h>

#include "engine/pg_session.h"
#include "engine/server_stream.h"
#include "engine/schema.h"
#include "engine/sql_codes.h"
#include "tests/engine/pg_test_support.h"

namespace engine {
namespace {

using pg_test::LastErrorText;

class PgQueryTest : public pg_test::PgFixture {
 protected:
  void SetUp() override {
    PgFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Sql("CREATE TABLE emp_cld(emp_code char(12), date date, seen timestamp, at time, hours numeric(5,2), "
        "note text)");
    Sql("INSERT INTO emp_cld VALUES ('E1', '2010-03-05', '2010-03-05 10:00:00', '10:00:00', 8, 'full'), "
        "('E1', '2010-03-06', '2010-03-06 09:30:00.25', '09:30:00.25', 4.5, NULL), "
        "('E2', '2010-03-05', '2010-03-05 23:59:59', '23:59:59', 7.25, 'late')");
    ASSERT_EQ(PgSession::Open(uri_, &session_), 0u) << LastErrorText();
  }

  // Runs `text` with `values`; each row as "value|value|..." lines.
  std::string Rows(PgQuery& query, const std::vector<std::optional<std::string>>& values) {
    std::unique_ptr<PgRows> rows;
    if (query.Execute(values, &rows) != 0) return "error " + LastErrorText();
    std::string out;
    bool row = false;
    while (rows->Step(&row) == 0 && row) {
      for (size_t c = 0; c < rows->columns().size(); ++c) {
        const ResultCell cell = rows->Cell(static_cast<int>(c));
        out += cell.type == SQLITE_INTEGER ? std::to_string(cell.integer)
               : cell.type == SQLITE_FLOAT ? std::to_string(cell.real)
               : cell.type == SQLITE_NULL  ? std::string("NULL")
                                           : std::string(cell.bytes, cell.size);
        out += "|";
      }
      out += "\n";
    }
    return out;
  }

  std::unique_ptr<PgSession> session_;
};

TEST_F(PgQueryTest, EachPlaceTakesItsKindFromTheServer) {
  PgQuery query;
  ASSERT_EQ(query.Prepare(session_.get(),
                          "SELECT emp_code FROM emp_cld WHERE date = :day AND seen >= :since AND at < :until "
                          "AND emp_code = :code AND date BETWEEN :day AND :last AND note <> ':not_a_place'"),
            0u)
      << LastErrorText();
  ASSERT_EQ(query.places().size(), 6u);
  EXPECT_EQ(query.places()[4].name, "day");  // every occurrence is a place of its own
  EXPECT_EQ(query.place_kinds(), (std::vector<PlaceKind>{PlaceKind::kDate, PlaceKind::kTimestamp, PlaceKind::kTime,
                                                         PlaceKind::kOther, PlaceKind::kDate, PlaceKind::kDate}));
  EXPECT_NE(query.server_text().find("date =  $1  AND seen >=  $2 "), std::string::npos) << query.server_text();
  EXPECT_NE(query.server_text().find("':not_a_place'"), std::string::npos);
}

TEST_F(PgQueryTest, ADateBoundToADatePlaceComparesByCalendarDay) {
  PgQuery query;
  ASSERT_EQ(query.Prepare(session_.get(), "SELECT emp_code FROM emp_cld WHERE date = :day ORDER BY emp_code"), 0u)
      << LastErrorText();
  // A date and time bound to a DATE place: its time of day is dropped.
  int64_t julian = 0;
  ASSERT_TRUE(ParseIsoDate("2010-03-05", &julian));
  BoundValue value;
  value.kind = BoundValue::Kind::kTimestamp;
  value.julian = julian;
  value.milliseconds = 15 * 3600 * 1000;
  EXPECT_EQ(Rows(query, {PlaceText(value, query.place_kinds()[0])}), "E1|\nE2|\n");
  EXPECT_EQ(Rows(query, {std::nullopt}), "");  // NULL matches no row

  PgQuery since;
  ASSERT_EQ(since.Prepare(session_.get(), "SELECT emp_code FROM emp_cld WHERE seen >= :since AND at >= :at"), 0u);
  value.milliseconds = 9 * 3600 * 1000 + 30 * 60 * 1000 + 250;
  ASSERT_TRUE(ParseIsoDate("2010-03-06", &value.julian));
  EXPECT_EQ(Rows(since, {PlaceText(value, since.place_kinds()[0]), PlaceText(value, since.place_kinds()[1])}),
            "E1|\n");
}

TEST_F(PgQueryTest, ResultColumnsCarryTheirTypesSourcesAndStoredForms) {
  PgQuery query;
  ASSERT_EQ(query.Prepare(session_.get(),
                          "SELECT c.emp_code, c.date, c.seen, c.at, c.hours, c.note, count(*) OVER () AS n, "
                          "c.hours * 2 AS twice FROM emp_cld c WHERE c.emp_code = :code ORDER BY c.date"),
            0u)
      << LastErrorText();
  std::unique_ptr<PgRows> rows;
  ASSERT_EQ(query.Execute({"E1"}, &rows), 0u) << LastErrorText();
  ASSERT_TRUE(rows->has_rows());
  EXPECT_EQ(rows->row_count(), 2);
  std::string declared;
  for (const PgResultColumn& c : rows->columns()) declared += c.name + ":" + c.declared + " ";
  EXPECT_EQ(declared, "emp_code:CHAR(48) date:DATE seen:TIMESTAMP at:TIME hours:NUMERIC(5,2) note:MEMO n: twice: ");
  const std::string table_oid = Sql("SELECT 'emp_cld'::regclass::oid");
  EXPECT_EQ(std::to_string(rows->columns()[1].table_oid), table_oid);
  EXPECT_EQ(rows->columns()[1].table_column, 2);
  EXPECT_EQ(rows->columns()[6].table_oid, 0u);
  EXPECT_EQ(Rows(query, {"E1"}),
            "E1|2010-03-05|2010-03-05 10:00:00|10:00:00|8|full|2|16|\n"
            "E1|2010-03-06|2010-03-06 09:30:00.250|09:30:00.250|4.500000|NULL|2|9|\n");
}

TEST_F(PgQueryTest, ATextIsPreparedOncePerSession) {
  const std::string text = "SELECT count(*) FROM pg_prepared_statements WHERE name LIKE 'kdx%' AND :x IS NULL";
  PgQuery first;
  ASSERT_EQ(first.Prepare(session_.get(), text), 0u) << LastErrorText();
  EXPECT_EQ(Rows(first, {std::nullopt}), "1|\n");
  PgQuery again;
  ASSERT_EQ(again.Prepare(session_.get(), text), 0u);
  EXPECT_EQ(Rows(again, {std::nullopt}), "1|\n");
  EXPECT_EQ(Rows(again, {std::nullopt}), "1|\n");
  PgQuery other;
  ASSERT_EQ(other.Prepare(session_.get(), text + " "), 0u);
  EXPECT_EQ(Rows(other, {std::nullopt}), "2|\n");
}

TEST_F(PgQueryTest, StatementsWithoutRowsAndRefusedValuesAndCounts) {
  PgQuery set;
  ASSERT_EQ(set.Prepare(session_.get(), "SET LOCAL work_mem = '8MB'"), 0u) << LastErrorText();
  std::unique_ptr<PgRows> rows;
  ASSERT_EQ(set.Execute({}, &rows), 0u) << LastErrorText();
  EXPECT_FALSE(rows->has_rows());
  bool row = true;
  EXPECT_EQ(rows->Step(&row), 0u);
  EXPECT_FALSE(row);

  EXPECT_EQ(set.Execute({"extra"}, &rows), AE_KDX_SQL_PARAMETER);

  PgQuery bc;
  ASSERT_EQ(bc.Prepare(session_.get(), "SELECT d FROM (VALUES ('2010-01-01'::date), ('0044-03-15 BC')) v(d)"), 0u);
  ASSERT_EQ(bc.Execute({}, &rows), 0u) << LastErrorText();
  EXPECT_EQ(rows->Step(&row), 0u);
  EXPECT_TRUE(row);
  EXPECT_EQ(rows->Step(&row), AE_KDX_SQL_EXECUTE);
  EXPECT_NE(LastErrorText().find("on " + session_->name() + ", column d, row 2: '0044-03-15 BC'"), std::string::npos)
      << LastErrorText();
}

TEST_F(PgQueryTest, AServerCursorReadsEachWindowInOneRequestAndGoesBackByDeclaringAgain) {
  ServerCursor cursor(session_.get(), "SELECT n, n * 10 AS t FROM generate_series(1, 25) n WHERE n >= $1", {"2"},
                      "SQL statement \"numbers\"");
  ASSERT_EQ(cursor.Open(10), 0u) << LastErrorText();
  // Each read: the key asked for, then "key:value" per row; the requests
  // sent so far at the end.
  auto read = [&](int64_t key, size_t limit) {
    std::string out;
    if (cursor.Start(key, limit) != 0) return "error " + LastErrorText();
    bool row = false;
    while (cursor.Step(&row) == 0 && row) {
      out += std::to_string(cursor.Key()) + ":" + std::to_string(cursor.Cell(1).integer) + " ";
    }
    cursor.Finish();
    return out + "#" + std::to_string(cursor.requests());
  };
  // The first fetch, and the next window's sent ahead.
  EXPECT_EQ(read(INT64_MIN, 10), "1:20 2:30 3:40 4:50 5:60 6:70 7:80 8:90 9:100 10:110 #2");
  // The window sent ahead, and the next one's.
  EXPECT_EQ(read(11, 10), "11:120 12:130 13:140 14:150 15:160 16:170 17:180 18:190 19:200 20:210 #3");
  EXPECT_EQ(read(30, 10), "#3");       // past the end (the rows sent ahead ended): nothing to ask
  EXPECT_EQ(read(2, 2), "2:30 3:40 #4");  // declared again; no more windows ahead
  EXPECT_EQ(read(5, 2), "5:60 6:70 #5");  // skips row 4
}

}  // namespace
}  // namespace engine
