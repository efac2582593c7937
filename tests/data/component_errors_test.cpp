// The component model (ownership and destruction order) and the messages of
// the layer's error types.
#include <string>
#include <thread>
#include <vector>

#include "data_test_support.h"

namespace {

using data_test::DataFixture;
using data_test::Form;
using data_test::MessageOf;

// Records its name in a shared log when destroyed.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string name, std::vector<std::string>* log)
      : TComponent(owner, std::move(name)), log_(log) {}
  ~Probe() override { log_->push_back(Name()); }

 private:
  std::vector<std::string>* log_;
};

TEST(ComponentTest, OwnerDestroysWhatItOwnsNewestFirst) {
  std::vector<std::string> log;
  {
    Form form;
    new Probe(&form, "A", &log);
    auto* b = new Probe(&form, "B", &log);
    new Probe(b, "B1", &log);
    new Probe(&form, "C", &log);
  }
  // B records itself before its own components go (they are destroyed by the
  // base part of its destructor).
  EXPECT_EQ(log, (std::vector<std::string>{"C", "B", "B1", "A"}));
}

TEST(ComponentTest, ComponentDeletedEarlyLeavesItsOwner) {
  std::vector<std::string> log;
  {
    Form form;
    new Probe(&form, "A", &log);
    auto* b = new Probe(&form, "B", &log);
    delete b;
    EXPECT_EQ(log, (std::vector<std::string>{"B"}));
  }
  // B is not deleted a second time.
  EXPECT_EQ(log, (std::vector<std::string>{"B", "A"}));
}

TEST(ErrorMessageTest, DatabaseErrorIsPrefixedWithTheComponentName) {
  Form form;
  TAdsTable table(nullptr, "AdsTableCLD");
  const std::string message = MessageOf<EADSDatabaseError>([&] { table.OpenDataSet(); });
  EXPECT_EQ(message, "AdsTableCLD: Missing TableName property");
}

TEST(ErrorMessageTest, UnnamedDatasetGivesTheTextAlone) {
  TAdsTable table(nullptr, "");
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { table.OpenDataSet(); }), "Missing TableName property");
}

TEST(ErrorMessageTest, LayerErrorsCarryCode5121AndTheDatasetDetails) {
  Form form("Form1");
  auto* table = new TAdsTable(&form, "AdsTableCode");
  table->SetTableName("CODE.ADT");
  try {
    table->OpenDataSet();
    FAIL() << "no error";
  } catch (const EADSDatabaseError& e) {
    EXPECT_EQ(e.Code(), 5121u);
    EXPECT_STREQ(e.what(),
                 "AdsTableCode: One of the DatabaseName property or the AdsConnection property must have a value.");
    EXPECT_EQ(e.GetDetails().component_name, "AdsTableCode");
    EXPECT_EQ(e.GetDetails().owner_name, "Form1");
    EXPECT_EQ(e.GetDetails().table_name, "CODE.ADT");
  }
}

TEST(ErrorMessageTest, SecondErrorWhileOneExistsHasNoPrefixOrDetails) {
  TAdsTable table(nullptr, "AdsTableCLD");
  try {
    table.OpenDataSet();
  } catch (const EADSDatabaseError& first) {
    EXPECT_TRUE(DatabaseErrorInProgress());
    try {
      table.OpenDataSet();
    } catch (const EADSDatabaseError& second) {
      EXPECT_STREQ(second.what(), "Missing TableName property");
      EXPECT_EQ(second.Code(), 5121u);
      EXPECT_EQ(second.GetDetails().component_name, "");
    }
  }
  EXPECT_FALSE(DatabaseErrorInProgress());
  // Once the errors are gone, the prefix is back.
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { table.OpenDataSet(); }), "AdsTableCLD: Missing TableName property");
}

TEST(ErrorMessageTest, ErrorInProgressIsPerThread) {
  try {
    throw EADSDatabaseError("x", {});
  } catch (const EADSDatabaseError&) {
    bool other_thread_sees = true;
    std::thread t([&] { other_thread_sees = DatabaseErrorInProgress(); });
    t.join();
    EXPECT_FALSE(other_thread_sees);
    EXPECT_TRUE(DatabaseErrorInProgress());
  }
}

TEST(ErrorMessageTest, GenericErrorsOfClosedDatasets) {
  Form form;
  auto* table = new TAdsTable(&form, "AdsTableCLD");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { table->GoNext(); }),
            "AdsTableCLD: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { return table->SeekKey({"E1"}); }),
            "AdsTableCLD: Cannot perform this operation on a closed dataset");
  // A closed dataset has no columns.
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { table->ColumnByName("EMP_NO"); }),
            "AdsTableCLD: Field 'EMP_NO' not found");
  auto* query = new TAdsQuery(&form, "AdsQuerySource");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { query->ParamNamed("date1"); }),
            "AdsQuerySource: Parameter 'date1' not found");
}

TEST(ErrorMessageTest, QueryWithoutDatabaseName) {
  Form form;
  auto* query = new TAdsQuery(&form, "AdsQueryEmp");
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { query->SetTablePassword("employee", "x"); }),
            "AdsQueryEmp: The DatabaseName property has not been assigned a value.");
}

class DatasetErrorTest : public DataFixture {};

TEST_F(DatasetErrorTest, EngineFailureCarriesTheEngineCodeAndText) {
  TAdsTable* table = NewTable("AdsTableMisc", "NOSUCH.ADT");
  try {
    table->OpenDataSet();
    FAIL() << "no error";
  } catch (const EADSDatabaseError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("AdsTableMisc: ", 0), 0u) << message;
    EXPECT_NE(message.find("NOSUCH"), std::string::npos) << message;
    EXPECT_NE(e.Code(), 0u);
    EXPECT_NE(e.Code(), 5121u);
    EXPECT_EQ(e.GetDetails().database_name, "AdsConnection1");
    EXPECT_EQ(e.GetDetails().folder, folder_.Path());
  }
  EXPECT_FALSE(table->IsActive());
}

TEST_F(DatasetErrorTest, DatabaseNameCannotChangeOnAnOpenDataset) {
  MakeTable("CODE", "CODE CHAR(4)", "INSERT INTO CODE VALUES('A');");
  TAdsTable* table = NewTable("AdsTableCode", "CODE.ADT");
  table->OpenDataSet();
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { table->SetDatabaseName("AdsConnection2"); }),
            "AdsTableCode: Cannot perform this operation on an open dataset");
  EXPECT_EQ(table->DatabaseName(), "AdsConnection1");
}

}  // namespace
