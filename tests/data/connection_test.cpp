// Connections: connecting on demand, credentials for dictionaries only, the
// ConnectPath rule, disconnect closing datasets, the registry and aliases.
#include <filesystem>
#include <fstream>

#include "data/wait_cursor.h"
#include "data_test_support.h"
#include "engine/storage.h"
#include "util/date_time.h"
#include "tests/support/status_assertions.h"

namespace {

using data_test::DataFixture;
using data_test::ExecOnFile;
using data_test::Form;
using data_test::MessageOf;

class ConnectionTest : public DataFixture {
 protected:
  void SetUp() override { MakeTable("CODE", "CODE CHAR(4), DESC CHAR(20)", "INSERT INTO CODE VALUES('A1','First');"); }
};

TEST_F(ConnectionTest, FirstOpenConnectsOnDemand) {
  TAdsTable* table = NewTable("AdsTableCode", "CODE.ADT");
  EXPECT_FALSE(connection_->IsConnected());
  EXPECT_EQ(connection_->ConnectionHandle(), 0u);
  table->OpenDataSet();
  EXPECT_TRUE(connection_->IsConnected());
  EXPECT_NE(connection_->ConnectionHandle(), 0u);
  EXPECT_EQ(table->ColumnByName("desc").ReadText(), "First");
}

TEST_F(ConnectionTest, ConnectPathIsRefusedWhileConnected) {
  connection_->SetIsConnected(true);
  const std::string before = connection_->ConnectPath();
  EXPECT_EQ(MessageOf<AdsConnectionError>([&] { connection_->SetConnectPath("/elsewhere"); }),
            "The TAdsConnection.ConnectPath may not be changed when IsConnected is TRUE");
  EXPECT_EQ(connection_->ConnectPath(), before);
  connection_->SetIsConnected(false);
  connection_->SetConnectPath("/elsewhere");  // right after a disconnect it is accepted
  EXPECT_EQ(connection_->ConnectPath(), "/elsewhere");
}

TEST_F(ConnectionTest, EmptyPathIsRefusedAndStaysDisconnected) {
  connection_->SetConnectPath("");
  EXPECT_EQ(MessageOf<AdsConnectionError>([&] { connection_->SetIsConnected(true); }),
            "Must specify connection string before getting a server connection.");
  EXPECT_FALSE(connection_->IsConnected());
}

TEST_F(ConnectionTest, RefusedConnectRaisesTheEngineErrorAndStaysDisconnected) {
  connection_->SetConnectPath(folder_.File("missing-folder"));
  TAdsTable* table = NewTable("AdsTableCode", "CODE.ADT");
  try {
    table->OpenDataSet();
    FAIL() << "no error";
  } catch (const EADSDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("missing-folder"), std::string::npos) << e.what();
    EXPECT_NE(e.Code(), 0u);
  }
  EXPECT_FALSE(connection_->IsConnected());
  EXPECT_FALSE(table->IsActive());
}

TEST_F(ConnectionTest, ServerTypesWithoutTheLocalServerAreRefusedByTheEngine) {
  connection_->SetAdsServerTypes({TAdsServerType::stADS_REMOTE});
  EXPECT_THROW(connection_->SetIsConnected(true), EADSDatabaseError);
  EXPECT_FALSE(connection_->IsConnected());
}

TEST_F(ConnectionTest, DisconnectClosesTheDatasetsAndTheNextOpenReconnects) {
  TAdsTable* first = NewTable("AdsTableCode", "CODE.ADT");
  TAdsTable* second = NewTable("AdsTableCode2", "CODE.ADT");
  first->OpenDataSet();
  second->OpenDataSet();
  connection_->SetIsConnected(false);
  EXPECT_FALSE(first->IsActive());
  EXPECT_FALSE(second->IsActive());
  EXPECT_FALSE(connection_->IsConnected());
  connection_->SetIsConnected(false);  // again: nothing

  // The path current at the next open is the one used.
  data_test::ScratchFolder other;
  ExecOnFile(other.File("CODE.adt"), "CREATE TABLE CODE (CODE CHAR(4), DESC CHAR(20));"
                                     "INSERT INTO CODE VALUES('B2','Other');");
  connection_->SetConnectPath(other.Path());
  first->OpenDataSet();
  EXPECT_TRUE(connection_->IsConnected());
  EXPECT_EQ(first->ColumnByName("DESC").ReadText(), "Other");
  first->CloseDataSet();
  connection_->SetIsConnected(false);
}

TEST_F(ConnectionTest, QueryMakesANewStatementAfterADisconnect) {
  TAdsQuery* query = NewQuery("AdsQueryCode");
  query->AddSqlLine("select * from CODE");
  query->OpenDataSet();
  EXPECT_EQ(query->ColumnByName("CODE").ReadText(), "A1");
  connection_->SetIsConnected(false);
  EXPECT_FALSE(query->IsActive());
  query->OpenDataSet();
  EXPECT_EQ(query->ColumnByName("CODE").ReadText(), "A1");
}

TEST_F(ConnectionTest, ConnectAndQueryExecutionShowTheWaitCursorOnce) {
  std::vector<bool> calls;
  SetWaitCursorHook([&](bool busy) { calls.push_back(busy); });
  TAdsQuery* query = NewQuery("AdsQueryCode");
  query->AddSqlLine("select * from CODE");
  query->OpenDataSet();  // connects inside the execution: one busy period
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
  calls.clear();
  connection_->SetIsConnected(false);
  connection_->SetConnectPath(folder_.File("missing"));
  EXPECT_THROW(connection_->SetIsConnected(true), EADSDatabaseError);
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));  // put back after a failure too
  SetWaitCursorHook(nullptr);
}

TEST(ConnectionFolderTest, OnlyAnExistingFileIsCutToItsFolderAndADictionaryIsAFile) {
  data_test::ScratchFolder scratch;
  const std::string root = scratch.Path();
  for (const char* folder : {"/hr.bak", "/HR.ADDONS", "/x", "/db"}) std::filesystem::create_directory(root + folder);
  std::ofstream(root + "/HR.ADD") << "";
  Form form;
  auto* c = new TAdsConnection(&form, "C");
  const struct {
    std::string path, folder;
    bool dictionary;
  } kCases[] = {
      {root + "/HR.ADD", root, true},
      {root + "\\HR.ADD", root, true},
      {root + "/hr.bak", root + "/hr.bak", false},
      {root + "/x/../db", root + "/x/../db", false},
      {root + "/HR.ADDONS", root + "/HR.ADDONS", false},
      {"/no/such/hr.add", "/no/such/hr.add", false},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.path);
    c->SetConnectPath(k.path);
    EXPECT_EQ(c->ConnectionFolder(), k.folder);
    EXPECT_EQ(c->IsDictionaryConnection(), k.dictionary);
  }
}

TEST_F(ConnectionTest, AFolderNamedLikeAFileReadsItsOwnTables) {
  const std::string inner = folder_.File("hr.bak");
  std::filesystem::create_directory(inner);
  ExecOnFile(inner + "/CODE.ADT",
             "CREATE TABLE CODE (CODE CHAR(4), DESC CHAR(20));INSERT INTO CODE VALUES('B2','Own');");
  connection_->SetConnectPath(inner);
  TAdsTable* table = NewTable("AdsTableCode", "CODE.ADT");
  table->OpenDataSet();
  EXPECT_EQ(table->ColumnByName("desc").ReadText(), "Own");
}

TEST(ConnectionRegistryTest, SameOwnerFirstThenAnyAndOwnerDotName) {
  Form form1("Form1");
  Form form2("Form2");
  auto* c1 = new TAdsConnection(&form1, "AdsConnection1");
  auto* c2 = new TAdsConnection(&form2, "AdsConnection1");
  auto* other = new TAdsConnection(&form1, "AdsConnection2");
  EXPECT_EQ(TAdsConnection::FindForDataSet("adsconnection1", &form2), c2);
  EXPECT_EQ(TAdsConnection::FindForDataSet("AdsConnection1", &form1), c1);
  EXPECT_EQ(TAdsConnection::FindForDataSet("Form2.AdsConnection1", &form1), c2);
  EXPECT_EQ(TAdsConnection::FindForDataSet("AdsConnection2", &form2), other);
  EXPECT_EQ(TAdsConnection::FindForDataSet("AdsConnection3", &form1), nullptr);
  delete other;
  EXPECT_EQ(TAdsConnection::FindForDataSet("AdsConnection2", &form1), nullptr);
}

TEST(ConnectionRegistryTest, DatasetOutlivingItsConnectionIsDetached) {
  Form form;
  auto* connection = new TAdsConnection(&form, "AdsConnection1");
  auto* table = new TAdsTable(&form, "AdsTableCode");
  table->SetDatabaseName("AdsConnection1");
  EXPECT_EQ(table->Connection(), connection);
  delete connection;
  EXPECT_EQ(table->Connection(), nullptr);
  EXPECT_EQ(table->Folder(), "");
}

TEST(ConnectionRegistryTest, ConnectionMadeAfterTheDatasetIsFoundAtOpen) {
  data_test::ScratchFolder folder;
  ExecOnFile(folder.File("CODE.adt"), "CREATE TABLE CODE (CODE CHAR(4));INSERT INTO CODE VALUES('K1');");
  Form form;
  auto* table = new TAdsTable(&form, "AdsTableCode");
  table->SetDatabaseName("AdsConnection1");
  table->SetTableName("CODE.ADT");
  auto* connection = new TAdsConnection(&form, "AdsConnection1");
  connection->SetConnectPath(folder.Path());
  connection->SetAdsServerTypes({TAdsServerType::stADS_LOCAL});
  table->OpenDataSet();
  EXPECT_EQ(table->Connection(), connection);
  EXPECT_EQ(table->ColumnByName("CODE").ReadText(), "K1");
  table->CloseDataSet();
}

class DictionaryConnectionTest : public DataFixture {
 protected:
  void SetUp() override {
    dictionary_ = folder_.File("HR.add");
    ASSERT_TRUE(Succeeds(CreateDictionary(dictionary_)));
    ASSERT_TRUE(Succeeds(AddDictionaryUser(dictionary_, "GLOVERUN4", "BRISKOLDENT")));
    ExecOnFile(dictionary_, "CREATE TABLE EMP_CLD (EMP_NO CHAR(10));INSERT INTO EMP_CLD VALUES('E1');");
    connection_->SetConnectPath(dictionary_);
  }
  std::string dictionary_;
};

TEST_F(DictionaryConnectionTest, CredentialsAreSentToADictionary) {
  connection_->SetUsername("GLOVERUN4");
  connection_->SetPassword("BRISKOLDENT");
  TAdsTable* table = NewTable("AdsTableCLD", "EMP_CLD.ADT");
  table->OpenDataSet();
  EXPECT_EQ(table->ColumnByName("EMP_NO").ReadText(), "E1");
}

TEST_F(DictionaryConnectionTest, WrongCredentialsAreRefused) {
  connection_->SetUsername("GLOVERUN4");
  connection_->SetPassword("WRONG");
  EXPECT_THROW(connection_->SetIsConnected(true), EADSDatabaseError);
  EXPECT_FALSE(connection_->IsConnected());
}

TEST_F(DictionaryConnectionTest, FreeTableBesideTheDictionaryOpensWhenTheDictionaryLacksIt) {
  connection_->SetUsername("GLOVERUN4");
  connection_->SetPassword("BRISKOLDENT");
  MakeTable("CODE", "CODE CHAR(4)", "INSERT INTO CODE VALUES('Z9');");
  TAdsTable* table = NewTable("AdsTableCode", "CODE.ADT");
  table->OpenDataSet();
  EXPECT_EQ(table->ColumnByName("CODE").ReadText(), "Z9");
}

TEST_F(DictionaryConnectionTest, TableWithoutAnIndexTakesTheDictionaryDefault) {
  ExecOnFile(dictionary_,
             "CREATE TABLE CLD2 (EMP_NO CHAR(10), DAY DATE);"
             "CREATE INDEX \"CLD2.BYDAY\" ON CLD2(DAY);"
             "CREATE INDEX \"CLD2.BYEMP\" ON CLD2(EMP_NO);"
             "INSERT INTO CLD2 VALUES('E2','2010-03-01');INSERT INTO CLD2 VALUES('E1','2010-03-02');"
             "CREATE TABLE __tables (table_name TEXT, default_index TEXT);"
             "INSERT INTO __tables VALUES('CLD2','BYDAY');");
  connection_->SetUsername("GLOVERUN4");
  connection_->SetPassword("BRISKOLDENT");
  TAdsTable* plain = NewTable("Plain", "CLD2.ADT");
  TAdsTable* own = NewTable("Own", "CLD2.ADT", "EMP_NO");
  plain->OpenDataSet();
  EXPECT_EQ(plain->IndexName(), "ADS_DEFAULT");
  EXPECT_EQ(plain->ColumnByName("EMP_NO").ReadText(), "E2");
  ASSERT_TRUE(plain->SeekKey({EncodeDate(2010, 3, 2)}));
  EXPECT_EQ(plain->ColumnByName("EMP_NO").ReadText(), "E1");
  own->OpenDataSet();
  EXPECT_EQ(own->IndexFieldNames(), "EMP_NO");
  EXPECT_EQ(own->ColumnByName("EMP_NO").ReadText(), "E1");
}

class FolderNameTest : public DataFixture {};

TEST_F(FolderNameTest, DatabaseNameMayBeAFolder) {
  MakeTable("CODE", "CODE CHAR(4)", "INSERT INTO CODE VALUES('F1');");
  auto* table = new TAdsTable(form_.get(), "AdsTableCode");
  table->SetDatabaseName(folder_.Path() + "/");
  table->SetTableName("CODE.ADT");
  EXPECT_EQ(table->Folder(), folder_.Path());
  table->OpenDataSet();
  EXPECT_EQ(table->ColumnByName("CODE").ReadText(), "F1");
}

TEST_F(FolderNameTest, AliasOfAdsIniInTheProgramFolder) {
  MakeTable("CODE", "CODE CHAR(4)", "INSERT INTO CODE VALUES('L7');");
  const std::string ini = std::string(KDX_BIN_DIR) + "/ADS.INI";
  ASSERT_FALSE(std::filesystem::exists(ini)) << "a stray " << ini;
  struct RemoveAfterwards {
    std::string path;
    ~RemoveAfterwards() { std::filesystem::remove(path); }
  } remove_afterwards{ini};
  {
    std::ofstream out(ini);
    out << "[Databases]\r\nKDXH4ALIAS=" << folder_.Path() << ";A\r\n";
  }
  auto* table = new TAdsTable(form_.get(), "AdsTableCode");
  table->SetDatabaseName("KDXH4ALIAS");
  table->SetTableName("CODE.ADT");
  EXPECT_EQ(table->Folder(), folder_.Path());
  table->OpenDataSet();
  EXPECT_EQ(table->ColumnByName("CODE").ReadText(), "L7");
}

}  // namespace
