// Column types, raw record encodings (values and empties) and the errors for
// declared types and stored values that do not fit.
#include "tests/engine/engine_fixture.h"

namespace {

class RecordTest : public EngineFixture {
 protected:
  // One table ALLTYPES with a column of every type; row 1 holds values, row 2
  // NULL everywhere.
  void SetUp() override {
    EngineFixture::SetUp();
    MakeDb("alltypes.adt",
           "CREATE TABLE ALLTYPES(L LOGICAL, N NUMERIC(8,2), D DATE, C CHAR(6), M MEMO, B BLOB, I IMAGE,"
           " V VARCHAR(40), F DOUBLE, INT INTEGER, S SHORTINT, T TIME, TS TIMESTAMP, A AUTOINC, R RAW(4),"
           " Y MONEY);"
           "INSERT INTO ALLTYPES VALUES(1, 1234.5, '2010-03-05', 'E1', 'memo text', x'0102', x'03',"
           " 'var', 2.5, -7, -2, '10:20:30.040', '2010-03-05 01:02:03', 9, x'AABB', 12.25);"
           "INSERT INTO ALLTYPES(L) VALUES(NULL);");
    table_ = Open("ALLTYPES");
    ASSERT_NE(table_, 0u) << LastText();
  }
  ADSHANDLE table_ = 0;
};

TEST_F(RecordTest, ReportsTypesWidthsAndOffsets) {
  UNSIGNED16 count = 0;
  ASSERT_EQ(AdsGetNumFields(table_, &count), 0u);
  ASSERT_EQ(count, 16);
  const UNSIGNED16 types[] = {ADS_LOGICAL, ADS_NUMERIC, ADS_DATE, ADS_STRING, ADS_MEMO, ADS_BINARY,
                              ADS_IMAGE, ADS_VARCHAR, ADS_DOUBLE, ADS_INTEGER, ADS_SHORTINT, ADS_TIME,
                              ADS_TIMESTAMP, ADS_AUTOINC, ADS_RAW, ADS_CURDOUBLE};
  const UNSIGNED32 widths[] = {1, 8, 4, 6, 8, 8, 8, 8, 8, 4, 2, 4, 8, 4, 4, 8};
  UNSIGNED32 expected_offset = 0;
  for (UNSIGNED16 i = 1; i <= count; ++i) {
    UNSIGNED16 type = 0;
    UNSIGNED32 width = 0, offset = 0;
    ASSERT_EQ(AdsGetFieldType(table_, i, &type), 0u);
    ASSERT_EQ(AdsGetFieldLength(table_, i, &width), 0u);
    ASSERT_EQ(AdsGetFieldOffset(table_, i, &offset), 0u);
    EXPECT_EQ(type, types[i - 1]) << i;
    EXPECT_EQ(width, widths[i - 1]) << i;
    EXPECT_EQ(offset, expected_offset) << i;
    expected_offset += width;
  }
  UNSIGNED32 length = 0;
  ASSERT_EQ(AdsGetRecordLength(table_, &length), 0u);
  EXPECT_EQ(length, expected_offset);
  UNSIGNED16 decimals = 0;
  ASSERT_EQ(AdsGetFieldDecimals(table_, 2, &decimals), 0u);
  EXPECT_EQ(decimals, 2);
  std::string name;
  ASSERT_EQ(AdsGetFieldName(table_, 10, &name), 0u);
  EXPECT_EQ(name, "INT");
}

TEST_F(RecordTest, EncodesEveryTypeAsTheAdtRecord) {
  ASSERT_EQ(AdsGotoTop(table_), 0u);
  std::vector<uint8_t> r = Record(table_);
  EXPECT_EQ(FieldBytes(table_, r, 1), Bytes("T"));
  EXPECT_EQ(FieldBytes(table_, r, 2), Bytes(" 1234.50"));
  // 5 March 2010 is Julian day 2455261 = 0x257EDD.
  EXPECT_EQ(FieldBytes(table_, r, 3), Bytes({0xDD, 0x76, 0x25, 0x00}));
  EXPECT_EQ(FieldBytes(table_, r, 4), Bytes("E1    "));
  EXPECT_NE(FieldBytes(table_, r, 5), std::vector<uint8_t>(8, 0));  // memo reference
  EXPECT_NE(FieldBytes(table_, r, 6), std::vector<uint8_t>(8, 0));
  EXPECT_NE(FieldBytes(table_, r, 7), std::vector<uint8_t>(8, 0));
  EXPECT_NE(FieldBytes(table_, r, 8), std::vector<uint8_t>(8, 0));
  double f = 0;
  std::memcpy(&f, FieldBytes(table_, r, 9).data(), 8);
  EXPECT_EQ(f, 2.5);
  EXPECT_EQ(FieldBytes(table_, r, 10), Bytes({0xF9, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(FieldBytes(table_, r, 11), Bytes({0xFE, 0xFF}));
  // 10:20:30.040 = 37230040 ms = 0x023815D8.
  EXPECT_EQ(FieldBytes(table_, r, 12), Bytes({0xD8, 0x15, 0x38, 0x02}));
  // Day 2455261, then 3723000 ms = 0x0038CEF8.
  EXPECT_EQ(FieldBytes(table_, r, 13), Bytes({0xDD, 0x76, 0x25, 0x00, 0xF8, 0xCE, 0x38, 0x00}));
  EXPECT_EQ(FieldBytes(table_, r, 14), Bytes({9, 0, 0, 0}));
  EXPECT_EQ(FieldBytes(table_, r, 15), Bytes({0xAA, 0xBB, 0, 0}));
  double y = 0;
  std::memcpy(&y, FieldBytes(table_, r, 16).data(), 8);
  EXPECT_EQ(y, 12.25);
  EXPECT_EQ(Text(table_, "M"), "memo text");
  EXPECT_EQ(Text(table_, "V"), "var");
  EXPECT_EQ(Text(table_, "B"), std::string("\x01\x02", 2));
  EXPECT_EQ(Text(table_, "D"), "05/03/2010");
  EXPECT_EQ(Text(table_, "c"), "E1");
}

TEST_F(RecordTest, EncodesNullAsTheEmptyValueOfEachType) {
  ASSERT_EQ(AdsGotoBottom(table_), 0u);
  std::vector<uint8_t> r = Record(table_);
  EXPECT_EQ(FieldBytes(table_, r, 1), Bytes(" "));
  EXPECT_EQ(FieldBytes(table_, r, 2), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(FieldBytes(table_, r, 3), std::vector<uint8_t>(4, 0));
  EXPECT_EQ(FieldBytes(table_, r, 4), std::vector<uint8_t>(6, 0));
  for (UNSIGNED16 block : {5, 6, 7, 8}) EXPECT_EQ(FieldBytes(table_, r, block), std::vector<uint8_t>(8, 0));
  const std::vector<uint8_t> empty_double = Bytes({32, 0, 0, 0, 0, 0, 0, 0x80});
  EXPECT_EQ(FieldBytes(table_, r, 9), empty_double);
  EXPECT_EQ(FieldBytes(table_, r, 10), Bytes({0, 0, 0, 0x80}));
  EXPECT_EQ(FieldBytes(table_, r, 11), Bytes({0, 0x80}));
  EXPECT_EQ(FieldBytes(table_, r, 12), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(FieldBytes(table_, r, 13), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(FieldBytes(table_, r, 14), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(FieldBytes(table_, r, 15), std::vector<uint8_t>(4, 0));
  EXPECT_EQ(FieldBytes(table_, r, 16), empty_double);
  UNSIGNED16 empty = 0;
  ASSERT_EQ(AdsIsEmpty(table_, "M", &empty), 0u);
  EXPECT_EQ(empty, 1);
  // The null record of the table is the same record.
  std::vector<uint8_t> null_record(r.size());
  ASSERT_EQ(AdsGetNullRecord(table_, null_record.data(), static_cast<UNSIGNED32>(null_record.size())), 0u);
  EXPECT_EQ(null_record, r);
}

TEST_F(RecordTest, RefusesABufferTooSmall) {
  ASSERT_EQ(AdsGotoTop(table_), 0u);
  uint8_t small[4];
  UNSIGNED32 length = sizeof small;
  EXPECT_EQ(AdsGetRecord(table_, small, &length), AE_INSUFFICIENT_BUFFER);
  UNSIGNED32 record_length = 0;
  ASSERT_EQ(AdsGetRecordLength(table_, &record_length), 0u);
  EXPECT_EQ(length, record_length);
}

TEST_F(RecordTest, UnknownColumnIsNamedInTheError) {
  std::string value;
  EXPECT_EQ(AdsGetField(table_, "NOPE", &value), AE_COLUMN_NOT_FOUND);
  EXPECT_NE(LastText().find("column \"NOPE\""), std::string::npos) << LastText();
  UNSIGNED16 type = 0;
  EXPECT_EQ(AdsGetFieldType(table_, 17, &type), AE_COLUMN_NOT_FOUND);
  EXPECT_EQ(AdsGetFieldType(table_, 0, &type), AE_COLUMN_NOT_FOUND);
}

class StoredValueTest : public EngineFixture {
 protected:
  // Opens a one-column table of `declared` type holding `literal` and reads
  // its record: the code of AdsGetRecord.
  UNSIGNED32 ReadOne(const std::string& declared, const std::string& literal) {
    MakeDb("t.adt", "CREATE TABLE T(X " + declared + "); INSERT INTO T VALUES(" + literal + ");");
    ADSHANDLE table = Open("t");
    EXPECT_NE(table, 0u) << LastText();
    EXPECT_EQ(AdsGotoTop(table), 0u);
    UNSIGNED32 length = 64;
    uint8_t buffer[64];
    return AdsGetRecord(table, buffer, &length);
  }
};

TEST_F(StoredValueTest, AnImpossibleDateNamesTableColumnAndRow) {
  EXPECT_EQ(ReadOne("DATE", "'2010-02-30'"), AE_KDX_BAD_STORED_VALUE);
  EXPECT_NE(LastText().find("Table T, column X, row 1: '2010-02-30' is not a valid date"), std::string::npos)
      << LastText();
}

TEST_F(StoredValueTest, TextInAnIntegerColumnIsRefused) {
  EXPECT_EQ(ReadOne("INTEGER", "'abc'"), AE_KDX_BAD_STORED_VALUE);
  EXPECT_NE(LastText().find("'abc'"), std::string::npos);
}

TEST_F(StoredValueTest, ANumberWiderThanItsNumericColumnIsRefused) {
  EXPECT_EQ(ReadOne("NUMERIC(5,2)", "1234.5"), AE_KDX_BAD_STORED_VALUE);
  EXPECT_NE(LastText().find("NUMERIC(5,2)"), std::string::npos) << LastText();
}

TEST_F(StoredValueTest, ANegativeNumberThatFitsIsRightAligned) {
  EXPECT_EQ(ReadOne("NUMERIC(7,2)", "-12.5"), 0u) << LastText();
}

TEST_F(StoredValueTest, OutOfRangeIntegersAndLogicalsAreRefused) {
  EXPECT_EQ(ReadOne("SHORTINT", "40000"), AE_KDX_BAD_STORED_VALUE);
  std::filesystem::remove(Path("t.adt"));
  EXPECT_EQ(ReadOne("INTEGER", "-2147483648"), AE_KDX_BAD_STORED_VALUE);  // the empty marker
  std::filesystem::remove(Path("t.adt"));
  EXPECT_EQ(ReadOne("LOGICAL", "2"), AE_KDX_BAD_STORED_VALUE);
  std::filesystem::remove(Path("t.adt"));
  EXPECT_EQ(ReadOne("TIME", "'25:00:00'"), AE_KDX_BAD_STORED_VALUE);
  std::filesystem::remove(Path("t.adt"));
  EXPECT_EQ(ReadOne("RAW(2)", "x'010203'"), AE_KDX_BAD_STORED_VALUE);
}

TEST_F(StoredValueTest, CharacterTextLongerThanTheWidthIsCut) {
  MakeDb("t.adt", "CREATE TABLE T(X CHAR(3)); INSERT INTO T VALUES('ABCDEF');");
  ADSHANDLE table = Open("t");
  ASSERT_EQ(AdsGotoTop(table), 0u);
  EXPECT_EQ(Record(table), Bytes("ABC"));
  EXPECT_EQ(Text(table, "X"), "ABC");
}

class MalformedTableTest : public EngineFixture {};

TEST_F(MalformedTableTest, ABadDeclaredTypeNamesTableAndColumn) {
  MakeDb("bad.adt", "CREATE TABLE BAD(A CHAR(4), WHEN_ TEXT);");
  UNSIGNED32 rc = 0;
  EXPECT_EQ(Open("bad", &rc), 0u);
  EXPECT_EQ(rc, AE_KDX_BAD_COLUMN_TYPE);
  EXPECT_NE(LastText().find("Table BAD, column WHEN_"), std::string::npos) << LastText();
}

TEST_F(MalformedTableTest, DeclaredTypesNeedTheirWidths) {
  for (const char* declared : {"CHAR", "NUMERIC", "CHAR(0)", "NUMERIC(4,3)", "DATE(2)", "RAW(70000)", "NUMERIC(40)"}) {
    std::filesystem::remove(Path("w.adt"));
    MakeDb("w.adt", std::string("CREATE TABLE W(A ") + declared + ");");
    UNSIGNED32 rc = 0;
    EXPECT_EQ(Open("w", &rc), 0u) << declared;
    EXPECT_EQ(rc, AE_KDX_BAD_COLUMN_TYPE) << declared;
  }
}

TEST_F(MalformedTableTest, AFileWithTwoTablesIsRefused) {
  MakeDb("two.adt", "CREATE TABLE TWO(A CHAR(1)); CREATE TABLE OTHER(B CHAR(1));");
  UNSIGNED32 rc = 0;
  EXPECT_EQ(Open("two", &rc), 0u);
  EXPECT_EQ(rc, AE_KDX_TABLE_LAYOUT);
  EXPECT_NE(LastText().find("2 tables"), std::string::npos) << LastText();
}

TEST_F(MalformedTableTest, EngineTablesBesideTheTableAreIgnored) {
  MakeDb("one.adt", "CREATE TABLE ONE(A CHAR(1)); CREATE TABLE __notes(x);");
  EXPECT_NE(Open("one"), 0u) << LastText();
}

TEST_F(MalformedTableTest, ATableNamedUnlikeItsFileIsRefused) {
  MakeDb("emp.adt", "CREATE TABLE PERSON(A CHAR(1));");
  UNSIGNED32 rc = 0;
  EXPECT_EQ(Open("emp", &rc), 0u);
  EXPECT_EQ(rc, AE_KDX_TABLE_LAYOUT);
}

TEST_F(MalformedTableTest, ANonSqliteFileIsRefusedNamingIt) {
  WriteFile("junk.adt", std::string(4096, 'x'));
  UNSIGNED32 rc = 0;
  EXPECT_EQ(Open("junk", &rc), 0u);
  EXPECT_EQ(rc, AE_KDX_NOT_A_DATABASE);
  EXPECT_NE(LastText().find("junk.adt"), std::string::npos) << LastText();
}

TEST_F(MalformedTableTest, AnExpressionIndexIsRefusedAtOpen) {
  MakeDb("ex.adt", "CREATE TABLE EX(A CHAR(4)); CREATE INDEX LOW ON EX(lower(A));");
  UNSIGNED32 rc = 0;
  EXPECT_EQ(Open("ex", &rc), 0u);
  EXPECT_EQ(rc, AE_KDX_BAD_INDEX);
  EXPECT_NE(LastText().find("LOW"), std::string::npos) << LastText();
}

}  // namespace
