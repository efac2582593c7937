// The named-parameter scan and its rewrite to positional placeholders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/sql_params.h"

namespace {

std::vector<std::string> Names(const std::string& text) {
  std::vector<std::string> names;
  for (const auto& place : ScanSqlParams(text)) names.push_back(place.name);
  return names;
}

using V = std::vector<std::string>;

class SqlParamScanTest : public ::testing::Test {};

TEST_F(SqlParamScanTest, RepeatedNamesAreSeparatePlacesInOrder) {
  EXPECT_EQ(Names("select * from EMPLEAVE where (APPROVED_DATE>=:date1 and APPROVED_DATE<=:date2) or "
                  "(MODIFIED_DATE>=:date1 and MODIFIED_DATE<=:date2) "),
            (V{"date1", "date2", "date1", "date2"}));
}

TEST_F(SqlParamScanTest, NameAtTheVeryEndOrBeforeAParenthesis) {
  EXPECT_EQ(Names("select * from  export\r\nwhere section=:section"), V{"section"});
  EXPECT_EQ(Names("where (termination_date is null or termination_date >=:date)"), V{"date"});
}

TEST_F(SqlParamScanTest, EveryTerminatorEndsAName) {
  EXPECT_EQ(Names(":a\n:b\r:c :d):e,:f;:g"), (V{"a", "b", "c", "d", "e", "f", "g"}));
}

TEST_F(SqlParamScanTest, OtherCharactersBelongToTheName) {
  // Only the listed characters end a name: "=", "+", tab and "." do not.
  EXPECT_EQ(Names("x=:a+1 and y=:b.c\tand"), (V{"a+1", "b.c\tand"}));
}

TEST_F(SqlParamScanTest, ColonsInsideLiteralsAreNotParameters) {
  EXPECT_EQ(Names("select 'a:b', \"c:d\", `e:f` from t where x=:real"), V{"real"});
  EXPECT_EQ(Names("where TIMEIN='10:30' and OUT=:out"), V{"out"});
}

TEST_F(SqlParamScanTest, AnyQuoteCharacterSwitchesTheLiteralState) {
  // A double quote closes a literal a single quote opened.
  EXPECT_EQ(Names("where a='x\" :p and b=':q'"), (V{"p"}));
}

TEST_F(SqlParamScanTest, DoubleColonIsNoParameter) {
  EXPECT_EQ(Names("select a::b, ::stmt from t"), V{});
  EXPECT_EQ(Names(":::a"), V{"a"});
  EXPECT_EQ(Names("::"), V{});
}

TEST_F(SqlParamScanTest, QuotedNameRunsToItsClosingQuote) {
  const auto places = ScanSqlParams("x = :\"my name\" and y = :'o''k'");
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(places[0].name, "my name");
  EXPECT_EQ(places[0].offset, 4u);
  EXPECT_EQ(places[0].length, 10u);
  EXPECT_EQ(places[1].name, "o");
  // The quote after "o" starts a literal again: nothing more is a parameter.
  EXPECT_EQ(Names("x = :\"open"), V{"open"});
}

TEST_F(SqlParamScanTest, EmptyNamesAreReported) {
  const auto places = ScanSqlParams("a = : and b = :");
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(places[0].name, "");
  EXPECT_EQ(places[0].length, 1u);
  EXPECT_EQ(places[1].offset, 14u);
}

TEST_F(SqlParamScanTest, OffsetsAndLengthsCoverTheName) {
  const std::string text = "where ID=:ID AND EMPCODE=:EMPCODE";
  const auto places = ScanSqlParams(text);
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(text.substr(places[0].offset, places[0].length), ":ID");
  EXPECT_EQ(text.substr(places[1].offset, places[1].length), ":EMPCODE");
}

TEST_F(SqlParamScanTest, EmptyTextAndTextWithoutParameters) {
  EXPECT_TRUE(ScanSqlParams("").empty());
  EXPECT_TRUE(ScanSqlParams("select * from LV_PAYGRP_SHIFT ORDER BY SHIFT").empty());
}

class PositionalSqlTest : public ::testing::Test {};

TEST_F(PositionalSqlTest, EveryPlaceGetsItsOwnNumberAndLiteralsStayIntact) {
  const std::string text = "select ':x' from t where a>=:date1 and b<=:date2 or c=:date1";
  EXPECT_EQ(ToPositionalSql(text, ScanSqlParams(text)),
            "select ':x' from t where a>= ?1  and b<= ?2  or c= ?3 ");
}

TEST_F(PositionalSqlTest, QuotedNamesAndParenthesesAreReplacedWhole) {
  const std::string text = "where (d >=:\"a b\")";
  EXPECT_EQ(ToPositionalSql(text, ScanSqlParams(text)), "where (d >= ?1 )");
}

TEST_F(PositionalSqlTest, TextWithoutPlacesIsUnchanged) {
  const std::string text = "select a::b from t";
  EXPECT_EQ(ToPositionalSql(text, ScanSqlParams(text)), text);
}

}  // namespace
