// The tool's view of table files and dictionaries is the engine's own.
#include "engine/schema.h"

#include <gtest/gtest.h>

#include "engine/storage.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/status_assertions.h"

namespace {

class SchemaDescribeTest : public EngineFixture {};

TEST_F(SchemaDescribeTest, ATableFileIsDescribedAsTheEngineOpensIt) {
  MakeDb("EMP.ADT",
         "CREATE TABLE emp(EMP_NO CHAR(8), PAY NUMERIC(9,2), BORN DATE);"
         "CREATE INDEX \"emp.BYNO\" ON emp(EMP_NO DESC, BORN);"
         "INSERT INTO emp VALUES('E1', 10.5, '2001-02-03'), ('E2', NULL, NULL);");
  engine::TableSchema table;
  const engine::Status described = engine::DescribeTableFile(Path("EMP.ADT"), &table);
  ASSERT_TRUE(described.ok()) << described.text();
  EXPECT_EQ(table.name, "emp");
  EXPECT_FALSE(table.sealed);
  EXPECT_EQ(table.row_count, 2);
  ASSERT_EQ(table.columns.size(), 3u);
  EXPECT_EQ(table.columns[1].type.type, ADS_NUMERIC);
  EXPECT_EQ(table.columns[2].offset, 8u + 9u);
  EXPECT_EQ(table.record_length, 8u + 9u + 4u);
  ASSERT_EQ(table.indexes.size(), 1u);
  EXPECT_EQ(table.indexes[0].name, "BYNO");
  EXPECT_EQ(table.indexes[0].segments, (std::vector<int>{0, 2}));
  EXPECT_TRUE(table.indexes[0].descending);
}

TEST_F(SchemaDescribeTest, ASealedFileShowsItsSchemaButNoRowCount) {
  MakeDb("PAY.ADT", "CREATE TABLE pay(CODE CHAR(4)); INSERT INTO pay VALUES('A');");
  ASSERT_TRUE(Succeeds(SealFile(Path("PAY.ADT"), "secret-pass")));
  engine::TableSchema table;
  const engine::Status described = engine::DescribeTableFile(Path("PAY.ADT"), &table);
  ASSERT_TRUE(described.ok()) << described.text();
  EXPECT_TRUE(table.sealed);
  EXPECT_EQ(table.row_count, -1);
  ASSERT_EQ(table.columns.size(), 1u);
}

TEST_F(SchemaDescribeTest, RefusalsNameTheFileOrTheTable) {
  MakeDb("TWO.ADT", "CREATE TABLE two(a CHAR(1)); CREATE TABLE other(b CHAR(1));");
  engine::TableSchema table;
  const engine::Status refused = engine::DescribeTableFile(Path("TWO.ADT"), &table);
  EXPECT_EQ(refused.code(), AE_KDX_TABLE_LAYOUT);
  EXPECT_NE(refused.text().find("TWO.ADT"), std::string::npos) << refused.text();

  MakeDb("HR.ADD", "CREATE TABLE good(a CHAR(2)); CREATE TABLE bad(b WIDGET);");
  std::vector<engine::TableSchema> tables;
  std::vector<std::pair<std::string, std::string>> failures;
  const engine::Status described = engine::DescribeDictionary(Path("HR.ADD"), &tables, &failures);
  ASSERT_TRUE(described.ok()) << described.text();
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0].name, "good");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].first, "bad");
  EXPECT_NE(failures[0].second.find("WIDGET"), std::string::npos) << failures[0].second;
}

}  // namespace
