// Finding the column a placeholder is compared with.
#include <gtest/gtest.h>

#include <string>

#include "engine/sql_context.h"

namespace {

// "qualifier.column" or "column" or "-" for each placeholder.
std::vector<std::string> Columns(const std::string& sql, size_t count) {
  std::vector<std::string> out;
  for (const auto& c : FindComparedColumns(sql, count))
    out.push_back(c.column.empty() ? "-" : (c.qualifier.empty() ? c.column : c.qualifier + "." + c.column));
  return out;
}

using V = std::vector<std::string>;

class ComparedColumnTest : public ::testing::Test {};

TEST_F(ComparedColumnTest, ColumnBeforeOrAfterEveryComparison) {
  EXPECT_EQ(Columns("a= ?1 and b<>?2 and c != ?3 and d<?4 and e<=?5 and f>?6 and g>=?7 and h==?8", 8),
            (V{"a", "b", "c", "d", "e", "f", "g", "h"}));
  EXPECT_EQ(Columns("?1 = a and ?2 >= b", 2), (V{"a", "b"}));
}

TEST_F(ComparedColumnTest, QualifiedAndQuotedColumns) {
  EXPECT_EQ(Columns("EMPLEAVE.MODIFIED_DATE>= ?1 and \"my col\" = ?2 and [x].[y] < ?3 and s.t.c = ?4", 4),
            (V{"EMPLEAVE.MODIFIED_DATE", "my col", "x.y", "t.c"}));
}

TEST_F(ComparedColumnTest, InListsAndBetween) {
  EXPECT_EQ(Columns("d IN (?1, ?2, 'x', ?3) and e not in (?4) and f BETWEEN ?5 AND ?6 and g NOT BETWEEN 1 AND ?7", 7),
            (V{"d", "d", "d", "e", "f", "f", "g"}));
}

TEST_F(ComparedColumnTest, ExpressionsAndFunctionsGiveNoColumn) {
  EXPECT_EQ(Columns("date(a) = ?1 and ?2 = f(b) and a + b = ?3 and ?4 and x = ?5 + 1 and ?6 + 1 = y", 6),
            (V{"-", "-", "-", "-", "x", "-"}));
}

TEST_F(ComparedColumnTest, LiteralsAndCommentsDoNotConfuseTheSearch) {
  EXPECT_EQ(Columns("a = 'it''s ?1' or /* ?1 */ b = ?1 -- ?2\n or c = ?2", 2), (V{"b", "c"}));
}

TEST_F(ComparedColumnTest, KeywordsAreNoColumns) {
  EXPECT_EQ(Columns("select * from t where ?1 = x and ?2 and NOT = ?3", 3), (V{"x", "-", "-"}));
}

TEST_F(ComparedColumnTest, PlaceholdersOutOfRangeAreIgnored) {
  EXPECT_EQ(Columns("a = ?3 and b = ?0 and c = ?", 2), (V{"-", "-"}));
}

}  // namespace
