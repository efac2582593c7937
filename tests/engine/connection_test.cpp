// Connections, table-name resolution, dictionaries, handles and settings.
#include "engine/accounts.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/status_assertions.h"

namespace {

class NameResolutionTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeDb("EMP_CLD.ADT", "CREATE TABLE EMP_CLD(A CHAR(2)); INSERT INTO EMP_CLD VALUES('x');");
    MakeDb("code", "CREATE TABLE CODE(A CHAR(2));");
    MakeDb("code.adt", "CREATE TABLE code(A CHAR(2)); INSERT INTO code VALUES('y');");
  }
};

TEST_F(NameResolutionTest, MatchesFileNamesWithoutRegardToCase) {
  EXPECT_NE(Open("emp_cld.adt"), 0u) << LastText();
  EXPECT_NE(Open("Emp_Cld"), 0u) << LastText();  // ".adt" added
}

TEST_F(NameResolutionTest, TriesTheNameAsGivenBeforeAddingAdt) {
  ADSHANDLE table = Open("CODE");
  ASSERT_NE(table, 0u) << LastText();
  UNSIGNED32 count = 9;
  ASSERT_EQ(AdsGetRecordCount(table, 0, &count), 0u);
  EXPECT_EQ(count, 0u);  // the file "code", not "code.adt"
}

TEST_F(NameResolutionTest, AcceptsPathsWithEitherSeparator) {
  EXPECT_NE(Open(dir_ + "\\emp_cld.ADT"), 0u) << LastText();
  EXPECT_NE(Open(dir_ + "/EMP_CLD"), 0u) << LastText();
}

TEST_F(NameResolutionTest, AMissingTableNamesTableAndFolder) {
  UNSIGNED32 rc = 0;
  EXPECT_EQ(Open("EMPLOYEE", &rc), 0u);
  EXPECT_EQ(rc, AE_KDX_TABLE_NOT_FOUND);
  EXPECT_NE(LastText().find("EMPLOYEE"), std::string::npos);
  EXPECT_NE(LastText().find(dir_), std::string::npos);
  EXPECT_EQ(Open(dir_ + "/nowhere/x.adt", &rc), 0u);
  EXPECT_NE(LastText().find("nowhere"), std::string::npos);
}

class ConnectTest : public EngineFixture {};

TEST_F(ConnectTest, WithoutTheLocalServerFailsClearly) {
  ADSHANDLE connection = 0;
  EXPECT_EQ(AdsConnect60(dir_, ADS_REMOTE_SERVER | ADS_AIS_SERVER, "", "", 0, &connection), AE_KDX_SERVER_UNAVAILABLE);
  EXPECT_EQ(connection, 0u);
  EXPECT_NE(LastText().find("local server"), std::string::npos);
}

TEST_F(ConnectTest, AMissingPathIsNamed) {
  ADSHANDLE connection = 0;
  EXPECT_EQ(AdsConnect60(dir_ + "/absent", 3, "", "", 0, &connection), AE_KDX_PATH_NOT_FOUND);
  EXPECT_NE(LastText().find(dir_ + "/absent"), std::string::npos);
}

TEST_F(ConnectTest, ATableFileIsNoConnectionPath) {
  MakeDb("EMP_CLD.ADT", "CREATE TABLE EMP_CLD(A CHAR(2));");
  MakeDb("PAYPARA1.ADT", "CREATE TABLE PAYPARA1(A CHAR(2));");
  ASSERT_TRUE(Succeeds(SealFile(Path("PAYPARA1.ADT"), "VARDE5816")));
  for (const auto& [file, what] : {std::pair{"EMP_CLD.ADT", "it is a table file (it holds only table EMP_CLD)"},
                                   std::pair{"PAYPARA1.ADT", "it is a sealed table file"}}) {
    ADSHANDLE connection = 0;
    EXPECT_EQ(AdsConnect60(Path(file), ADS_LOCAL_SERVER, "USER", "PASS", 0, &connection), AE_KDX_PATH_IS_TABLE_FILE);
    EXPECT_EQ(connection, 0u);
    EXPECT_NE(LastText().find(what), std::string::npos) << LastText();
    EXPECT_NE(LastText().find("connect to the folder that holds the table files, or to a dictionary file"),
              std::string::npos)
        << LastText();
  }
}

TEST_F(ConnectTest, DisconnectClosesTablesAndLeavesStaleHandles) {
  MakeDb("t.adt", "CREATE TABLE T(A CHAR(1)); CREATE INDEX TA ON T(A);");
  ADSHANDLE table = Open("t");
  ASSERT_NE(table, 0u);
  ADSHANDLE index = Index(table, "TA");
  ASSERT_EQ(AdsDisconnect(connection_), 0u);
  EXPECT_EQ(AdsGotoTop(table), AE_INVALID_HANDLE);
  EXPECT_EQ(AdsGotoTop(index), AE_INVALID_HANDLE);
  EXPECT_EQ(AdsDisconnect(connection_), AE_INVALID_CONNECTION_HANDLE);
  connection_ = 0;
}

TEST_F(ConnectTest, HandlesAreTypedAndNeverReused) {
  MakeDb("t.adt", "CREATE TABLE T(A CHAR(1));");
  ADSHANDLE first = Open("t");
  ASSERT_EQ(AdsCloseTable(first), 0u);
  EXPECT_EQ(AdsCloseTable(first), AE_INVALID_HANDLE);
  ADSHANDLE second = Open("t");
  EXPECT_NE(first, second);
  UNSIGNED16 type = 0;
  ASSERT_EQ(AdsGetHandleType(second, &type), 0u);
  EXPECT_EQ(type, ADS_TABLE);
  ASSERT_EQ(AdsGetHandleType(connection_, &type), 0u);
  EXPECT_EQ(type, ADS_CONNECTION);
  // A connection handle where a table is expected, and the reverse.
  EXPECT_EQ(AdsGotoTop(connection_), AE_INVALID_HANDLE);
  EXPECT_EQ(AdsDisconnect(second), AE_INVALID_CONNECTION_HANDLE);
  ADSHANDLE table = 0;
  EXPECT_EQ(AdsOpenTable(second, "t", "", 3, 1, 1, 2, 0, &table), AE_INVALID_CONNECTION_HANDLE);
  EXPECT_EQ(AdsGetHandleType(0xFFFFFFF0u, &type), AE_INVALID_HANDLE);
  UNSIGNED16 at = 0;
  EXPECT_EQ(AdsAtEOF(12345678, &at), AE_INVALID_HANDLE);
}

class DictionaryTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeDb("hr.add",
           "CREATE TABLE EMP_PROS(EMP_CODE CHAR(6)); CREATE INDEX \"EMP_PROS.PRIMARY\" ON EMP_PROS(EMP_CODE);"
           "CREATE TABLE EMP_CLD(EMP_CODE CHAR(6)); CREATE INDEX \"EMP_CLD.PRIMARY\" ON EMP_CLD(EMP_CODE);"
           "CREATE TABLE __tables(table_name TEXT PRIMARY KEY, default_index TEXT);"
           "INSERT INTO __tables VALUES('EMP_CLD', 'PRIMARY');"
           "INSERT INTO EMP_CLD VALUES('E2'), ('E1');");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("hr.add").c_str(), &db), SQLITE_OK);
    ASSERT_TRUE(Succeeds(AddDictionaryUser(db, "adssys", "secret")));
    sqlite3_close(db);
    ASSERT_EQ(AdsConnect60(Path("hr.add"), 3, "ADSSYS", "secret", 0, &connection_), 0u) << LastText();
  }
};

TEST_F(DictionaryTest, OpensTablesByNameWithoutExtension) {
  ADSHANDLE table = 0;
  ASSERT_EQ(AdsOpenTable(connection_, "emp_cld.adt", "", 0, 1, 1, 2, 0, &table), 0u) << LastText();
  std::string name;
  std::vector<ADSHANDLE> indexes;
  ASSERT_EQ(AdsGetAllIndexes(table, 50, &indexes), 0u);
  ASSERT_EQ(indexes.size(), 1u);
  ASSERT_EQ(AdsGetIndexName(indexes[0], &name), 0u);
  EXPECT_EQ(name, "PRIMARY");
  EXPECT_EQ(Walk(table, Index(table, "ADS_DEFAULT"), "EMP_CODE"), (std::vector<std::string>{"E1", "E2"}));
}

TEST_F(DictionaryTest, AnUnknownTableAnswers5132AndEngineTablesAreHidden) {
  ADSHANDLE table = 0;
  EXPECT_EQ(AdsOpenTable(connection_, "EMPLOYEE", "", 0, 1, 1, 2, 0, &table), AE_TABLE_NOT_IN_DICTIONARY);
  EXPECT_EQ(AdsOpenTable(connection_, "__users", "", 0, 1, 1, 2, 0, &table), AE_TABLE_NOT_IN_DICTIONARY);
}

TEST_F(DictionaryTest, DefaultIndexComesFromTheDictionary) {
  std::string index;
  ASSERT_EQ(AdsGetDefaultIndex(connection_, "EMP_CLD.ADT", &index), 0u);
  EXPECT_EQ(index, "PRIMARY");
  ASSERT_EQ(AdsGetDefaultIndex(connection_, "EMP_PROS", &index), 0u);
  EXPECT_EQ(index, "");
}

TEST_F(DictionaryTest, AWrongPasswordGivesNoHandle) {
  ADSHANDLE other = 0;
  EXPECT_NE(AdsConnect60(Path("hr.add"), 3, "ADSSYS", "Zq9-unlikely", 0, &other), 0u);
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(LastText().find("Zq9-unlikely"), std::string::npos);
}

class SettingsTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(AdsSetDateFormat("dd/MM/yyyy"), 0u); }
};

TEST_F(SettingsTest, DateFormatsAreCheckedAndKept) {
  EXPECT_EQ(AdsSetDateFormat("MM/dd/ccyy"), 0u);
  std::string format;
  ASSERT_EQ(AdsGetDateFormat(&format), 0u);
  EXPECT_EQ(format, "MM/dd/ccyy");
  EXPECT_EQ(AdsSetDateFormat("dd/MM/yyyy hh"), AE_KDX_DATE_FORMAT);
  EXPECT_EQ(AdsSetDateFormat("dd/MM/yyyyyy"), AE_KDX_DATE_FORMAT);  // 12 characters
  EXPECT_EQ(AdsSetDateFormat("dd/MM"), AE_KDX_DATE_FORMAT);
  EXPECT_EQ(AdsSetDateFormat(""), AE_KDX_DATE_FORMAT);
  ASSERT_EQ(AdsGetDateFormat(&format), 0u);
  EXPECT_EQ(format, "MM/dd/ccyy");
}

TEST_F(SettingsTest, ProcessWideValuesRoundTrip) {
  ASSERT_EQ(AdsSetDecimals(4), 0u);
  UNSIGNED16 value = 0;
  ASSERT_EQ(AdsGetDecimals(&value), 0u);
  EXPECT_EQ(value, 4);
  ASSERT_EQ(AdsSetDecimals(2), 0u);
  ASSERT_EQ(AdsShowDeleted(1), 0u);
  ASSERT_EQ(AdsGetDeleted(&value), 0u);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(AdsSetServerType(6), 0u);
  EXPECT_EQ(AdsSetServerType(0), AE_KDX_INVALID_ARGUMENT);
  EXPECT_EQ(AdsCacheOpenCursors(25), 0u);
  EXPECT_EQ(AdsCacheOpenTables(0), 0u);
}

TEST_F(SettingsTest, ErrorStringsExistForOurCodes) {
  std::string text;
  for (UNSIGNED32 code : {5005u, 5022u, 5132u, 6001u, 6008u, 6014u, 6104u, 6201u, 6202u, 6205u}) {
    ASSERT_EQ(AdsGetErrorString(code, &text), 0u) << code;
    EXPECT_FALSE(text.empty()) << code;
  }
  EXPECT_NE(AdsGetErrorString(4242, &text), 0u);
}

}  // namespace
