// Statement texts made ready for a server: names resolved without regard to
// case against the catalogue, and the natural order of their tables added.
#include "engine/server_sql.h"

#include <gtest/gtest.h>

#include <map>

#include "engine/pg_codes.h"
#include "util/ascii.h"

namespace engine {
namespace {

PgTable Table(const std::string& name, const std::vector<std::string>& columns, bool ordered = true) {
  PgTable table;
  table.name = name;
  for (const std::string& column : columns) {
    PgColumn c;
    c.name = column;
    table.columns.push_back(c);
  }
  if (ordered) {
    table.hidden_attnum = 99;
    table.order = {{kOrderColumn, false}};
  }
  return table;
}

class ServerSqlTest : public ::testing::Test {
 protected:
  ServerSqlTest() {
    for (PgTable table : {Table("EMPLOYEE", {"emp_no", "BATCH_NO", "TERMINATION_DATE"}),
                          Table("empleave", {"EMPCODE", "REMARK1", "aprroved", "DAY"}),
                          Table("emp_cld", {"EMP_NO", "DATE", "DAY"}),
                          Table("Mixed", {"Remark1"}), Table("lv", {"SHIFT"}), Table("loose", {"code"}, false)}) {
      tables_[table.name] = table;
    }
    tables_["lv"].order = {{"SHIFT", false}, {"at", true}};
  }

  UNSIGNED32 Resolve(const std::string& text, ServerSqlText* out) {
    const ServerTableLookup lookup = [this](const std::string& name, bool exact, const PgTable** table) {
      for (const auto& [key, value] : tables_) {
        if (exact ? key == name : EqualsNoCase(key, name)) {
          *table = &value;
          return Status();
        }
      }
      return Status(AE_KDX_TABLE_NOT_FOUND, "no table " + name);
    };
    return ResolveServerSql(text, lookup, "PostgreSQL server h:5432, database hr", out);
  }

  std::map<std::string, PgTable> tables_;
};

TEST_F(ServerSqlTest, NamesTakeTheServersSpellingAndRowsTheNaturalOrderOfTheirTables) {
  const struct {
    const char* text;
    const char* resolved;
    const char* ordered;
  } cases[] = {
      {"select * from employee where (termination_date is null or termination_date >= $1 )",
       "select * from \"EMPLOYEE\" where (\"TERMINATION_DATE\" is null or \"TERMINATION_DATE\" >= $1 )",
       "select * from \"EMPLOYEE\" where (\"TERMINATION_DATE\" is null or \"TERMINATION_DATE\" >= $1 ) "
       "ORDER BY \"EMPLOYEE\".\"kdx_order\""},
      // Tables joined by commas: the first table's order first; columns of
      // either table, qualified by the table or not.
      {"select empleave.*,employee.BATCH_NO,REMARK1 from empleave,EMPLOYEE where EMPCODE=EMP_NO AND "
       "((aprroved='Z') OR (aprroved='Y')) AND remark1 >= $1;",
       "select empleave.*,\"EMPLOYEE\".\"BATCH_NO\",\"REMARK1\" from empleave,\"EMPLOYEE\" where \"EMPCODE\"=EMP_NO "
       "AND ((aprroved='Z') OR (aprroved='Y')) AND \"REMARK1\" >= $1;",
       "select empleave.*,\"EMPLOYEE\".\"BATCH_NO\",\"REMARK1\" from empleave,\"EMPLOYEE\" where \"EMPCODE\"=EMP_NO "
       "AND ((aprroved='Z') OR (aprroved='Y')) AND \"REMARK1\" >= $1 ORDER BY empleave.\"kdx_order\", "
       "\"EMPLOYEE\".\"kdx_order\";"},
      // An alias qualifies; JOIN ... ON; a LIMIT stays last.
      {"select e.batch_no from Employee AS e join EMPLEAVE l on l.empcode = e.emp_no limit 3",
       "select e.\"BATCH_NO\" from \"EMPLOYEE\" AS e join EMPLEAVE l on l.\"EMPCODE\" = e.emp_no limit 3",
       "select e.\"BATCH_NO\" from \"EMPLOYEE\" AS e join EMPLEAVE l on l.\"EMPCODE\" = e.emp_no "
       "ORDER BY e.\"kdx_order\", l.\"kdx_order\" limit 3"},
      // Types, typed literals, functions, EXTRACT's field, quoted names,
      // literals and comments are not names to resolve.
      {"select cast(date as date), date '2010-03-05', day(x), extract(day from date), date::date, \"day\", 'date' "
       "/* date */ from emp_cld -- day",
       "select cast(\"DATE\" as date), date '2010-03-05', day(x), extract(day from \"DATE\"), \"DATE\"::date, "
       "\"day\", 'date' /* date */ from emp_cld -- day",
       "select cast(\"DATE\" as date), date '2010-03-05', day(x), extract(day from \"DATE\"), \"DATE\"::date, "
       "\"day\", 'date' /* date */ from emp_cld ORDER BY emp_cld.\"kdx_order\" -- day"},
      // An ORDER BY of the text's own is followed by the natural order; its
      // items sort NULLs as table files do unless they say otherwise.
      {"select * from LV ORDER BY shift", "select * from LV ORDER BY \"SHIFT\" NULLS FIRST",
       "select * from LV ORDER BY \"SHIFT\" NULLS FIRST, LV.\"SHIFT\", LV.\"at\" DESC"},
      {"select day from emp_cld group by day order by day desc, count(*) nulls last, max(day) limit 2",
       "select \"DAY\" from emp_cld group by \"DAY\" order by \"DAY\" desc NULLS LAST , count(*) nulls last, "
       "max(\"DAY\") NULLS FIRST limit 2",
       nullptr},
      // Rows that cannot be ordered by unlisted columns, and tables that are
      // not the server's (a WITH query, a function) get no order.
      {"select distinct remark1 from empleave", "select distinct \"REMARK1\" from empleave", nullptr},
      {"select day from emp_cld group by day", "select \"DAY\" from emp_cld group by \"DAY\"", nullptr},
      {"select day from emp_cld union select day from empleave",
       "select \"DAY\" from emp_cld union select \"DAY\" from empleave", nullptr},
      {"with x as (select shift from lv) select shift from x",
       "with x as (select \"SHIFT\" from lv) select \"SHIFT\" from x", nullptr},
      {"select * from generate_series(1, 3) g", "select * from generate_series(1, 3) g", nullptr},
  };
  for (const auto& c : cases) {
    ServerSqlText out;
    ASSERT_EQ(Resolve(c.text, &out), 0u) << c.text;
    EXPECT_EQ(out.resolved, c.resolved) << c.text;
    EXPECT_EQ(out.ordered, c.ordered != nullptr ? c.ordered : c.resolved) << c.text;
  }
}

TEST_F(ServerSqlTest, TwoSpellingsOfAColumnOrATableWithoutOrderRefuseTheText) {
  ServerSqlText out;
  EXPECT_EQ(Resolve("select remark1 from empleave, mixed", &out), AE_KDX_PG_AMBIGUOUS);
  EXPECT_EQ(Resolve("select code from loose", &out), AE_KDX_PG_NO_ORDER);
}

}  // namespace
}  // namespace engine
