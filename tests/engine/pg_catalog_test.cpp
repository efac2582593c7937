// The server's catalogue as the engine sees it: tables found as table files
// are found, engine column types from the server's types, and index tags.
#include "engine/pg_catalog.h"

#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "tests/engine/pg_test_support.h"

namespace engine {
namespace {

using pg_test::LastErrorText;

class PgCatalogTest : public pg_test::PgFixture {
 protected:
  // Opens the session (after the tables are made) and looks `name` up.
  UNSIGNED32 Find(const std::string& name, const PgTable** table) {
    if (session_ == nullptr) {
      EXPECT_EQ(PgSession::Open(uri_, &session_), 0u) << LastErrorText();
      if (session_ == nullptr) return 1;
      catalog_ = std::make_unique<PgCatalog>(session_.get());
    }
    return catalog_->FindTable(name, table);
  }
  static std::string Declared(const PgTable& table) {
    std::string list;
    for (const PgColumn& c : table.columns) list += (list.empty() ? "" : " ") + c.name + ":" + c.declared;
    return list;
  }
  static std::string Tags(const PgTable& table) {
    std::string list;
    for (const PgIndex& index : table.indexes) {
      list += (list.empty() ? "" : " ") + index.tag + (index.unique ? "!" : "") + "(";
      for (size_t s = 0; s < index.segments.size(); ++s) {
        list += (s == 0 ? "" : ",") + table.columns[index.segments[s]].name + (index.descending[s] ? "-" : "");
      }
      list += ")";
    }
    return list;
  }

  std::unique_ptr<PgSession> session_;
  std::unique_ptr<PgCatalog> catalog_;
};

TEST_F(PgCatalogTest, ColumnsTakeTheEngineTypesOfTheirServerTypes) {
  Sql("CREATE DOMAIN emp_code AS char(12)");
  Sql("CREATE TABLE emp_pros(id serial, seq integer GENERATED ALWAYS AS IDENTITY, small smallint, emp emp_code, "
      "active boolean, salary numeric(12,2), rate numeric(19,4), pay money, start date, note text, "
      "name varchar(40), free varchar, photo bytea, factor double precision, at_time time(3), modified timestamp)");
  const PgTable* table = nullptr;
  ASSERT_EQ(Find("emp_pros", &table), 0u) << LastErrorText();
  // char(12) and varchar(40) in bytes: up to 4 a character in UTF8.
  EXPECT_EQ(Declared(*table),
            "id:AUTOINC seq:AUTOINC small:SHORTINT emp:CHAR(48) active:LOGICAL salary:NUMERIC(12,2) rate:MONEY "
            "pay:MONEY start:DATE note:MEMO name:VARCHAR(160) free:MEMO photo:BLOB factor:DOUBLE at_time:TIME "
            "modified:TIMESTAMP");
  EXPECT_EQ(table->columns[7].select, "\"pay\"::numeric");  // money's own text follows the locale
  EXPECT_EQ(table->qualified, "\"public\".\"emp_pros\"");
}

TEST_F(PgCatalogTest, AColumnOfAnotherTypeRefusesTheTableNamingTableColumnAndType) {
  Sql("CREATE TABLE emp_big(code char(4), total bigint)");
  Sql("CREATE TABLE emp_num(code char(4), amount numeric)");
  Sql("CREATE TABLE emp_tz(code char(4), seen timestamp with time zone)");
  const PgTable* table = nullptr;
  EXPECT_EQ(Find("emp_big", &table), AE_KDX_BAD_COLUMN_TYPE);
  EXPECT_NE(LastErrorText().find("Table emp_big on " + session_->name() + ", column total: type bigint"),
            std::string::npos)
      << LastErrorText();
  EXPECT_EQ(Find("emp_num", &table), AE_KDX_BAD_COLUMN_TYPE);
  EXPECT_NE(LastErrorText().find("column amount: type numeric is refused (numeric without a precision"),
            std::string::npos)
      << LastErrorText();
  EXPECT_EQ(Find("emp_tz", &table), AE_KDX_BAD_COLUMN_TYPE);
  EXPECT_NE(LastErrorText().find("timestamp with time zone"), std::string::npos) << LastErrorText();
}

TEST_F(PgCatalogTest, NamesAreFoundAsTableFilesAreFound) {
  Sql("CREATE TABLE \"Emp_Cld\"(code char(4))");
  Sql("CREATE SCHEMA elsewhere");
  Sql("CREATE TABLE elsewhere.hidden(code char(4))");
  Sql("CREATE TABLE twin(code char(4))");
  Sql("CREATE TABLE \"TWIN\"(code char(4))");
  const PgTable* table = nullptr;
  for (const char* given : {"emp_cld", "EMP_CLD.ADT", "D:\\KORVAL\\Emp_Cld.adt", "/data/hr/emp_cld.Adt"}) {
    ASSERT_EQ(Find(given, &table), 0u) << given << ": " << LastErrorText();
    EXPECT_EQ(table->name, "Emp_Cld");
  }
  EXPECT_EQ(Find("hidden", &table), AE_KDX_TABLE_NOT_FOUND);  // not in the search path
  EXPECT_NE(LastErrorText().find("Table 'hidden' not found on " + session_->name()), std::string::npos)
      << LastErrorText();
  EXPECT_EQ(Find("emp_cld.dbf", &table), AE_KDX_TABLE_NOT_FOUND);
  EXPECT_EQ(Find("Twin", &table), AE_KDX_PG_AMBIGUOUS);
  EXPECT_NE(LastErrorText().find("TWIN and twin"), std::string::npos) << LastErrorText();
  EXPECT_EQ(catalog_->TableByOid(std::stoul(Sql("SELECT 'elsewhere.hidden'::regclass::oid")), &table), 0u);
  EXPECT_EQ(table->qualified, "\"elsewhere\".\"hidden\"");
}

TEST_F(PgCatalogTest, IndexesNamedAfterTheTableGiveTagsWithTheirSegments) {
  Sql("CREATE TABLE emp_cld(emp_code char(12) PRIMARY KEY, date date, work_code char(2), note text)");
  Sql("CREATE UNIQUE INDEX \"EMP_CLD.Primary\" ON emp_cld(emp_code, date DESC)");
  Sql("CREATE INDEX by_work ON emp_cld(work_code) INCLUDE (note)");
  Sql("CREATE INDEX emp_cld_lower ON emp_cld(lower(note))");                   // the HR application's: skipped
  Sql("CREATE INDEX emp_cld_recent ON emp_cld(date) WHERE date > '2020-01-01'");  // skipped too
  Sql("CREATE INDEX emp_cld_hash ON emp_cld USING hash (work_code)");          // and this
  const PgTable* table = nullptr;
  ASSERT_EQ(Find("EMP_CLD", &table), 0u) << LastErrorText();
  EXPECT_EQ(Tags(*table), "emp_cld_pkey!(emp_code) Primary!(emp_code,date-) by_work(work_code)");
  EXPECT_EQ(table->indexes[1].server_name, "EMP_CLD.Primary");
}

TEST_F(PgCatalogTest, AnIndexMeantAsATagThatCannotBeOneRefusesTheTable) {
  Sql("CREATE TABLE emp_a(code char(4), note text)");
  Sql("CREATE INDEX \"emp_a.LOWER\" ON emp_a(lower(note))");
  Sql("CREATE TABLE emp_b(code char(4), note text)");
  Sql("CREATE INDEX \"EMP_B.SOME\" ON emp_b(code) WHERE code > 'A'");
  Sql("CREATE TABLE emp_c(code char(4), note text)");
  Sql("CREATE INDEX \"emp_c.code\" ON emp_c(code)");
  Sql("CREATE INDEX \"emp_c.CODE\" ON emp_c(code, note)");
  const PgTable* table = nullptr;
  EXPECT_EQ(Find("emp_a", &table), AE_KDX_BAD_INDEX);
  EXPECT_NE(LastErrorText().find("Table emp_a on " + session_->name() + ", index emp_a.LOWER: an index on an "
                                                                        "expression"),
            std::string::npos)
      << LastErrorText();
  EXPECT_EQ(Find("emp_b", &table), AE_KDX_BAD_INDEX);
  EXPECT_NE(LastErrorText().find("index EMP_B.SOME: a partial index"), std::string::npos) << LastErrorText();
  EXPECT_EQ(Find("emp_c", &table), AE_KDX_PG_AMBIGUOUS);
  EXPECT_NE(LastErrorText().find("emp_c.code and emp_c.CODE"), std::string::npos) << LastErrorText();
}

}  // namespace
}  // namespace engine
