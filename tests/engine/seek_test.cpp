// Raw keys and seeks: exact and nearest, partial keys, character keys
// compared blank-padded, dates by day, misses.
#include "tests/engine/engine_fixture.h"

namespace {

class SeekTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeDb("emp_pros.adt",
           "CREATE TABLE EMP_PROS(EMP_CODE CHAR(12), PAY_EFFECTIVE_DATE DATE, ID INTEGER, AMOUNT NUMERIC(8,2));"
           "CREATE INDEX \"EMP_PROS.PRIMARY\" ON EMP_PROS(EMP_CODE, PAY_EFFECTIVE_DATE, ID);"
           "CREATE INDEX BYAMOUNT ON EMP_PROS(AMOUNT);"
           "INSERT INTO EMP_PROS VALUES('E10', '2010-01-01', 1, 10);"
           "INSERT INTO EMP_PROS VALUES('E001', '2010-03-10', 7, 20);"
           "INSERT INTO EMP_PROS VALUES('E001', '2009-01-01', 9, 30);"
           "INSERT INTO EMP_PROS VALUES('E001', '2009-01-01', 3, 40);"
           "INSERT INTO EMP_PROS VALUES('E1', '2008-01-01', 5, 50);"
           "INSERT INTO EMP_PROS VALUES(NULL, '2008-01-01', 6, NULL);");
    table_ = Open("EMP_PROS.adt");
    ASSERT_NE(table_, 0u) << LastText();
    primary_ = Index(table_, "PRIMARY");
  }

  // Builds the key the data layer builds: character segments full width.
  std::vector<uint8_t> Key(const std::string& code, int32_t julian = 0, bool with_date = false) {
    std::vector<uint8_t> text(12, ' ');
    std::memcpy(text.data(), code.data(), std::min<size_t>(code.size(), 12));
    EXPECT_EQ(AdsInitRawKey(primary_), 0u);
    EXPECT_EQ(AdsSetField(primary_, "EMP_CODE", text.data(), 12), 0u) << LastText();
    if (with_date) {
      uint8_t date[4];
      std::memcpy(date, &julian, 4);
      EXPECT_EQ(AdsSetFieldRaw(primary_, "PAY_EFFECTIVE_DATE", date, 4), 0u) << LastText();
    }
    uint8_t key[ADS_MAX_KEY_LENGTH];
    UNSIGNED16 length = sizeof key;
    EXPECT_EQ(AdsBuildRawKey(primary_, key, &length), 0u) << LastText();
    return std::vector<uint8_t>(key, key + length);
  }

  bool Seek(const std::vector<uint8_t>& key, UNSIGNED16 type) {
    UNSIGNED16 found = 0;
    EXPECT_EQ(AdsSeek(primary_, key.data(), static_cast<UNSIGNED16>(key.size()), 1, type, &found), 0u) << LastText();
    return found != 0;
  }

  ADSHANDLE table_ = 0;
  ADSHANDLE primary_ = 0;
};

TEST_F(SeekTest, PartialKeyFindsTheFirstRecordInIndexOrder) {
  EXPECT_EQ(Key("E001").size(), 12u);
  ASSERT_TRUE(Seek(Key("E001"), 2));
  EXPECT_EQ(Text(table_, "ID"), "3");  // 2009-01-01 first, then the lower ID
  ASSERT_EQ(AdsSkip(primary_, 1), 0u);
  EXPECT_EQ(Text(table_, "ID"), "9");
  ASSERT_EQ(AdsSkip(primary_, 1), 0u);
  EXPECT_EQ(Text(table_, "ID"), "7");
  ASSERT_EQ(AdsSkip(primary_, 1), 0u);
  EXPECT_EQ(Text(table_, "EMP_CODE"), "E1");
}

TEST_F(SeekTest, CharacterKeysMatchTheWholeColumn) {
  ASSERT_TRUE(Seek(Key("E1"), 2));
  EXPECT_EQ(Text(table_, "ID"), "5");  // not E10
  EXPECT_FALSE(Seek(Key("E0"), 2));
}

TEST_F(SeekTest, ADateSegmentMatchesByDay) {
  // 10 March 2010 = Julian day 2455266.
  ASSERT_TRUE(Seek(Key("E001", 2455266, true), 2));
  EXPECT_EQ(Text(table_, "ID"), "7");
  EXPECT_FALSE(Seek(Key("E001", 2455267, true), 2));
}

TEST_F(SeekTest, AMissedExactSeekStandsAtTheEnd) {
  ASSERT_EQ(AdsGotoTop(primary_), 0u);
  EXPECT_FALSE(Seek(Key("E05"), 2));
  EXPECT_TRUE(Eof(table_));
}

TEST_F(SeekTest, NearestSeekStandsOnTheNextRecord) {
  EXPECT_FALSE(Seek(Key("E05"), 1));
  EXPECT_FALSE(Eof(table_));
  EXPECT_EQ(Text(table_, "EMP_CODE"), "E1");
  EXPECT_TRUE(Seek(Key("E10"), 1));
  EXPECT_FALSE(Seek(Key("F"), 1));
  EXPECT_TRUE(Eof(table_));
}

TEST_F(SeekTest, AnEmptyKeyFindsTheEmptyValue) {
  std::vector<uint8_t> zeros(12, 0);
  ASSERT_EQ(AdsInitRawKey(primary_), 0u);
  ASSERT_EQ(AdsSetField(primary_, "EMP_CODE", zeros.data(), 12), 0u);
  uint8_t key[64];
  UNSIGNED16 length = sizeof key;
  ASSERT_EQ(AdsBuildRawKey(primary_, key, &length), 0u);
  ASSERT_TRUE(Seek(std::vector<uint8_t>(key, key + length), 2));
  EXPECT_EQ(Text(table_, "ID"), "6");
}

TEST_F(SeekTest, AShortTextSegmentIsAPrefix) {
  ASSERT_EQ(AdsInitRawKey(primary_), 0u);
  ASSERT_EQ(AdsSetField(primary_, "EMP_CODE", reinterpret_cast<const uint8_t*>("E00"), 3), 0u);
  uint8_t key[64];
  UNSIGNED16 length = sizeof key;
  ASSERT_EQ(AdsBuildRawKey(primary_, key, &length), 0u);
  EXPECT_EQ(length, 3);
  ASSERT_TRUE(Seek(std::vector<uint8_t>(key, key + length), 2));
  EXPECT_EQ(Text(table_, "EMP_CODE"), "E001");
}

TEST_F(SeekTest, NumericKeysCompareAsNumbers) {
  ADSHANDLE by_amount = Index(table_, "BYAMOUNT");
  const char text[] = "   40.00";
  UNSIGNED16 found = 0;
  ASSERT_EQ(AdsSeek(by_amount, reinterpret_cast<const uint8_t*>(text), 8, 1, 2, &found), 0u) << LastText();
  EXPECT_EQ(found, 1);
  EXPECT_EQ(Text(table_, "ID"), "3");
  const char near[] = "   41.00";
  ASSERT_EQ(AdsSeek(by_amount, reinterpret_cast<const uint8_t*>(near), 8, 1, 1, &found), 0u);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Text(table_, "ID"), "5");
}

TEST_F(SeekTest, KeyErrorsAreNamed) {
  uint8_t bytes[16] = {};
  EXPECT_EQ(AdsSetField(primary_, "AMOUNT", bytes, 8), AE_KDX_BAD_KEY);
  EXPECT_NE(LastText().find("AMOUNT"), std::string::npos);
  EXPECT_EQ(AdsSetFieldRaw(primary_, "ID", bytes, 3), AE_KDX_BAD_KEY);
  EXPECT_EQ(AdsSetField(primary_, "NOPE", bytes, 3), AE_COLUMN_NOT_FOUND);
  UNSIGNED16 found = 0;
  EXPECT_EQ(AdsSeek(table_, bytes, 12, 1, 2, &found), AE_KDX_BAD_KEY);  // natural order has no key
  EXPECT_EQ(AdsSeek(primary_, bytes, 12, 1, 3, &found), AE_KDX_INVALID_ARGUMENT);
  EXPECT_EQ(AdsSeek(primary_, bytes, 14, 1, 2, &found), AE_KDX_BAD_KEY);  // ends inside the date
  std::vector<uint8_t> key = Key("E001");
  uint8_t small[4];
  UNSIGNED16 length = sizeof small;
  EXPECT_EQ(AdsBuildRawKey(primary_, small, &length), AE_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 12);
}

TEST_F(SeekTest, KeysLongerThan256BytesAreRefused) {
  MakeDb("wide.adt",
         "CREATE TABLE WIDE(A CHAR(200), B CHAR(100)); CREATE INDEX AB ON WIDE(A, B);"
         "INSERT INTO WIDE VALUES('x', 'y');");
  ADSHANDLE wide = Open("wide");
  ADSHANDLE ab = Index(wide, "AB");
  std::vector<uint8_t> a(200, 'x'), b(100, 'y');
  ASSERT_EQ(AdsInitRawKey(ab), 0u);
  ASSERT_EQ(AdsSetField(ab, "A", a.data(), 200), 0u);
  ASSERT_EQ(AdsSetField(ab, "B", b.data(), 100), 0u);
  uint8_t key[512];
  UNSIGNED16 length = sizeof key;
  EXPECT_EQ(AdsBuildRawKey(ab, key, &length), AE_KDX_BAD_KEY);
}

}  // namespace
