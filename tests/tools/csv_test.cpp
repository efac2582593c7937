#include <gtest/gtest.h>

#include "tools/csv.h"

namespace {

using Fields = std::vector<std::string>;

std::vector<CsvRecord> Parse(std::string_view text) {
  std::vector<CsvRecord> records;
  std::string error;
  EXPECT_TRUE(ParseCsv(text, &records, &error)) << error;
  return records;
}

class CsvReadTest : public ::testing::Test {};

TEST_F(CsvReadTest, QuotedFieldsKeepCommasDoubledQuotesAndLineBreaks) {
  auto r = Parse("a,\"b,c\",\"say \"\"hi\"\"\"\r\n\"two\r\nlines\",x,\r\nlast,,\"\"");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].fields, (Fields{"a", "b,c", "say \"hi\""}));
  EXPECT_EQ(r[1].fields, (Fields{"two\r\nlines", "x", ""}));
  EXPECT_EQ(r[2].fields, (Fields{"last", "", ""}));
  // Records are numbered by the line they start on.
  EXPECT_EQ(r[0].line, 1);
  EXPECT_EQ(r[1].line, 2);
  EXPECT_EQ(r[2].line, 4);
}

TEST_F(CsvReadTest, AcceptsBareLineFeedsAByteOrderMarkAndNoFinalLineEnd) {
  auto r = Parse("\xEF\xBB\xBFname,day\nE1,1\nE2,0.5");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].fields, (Fields{"name", "day"}));
  EXPECT_EQ(r[2].fields, (Fields{"E2", "0.5"}));
  EXPECT_EQ(Parse("a\r\n").size(), 1u);
  EXPECT_TRUE(Parse("").empty());
}

TEST_F(CsvReadTest, ACarriageReturnInsideAnUnquotedFieldIsKept) {
  auto r = Parse("a\rb,c\r\n");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].fields, (Fields{"a\rb", "c"}));
}

TEST_F(CsvReadTest, AnUnclosedQuoteNamesTheLineWhereTheFieldStarts) {
  std::vector<CsvRecord> records;
  std::string error;
  EXPECT_FALSE(ParseCsv("a,b\r\nc,\"open\r\nmore\r\n", &records, &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

TEST_F(CsvReadTest, TextAfterAClosingQuoteIsAnError) {
  std::vector<CsvRecord> records;
  std::string error;
  EXPECT_FALSE(ParseCsv("h\r\n\"ab\"c\r\n", &records, &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

class CsvWriteTest : public ::testing::Test {};

TEST_F(CsvWriteTest, QuotesOnlyWhatNeedsItAndRoundTrips) {
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("10 Anson Road, #20-01"), "\"10 Anson Road, #20-01\"");
  EXPECT_EQ(CsvField("a \"b\""), "\"a \"\"b\"\"\"");
  EXPECT_EQ(CsvField(" padded"), "\" padded\"");
  const Fields fields = {"x", "", "a,b", "line1\nline2", "q\"", " s "};
  const std::string line = CsvLine(fields);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  auto back = Parse(line);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].fields, fields);
}

}  // namespace
