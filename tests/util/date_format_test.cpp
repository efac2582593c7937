#include "util/date_format.h"

#include <gtest/gtest.h>

namespace {

// Restores the process-wide date settings after each test.
class DateFormatTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetShortDateFormat("dd/MM/yyyy");
    SetDateSeparator('/');
  }
  static TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
    return EncodeDate(y, m, d) + EncodeTime(h, n, s, ms);
  }
};

TEST_F(DateFormatTest, RunLogPatternPrintsTheMonthAgainAfterTheSeconds) {
  EXPECT_EQ(FormatDateTime("DD/MM/YYYY  HHSSMM", At(2010, 3, 8, 14, 5, 9)),
            "08/03/2010  140903");
}

TEST_F(DateFormatTest, ExportPatterns) {
  const TDateTime v = At(2010, 3, 24, 8, 30, 15);
  EXPECT_EQ(FormatDateTime("DD/MM/YYYY", v), "24/03/2010");
  EXPECT_EQ(FormatDateTime("DDMMYYYY", v), "24032010");
  EXPECT_EQ(FormatDateTime("YYYYMMDD", v), "20100324");
  EXPECT_EQ(FormatDateTime("YYYYMM", v), "201003");
  EXPECT_EQ(FormatDateTime("HHNN", v), "0830");
  EXPECT_EQ(FormatDateTime("HHNN", At(2010, 3, 24, 17, 30)), "1730");
  EXPECT_EQ(FormatDateTime("YYYYMMDD", 0), "18991230");
  EXPECT_EQ(FormatDateTime("HHNN", 0), "0000");
}

TEST_F(DateFormatTest, LettersAreNotCaseSensitive) {
  const TDateTime v = At(2010, 3, 4, 7, 6, 5);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn:ss", v), "04/03/2010 07:06:05");
  EXPECT_EQ(FormatDateTime("Dd/mM/YyYy", v), "04/03/2010");
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s", v), "4/3/10 7:6:5");
}

TEST_F(DateFormatTest, MMeansMinutesOnlyWhenTheNearestLetterBeforeIsAnHour) {
  const TDateTime v = At(2010, 3, 4, 7, 6, 5);
  EXPECT_EQ(FormatDateTime("hh:mm", v), "07:06");
  EXPECT_EQ(FormatDateTime("hhmm", v), "0706");
  EXPECT_EQ(FormatDateTime("hh'x'mm", v), "07x06");  // quoted text is no letter
  EXPECT_EQ(FormatDateTime("hh:mm:mm", v), "07:06:03");
  EXPECT_EQ(FormatDateTime("mm hh", v), "03 07");
  EXPECT_EQ(FormatDateTime("hh ss mm", v), "07 05 03");
}

TEST_F(DateFormatTest, QuotedTextAndOtherCharactersAreCopied) {
  const TDateTime v = At(2010, 3, 4, 7, 6, 5);
  EXPECT_EQ(FormatDateTime("'Day' dd \"of\" mm", v), "Day 04 of 03");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd#", v), "2010-03-04#");
  EXPECT_EQ(FormatDateTime("'unclosed dd", v), "unclosed dd");
  EXPECT_EQ(FormatDateTime("QX", v), "QX");
  EXPECT_EQ(FormatDateTime("", v), "");
}

TEST_F(DateFormatTest, SeparatorsFollowTheProcessSettings) {
  const TDateTime v = At(2010, 3, 4, 7, 6, 5);
  SetDateSeparator('-');
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", v), "04-03-2010 07:06");
  SetShortDateFormat("MM-dd-yyyy");
  EXPECT_EQ(DateToText(v), "03-04-2010");
}

TEST_F(DateFormatTest, NamesNestedFormatsAndTwelveHourClock) {
  const TDateTime v = At(2010, 3, 24, 18, 5, 0);
  EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", v), "Wed Wednesday Mar March");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", v), "6:05 pm");
  EXPECT_EQ(FormatDateTime("hh:nn AM/PM", At(2010, 3, 24, 0, 5)), "12:05 AM");
  EXPECT_EQ(FormatDateTime("hh a/p", At(2010, 3, 24, 11)), "11 a");
  EXPECT_EQ(FormatDateTime("c", v), "24/03/2010 18:05:00");
  EXPECT_EQ(FormatDateTime("ddddd", v), "24/03/2010");
  EXPECT_EQ(FormatDateTime("t|tt|zzz", At(2010, 3, 24, 18, 5, 1, 7)), "18:05|18:05:01|007");
}

TEST_F(DateFormatTest, AShortDateFormatThatNamesItselfDoesNotRecurseForever) {
  SetShortDateFormat("c ddddd");
  EXPECT_NO_THROW(DateToText(At(2010, 3, 24)));
}

TEST_F(DateFormatTest, DefaultTexts) {
  EXPECT_EQ(ShortDateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(DateSeparator(), '/');
  EXPECT_EQ(DateToText(At(2010, 3, 5, 10)), "05/03/2010");
  EXPECT_EQ(TimeToText(At(2010, 3, 5, 10, 2, 3)), "10:02:03");
  EXPECT_EQ(DateTimeToText(At(2010, 3, 5)), "05/03/2010");
  EXPECT_EQ(DateTimeToText(At(2010, 3, 5, 0, 0, 1)), "05/03/2010 00:00:01");
}

class TextToDateTimeTest : public DateFormatTest {
 protected:
  static bool Reads(const std::string& text, TDateTime expected) {
    TDateTime v = -99999;
    if (!TryTextToDateTime(text, &v)) return false;
    return std::abs(v - expected) < 1e-9;
  }
  static bool Rejects(const std::string& text) {
    TDateTime v = 0;
    return !TryTextToDateTime(text, &v);
  }
};

TEST_F(TextToDateTimeTest, ReadsInTheOrderOfTheShortDateFormat) {
  EXPECT_TRUE(Reads("05/03/2010", At(2010, 3, 5)));
  EXPECT_TRUE(Reads(" 5/3/2010 ", At(2010, 3, 5)));
  EXPECT_TRUE(Reads("05/03/2010 14:05", At(2010, 3, 5, 14, 5)));
  EXPECT_TRUE(Reads("05/03/2010  14:05:09", At(2010, 3, 5, 14, 5, 9)));
  EXPECT_TRUE(Reads("14:05:09", At(1899, 12, 30, 14, 5, 9)));
  EXPECT_TRUE(Reads("05/03/10", At(2010, 3, 5)));
  EXPECT_TRUE(Reads("05/03/99", At(1999, 3, 5)));
  SetShortDateFormat("MM-dd-yyyy");
  SetDateSeparator('-');
  EXPECT_TRUE(Reads("03-05-2010", At(2010, 3, 5)));
  EXPECT_TRUE(Rejects("05/03/2010"));
}

TEST_F(TextToDateTimeTest, RejectsWhatIsNoDate) {
  for (const char* text : {"", "   ", "31/02/2010", "2010", "05/03", "05/03/2010x",
                           "05/03/2010 25:00", "05/03/2010 10:60", "ab/cd/efgh", "05//2010",
                           "05/03/2010 10", "-5/03/2010"}) {
    EXPECT_TRUE(Rejects(text)) << text;
  }
}

}  // namespace
