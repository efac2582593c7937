// Opening sealed free tables as tables: columns and indexes, but no read of
// a record until AdsEnableEncryption gets the right password; 5068 otherwise.
#include <functional>

#include "engine/sealed_file.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/status_assertions.h"

namespace {

class EncryptedOpenTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeDb("paypara1.adt",
           "CREATE TABLE PAYPARA1(CODE CHAR(4), RATE NUMERIC(6,2)); CREATE INDEX PCODE ON PAYPARA1(CODE);"
           "INSERT INTO PAYPARA1 VALUES('B', 2), ('A', 1);");
    ASSERT_TRUE(Succeeds(SealFile(Path("paypara1.adt"), "VARDE5816")));
    table_ = Open("PAYPARA1");
    ASSERT_NE(table_, 0u) << LastText();
  }
  ADSHANDLE table_ = 0;
};

TEST_F(EncryptedOpenTest, ShowsStructureButEveryReadOfItsRowsFailsNamingTheTable) {
  UNSIGNED16 fields = 0;
  ASSERT_EQ(AdsGetNumFields(table_, &fields), 0u);
  EXPECT_EQ(fields, 2);
  const ADSHANDLE index = Index(table_, "PCODE");
  uint8_t key[ADS_MAX_KEY_LENGTH];
  UNSIGNED16 length = sizeof key;
  ASSERT_EQ(AdsInitRawKey(index), 0u);
  ASSERT_EQ(AdsSetField(index, "CODE", reinterpret_cast<const uint8_t*>("A   "), 4), 0u) << LastText();
  ASSERT_EQ(AdsBuildRawKey(index, key, &length), 0u) << LastText();
  std::vector<uint8_t> record(64);
  UNSIGNED32 size = static_cast<UNSIGNED32>(record.size()), count = 0, number = 0;
  UNSIGNED16 found = 0;
  const std::pair<const char*, std::function<UNSIGNED32()>> kReads[] = {
      {"AdsGotoTop", [&] { return AdsGotoTop(index); }},
      {"AdsGotoBottom", [&] { return AdsGotoBottom(table_); }},
      {"AdsSkip", [&] { return AdsSkip(index, 1); }},
      {"AdsSeek", [&] { return AdsSeek(index, key, length, 1, 2, &found); }},
      {"AdsGotoRecord", [&] { return AdsGotoRecord(table_, 1); }},
      {"AdsGetRecord", [&] { return AdsGetRecord(table_, record.data(), &size); }},
      {"AdsGetRecordNum", [&] { return AdsGetRecordNum(table_, &number); }},
      {"AdsGetRecordCount", [&] { return AdsGetRecordCount(table_, 0, &count); }},
  };
  for (const auto& [name, read] : kReads) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read(), AE_KDX_TABLE_SEALED);
    const std::string text = LastText();
    EXPECT_NE(text.find("Table PAYPARA1 is sealed and was opened without its table password"), std::string::npos)
        << text;
  }
}

TEST_F(EncryptedOpenTest, TheRightPasswordMakesRecordsVisibleOnce) {
  EXPECT_NE(AdsEnableEncryption(table_, "wrong-password"), 0u);
  EXPECT_EQ(AdsGotoTop(table_), AE_KDX_TABLE_SEALED);
  ASSERT_EQ(AdsEnableEncryption(table_, "VARDE5816"), 0u) << LastText();
  EXPECT_EQ(Walk(table_, Index(table_, "PCODE"), "CODE"), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(AdsEnableEncryption(table_, "VARDE5816"), AE_TABLE_NOT_ENCRYPTED);
}

TEST_F(EncryptedOpenTest, APlainTableAnswers5068) {
  MakeDb("code.adt", "CREATE TABLE CODE(A CHAR(1));");
  ADSHANDLE plain = Open("code");
  EXPECT_EQ(AdsEnableEncryption(plain, "VARDE5816"), AE_TABLE_NOT_ENCRYPTED);
}

class LockTest : public EngineFixture {};

TEST_F(LockTest, ATableStandingOnARecordDoesNotBlockAWriter) {
  MakeDb("t.adt", "CREATE TABLE T(A INTEGER); CREATE INDEX TA ON T(A);"
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
                  " INSERT INTO T SELECT i FROM n;");
  ADSHANDLE table = Open("t");
  ADSHANDLE index = Index(table, "TA");
  ASSERT_EQ(AdsGotoTop(index), 0u);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(AdsSkip(index, 1), 0u);  // in the middle of a long walk
  // The writer has no busy timeout: any lock held by the reader fails it at once.
  MakeDb("t.adt", "UPDATE T SET A = -A WHERE A = 1;");
  ASSERT_EQ(AdsSkip(index, 1), 0u);
  EXPECT_EQ(Text(table, "A"), "502");
}

}  // namespace
