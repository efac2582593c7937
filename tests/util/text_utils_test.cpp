#include "util/text_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace std::string_literals;

TEST(TextMidTest, CutsFromOneBasedPositions) {
  EXPECT_EQ(TextMid("201003", 1, 4), "2010");
  EXPECT_EQ(TextMid("201003", 5, 2), "03");
  EXPECT_EQ(TextMid("AB", 3, 1), "");
  EXPECT_EQ(TextMid("AB", 2, 5), "B");
  EXPECT_EQ(TextMid("AB", 0, 1), "A");  // 0 acts as 1
  EXPECT_EQ(TextMid("ABC", 2, 0), "");
  EXPECT_EQ(TextMid("", 0, 3), "");
  EXPECT_EQ(TextMid("", 1, 3), "");
  EXPECT_EQ(TextMid("ABC", 3, 255), "C");
}

TEST(TextMidTest, AgreesWithTheBufferLayerForEveryStartAndCount) {
  const std::string text = "Hello, world";
  for (int start = 0; start <= 15; ++start) {
    for (int count = 0; count <= 15; ++count) {
      std::string buffer = text;
      const char* p = BufMid(buffer.data(), static_cast<uint16_t>(start),
                             static_cast<uint16_t>(count));
      ASSERT_EQ(TextMid(text, static_cast<uint8_t>(start), static_cast<uint8_t>(count)),
                std::string(p))
          << start << "," << count;
    }
  }
}

TEST(TextPadRightTest, PadsButNeverCuts) {
  EXPECT_EQ(TextPadRight("AB", 5, ' '), "AB   ");
  EXPECT_EQ(TextPadRight("ABCDEF", 3, ' '), "ABCDEF");
  EXPECT_EQ(TextPadRight("", 0, ' '), "");
  EXPECT_EQ(TextPadRight("", 3, '0'), "000");
  EXPECT_EQ(TextPadRight("A", 255, '.').size(), 255u);
}

TEST(TextReplaceAllTest, ReplacesLeftToRightAndKeepsTheInputLength) {
  EXPECT_EQ(TextReplaceAll("1,234,567", ",", ""), "1234567");
  EXPECT_EQ(TextReplaceAll("a,b", ",", "--"), "a--");
  EXPECT_EQ(TextReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(TextReplaceAll("a.b.c", ".", "/"), "a/b/c");
  EXPECT_EQ(TextReplaceAll("xyxy", "xy", "xyxy"), "xyxy");  // cut to 4 characters
  EXPECT_EQ(TextReplaceAll("aXbX", "X", "X"), "aXbX");
}

TEST(TextReplaceAllTest, LeavesShortTextsAndEmptySearchesAlone) {
  EXPECT_EQ(TextReplaceAll(",", ",", ""), ",");
  EXPECT_EQ(TextReplaceAll("", ",", "x"), "");
  EXPECT_EQ(TextReplaceAll("Abc", "a", "x"), "Abc");  // case-sensitive
  EXPECT_EQ(TextReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(TextReplaceAll("ab", "abc", "x"), "ab");  // search longer than the text
}

TEST(TextReplaceAllTest, HandlesTextsLongerThanTheOldWorkBuffer) {
  const std::string text(40000, 'a');
  EXPECT_EQ(TextReplaceAll(text, "a", "bb"), std::string(40000, 'b'));
  EXPECT_EQ(TextReplaceAll(text, "aa", ""), "");
}

TEST(TextLayerTest, SeesATextOnlyUpToANulByteAsABufferWould) {
  EXPECT_EQ(TextMid("AB\0CD"s, 1, 5), "AB");
  EXPECT_EQ(TextReplaceAll("a,b\0,c"s, ",", ";"), "a;b");
  EXPECT_EQ(TextPadRight("A\0B"s, 5, '-'), "A----");
  EXPECT_EQ(TextPadRight("AB", 5, '\0'), "AB");
}

TEST(BufferLayerTest, TruncateRightAndMid) {
  char buf[16];
  std::strcpy(buf, "ABCDEF");
  EXPECT_STREQ(BufTruncate(buf, 10), "ABCDEF");
  EXPECT_STREQ(BufTruncate(buf, 3), "ABC");
  std::strcpy(buf, "ABCDEF");
  EXPECT_EQ(BufRight(buf, 2), buf + 4);
  EXPECT_EQ(BufRight(buf, 6), buf);
  EXPECT_EQ(BufRight(buf, 0), buf + 6);
  EXPECT_STREQ(buf, "ABCDEF");  // BufRight writes nothing
  char* p = BufMid(buf, 2, 3);
  EXPECT_STREQ(p, "BCD");
  EXPECT_STREQ(buf, "ABCD");  // cut behind the substring
  EXPECT_STREQ(BufMid(buf, 9, 1), "");
  EXPECT_STREQ(buf, "");
}

TEST(BufferLayerTest, PadRightStopsAtTheCapacity) {
  char buf[6] = "AB";
  EXPECT_STREQ(BufPadRight(buf, sizeof buf, 10, '*'), "AB***");
  char full[4] = "ABC";
  EXPECT_STREQ(BufPadRight(full, sizeof full, 2, '*'), "ABC");
}

TEST(BufferLayerTest, ReplaceAllCutsToTheLengthAtTheCall) {
  char buf[16] = "a,b,c";
  EXPECT_STREQ(BufReplaceAll(buf, ",", ";;"), "a;;b;");
  char single[2] = ",";
  EXPECT_STREQ(BufReplaceAll(single, ",", ""), ",");
}

TEST(TextUtilsTest, ControlCharactersBecomeBlanks) {
  const struct {
    std::string in, out;
    size_t replaced;
  } cases[] = {
      {"plain\ttext", "plain\ttext", 0},
      {std::string("a\r\nb\0c", 6), "a  b c", 3},
      {"\x01\x1f\x7f\x80", "  \x7f\x80", 2},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    EXPECT_EQ(BlankControlCharacters(text), c.replaced);
    EXPECT_EQ(text, c.out);
  }
}

}  // namespace
