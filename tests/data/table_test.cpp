// Tables: opening, the index list and the choice of the active index, and
// walking the records.
#include <exception>
#include <functional>

#include "data_test_support.h"
#include "engine/storage.h"
#include "tests/support/status_assertions.h"

namespace {

using data_test::DataFixture;
using data_test::MessageOf;

// EMP_PROS with the five indexes of the HR database, PRIMARY first.
class EmpProsFixture : public DataFixture {
 protected:
  void SetUp() override {
    MakeTable("EMP_PROS",
              "EMP_CODE CHAR(12), PAY_EFFECTIVE_DATE DATE, ID INTEGER, CODE CHAR(6), PROGRESSION_DATE DATE, "
              "SALARY NUMERIC(10,2)",
              "CREATE INDEX \"PRIMARY\" ON EMP_PROS(EMP_CODE, PAY_EFFECTIVE_DATE, ID);"
              "CREATE INDEX PROINDE2 ON EMP_PROS(EMP_CODE, CODE);"
              "CREATE INDEX PROINDE3 ON EMP_PROS(EMP_CODE, ID);"
              "CREATE INDEX PROSINDEX ON EMP_PROS(EMP_CODE, PROGRESSION_DATE);"
              "CREATE INDEX EMPLOYEE ON EMP_PROS(EMP_CODE);"
              "INSERT INTO EMP_PROS VALUES('E002','2009-01-01',7,'P1','2009-02-01',900);"
              "INSERT INTO EMP_PROS VALUES('E001','2010-01-01',2,'P3','2010-02-01',1200);"
              "INSERT INTO EMP_PROS VALUES('E001','2009-06-01',5,'P2','2009-07-01',1100);"
              "INSERT INTO EMP_PROS VALUES('E001','2009-06-01',3,'P1','2009-07-01',1000);"
              "INSERT INTO EMP_PROS VALUES('E10','2008-01-01',1,'P1','2008-02-01',800);");
  }

  std::vector<std::string> Walk(TAdsDataSet* ds, const std::string& column) {
    std::vector<std::string> seen;
    for (ds->GoFirst(); !ds->AtEof(); ds->GoNext()) seen.push_back(ds->ColumnByName(column).ReadText());
    return seen;
  }
};

class TableOpenTest : public EmpProsFixture {};

TEST_F(TableOpenTest, OpenReadsColumnsIndexesAndTheFirstRecord) {
  TAdsTable* table = NewTable("wwQueryEmpCareer", "EMP_PROS.adt");
  bool before = false;
  bool after_saw_record = false;
  table->BeforeOpen = [&](TAdsDataSet& ds) { before = !ds.IsActive(); };
  table->AfterOpen = [&](TAdsDataSet& ds) { after_saw_record = ds.HasCurrentRecord(); };
  table->OpenDataSet();
  EXPECT_TRUE(before);
  EXPECT_TRUE(after_saw_record);
  EXPECT_TRUE(table->IsActive());
  EXPECT_FALSE(table->AtEof());
  ASSERT_EQ(table->Fields().size(), 6u);
  EXPECT_EQ(table->Fields()[0].Name(), "EMP_CODE");
  EXPECT_EQ(table->Fields()[0].Kind(), TFieldKind::Text);
  EXPECT_EQ(table->Fields()[0].Width(), 12u);
  ASSERT_EQ(table->IndexDefs().size(), 5u);
  EXPECT_EQ(table->IndexDefs()[0].name, "PRIMARY");
  EXPECT_EQ(table->IndexDefs()[0].fields, "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  EXPECT_EQ(table->IndexDefs()[4].fields, "EMP_CODE");
  // Natural order without an index.
  EXPECT_EQ(table->ColumnByName("emp_code").ReadText(), "E002");
  table->OpenDataSet();  // open already: nothing
  EXPECT_EQ(table->ColumnByName("EMP_CODE").ReadText(), "E002");
}

TEST_F(TableOpenTest, MissingTableNameAndMissingFile) {
  TAdsTable* table = NewTable("AdsTableCLD", "");
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { table->OpenDataSet(); }), "AdsTableCLD: Missing TableName property");
  table->SetTableName("EMP_CLD.ADT");
  EXPECT_THROW(table->OpenDataSet(), EADSDatabaseError);
  EXPECT_FALSE(table->IsActive());
}

TEST_F(TableOpenTest, FailingAfterOpenLeavesTheDatasetClosed) {
  TAdsTable* table = NewTable("wwQueryEmpCareer", "EMP_PROS.adt");
  table->AfterOpen = [](TAdsDataSet&) { throw Exception("hook failed"); };
  EXPECT_THROW(table->OpenDataSet(), Exception);
  EXPECT_FALSE(table->IsActive());
}

TEST_F(TableOpenTest, CloseForgetsColumnsAndReopenStartsAtTheFirstRecord) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE");
  table->OpenDataSet();
  table->GoNext();
  table->CloseDataSet();
  EXPECT_FALSE(table->IsActive());
  EXPECT_TRUE(table->Fields().empty());
  table->CloseDataSet();  // closed already: nothing
  table->OpenDataSet();
  EXPECT_EQ(table->ColumnByName("EMP_CODE").ReadText(), "E001");
}

class IndexSelectionTest : public EmpProsFixture {};

TEST_F(IndexSelectionTest, FullListSelectsPrimary) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  EXPECT_EQ(Walk(table, "ID"), (std::vector<std::string>{"3", "5", "2", "7", "1"}));
}

TEST_F(IndexSelectionTest, ExactMatchWinsOverAnEarlierPrefixMatch) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "emp_code");
  table->OpenDataSet();
  // EMPLOYEE keeps equal codes in record order: 2, 5, 3 for E001. PRIMARY
  // (the earlier prefix match) would give 3, 5, 2.
  EXPECT_EQ(Walk(table, "ID"), (std::vector<std::string>{"2", "5", "3", "7", "1"}));
}

TEST_F(IndexSelectionTest, PrefixMatchIsUsedWhenNoIndexMatchesExactly) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE");
  table->OpenDataSet();
  EXPECT_EQ(Walk(table, "ID"), (std::vector<std::string>{"3", "5", "2", "7", "1"}));
}

TEST_F(IndexSelectionTest, UncoveredListFailsWithItsText) {
  TAdsTable* table = NewTable("wwQueryEmpCareer", "EMP_PROS.adt", "EMP_CODE;NAME");
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { table->OpenDataSet(); }),
            "wwQueryEmpCareer: Not a valid index field name:EMP_CODE;NAME");
  EXPECT_FALSE(table->IsActive());
  // "EMP_CODE;PAY" is not a prefix of a column list.
  table->SetIndexFieldNames("EMP_CODE;PAY");
  EXPECT_THROW(table->OpenDataSet(), EADSDatabaseError);
}

TEST_F(IndexSelectionTest, BlanksAroundTheListAreDropped) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt");
  table->SetIndexFieldNames(" EMP_CODE ");
  EXPECT_EQ(table->IndexFieldNames(), "EMP_CODE");
  table->SetIndexName("PROINDE3");
  EXPECT_EQ(table->IndexFieldNames(), "");
  table->SetIndexFieldNames("EMP_CODE");
  EXPECT_EQ(table->IndexName(), "");
}

TEST_F(IndexSelectionTest, DescendingIndexesAreNotChosen) {
  MakeTable("DESCT", "K CHAR(4)",
            "CREATE INDEX KDESC ON DESCT(K DESC);"
            "INSERT INTO DESCT VALUES('A');INSERT INTO DESCT VALUES('B');");
  TAdsTable* table = NewTable("T", "DESCT.adt", "K");
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { table->OpenDataSet(); }), "T: Not a valid index field name:K");
}

TEST_F(IndexSelectionTest, ChangingTheIndexOnAnOpenTableKeepsTheRecord) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;CODE");
  table->OpenDataSet();
  table->GoNext();
  EXPECT_EQ(table->ColumnByName("ID").ReadText(), "5");
  table->SetIndexFieldNames("EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  EXPECT_EQ(table->ColumnByName("ID").ReadText(), "5");
  table->GoNext();
  EXPECT_EQ(table->ColumnByName("ID").ReadText(), "2");
  // A failed change restores the previous setting.
  EXPECT_THROW(table->SetIndexFieldNames("CODE"), EADSDatabaseError);
  EXPECT_EQ(table->IndexFieldNames(), "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  EXPECT_TRUE(table->SeekKey({"E002"}));
}

TEST_F(IndexSelectionTest, IndexByName) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt");
  table->SetIndexName("PROINDE3");
  table->OpenDataSet();
  EXPECT_EQ(Walk(table, "ID"), (std::vector<std::string>{"2", "3", "5", "7", "1"}));
  // The key columns come from the index's field list.
  EXPECT_TRUE(table->SeekKey({"E001", 5}));
  EXPECT_EQ(table->ColumnByName("CODE").ReadText(), "P2");
}

class MovingTest : public EmpProsFixture {};

TEST_F(MovingTest, NextOnTheLastRecordSetsTheEndAndKeepsTheRecord) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  for (int i = 0; i < 4; ++i) table->GoNext();
  EXPECT_FALSE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("EMP_CODE").ReadText(), "E10");
  table->GoNext();
  EXPECT_TRUE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("EMP_CODE").ReadText(), "E10");
  table->GoNext();
  EXPECT_TRUE(table->AtEof());
  table->GoFirst();
  EXPECT_FALSE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("ID").ReadText(), "3");
}

TEST_F(MovingTest, RecordsReadWithSomeColumnsStillGiveEveryColumnsStoredValue) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  // An SQL result reads whole rows and fills its records in part.
  TAdsQuery* query = NewQuery("Q");
  query->SetSqlText("select * from EMP_PROS");
  query->SetStreamed(true);
  for (TAdsDataSet* set : std::initializer_list<TAdsDataSet*>{table, query}) {
    set->OpenDataSet();
    const TField& salary = set->ColumnByName("SALARY");
    const TField& code = set->ColumnByName("CODE");
    auto walk = [&](bool narrowed) {
      if (narrowed) set->SetReadColumns({&salary});
      std::vector<std::string> seen;
      for (set->GoFirst(); !set->AtEof(); set->GoNext()) {
        seen.push_back(salary.ReadText());
        // A column the records are read without, then another set of
        // columns while the record read with the first stays current, then
        // none.
        if (seen.size() == 2) seen.push_back(code.ReadText());
        if (seen.size() == 4) {
          if (narrowed) set->SetReadColumns({&set->ColumnByName("ID")});
          seen.push_back(code.ReadText());
        }
        if (seen.size() == 6 && narrowed) set->SetReadColumns({});
        if (seen.size() >= 7) seen.push_back(set->ColumnByName("PROGRESSION_DATE").ReadText());
      }
      return seen;
    };
    const std::vector<std::string> whole = walk(false);
    EXPECT_EQ(walk(true), whole) << set->Name();
    if (set == table) {
      EXPECT_EQ(whole, (std::vector<std::string>{"1000", "1100", "P2", "1200", "P3", "900", "800", "01/02/2008"}));
    }
  }
}

TEST_F(MovingTest, GoLastStandsOnTheLastRecordAtTheEnd) {
  TAdsTable* table = NewTable("T", "EMP_PROS.adt", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  table->OpenDataSet();
  table->GoLast();
  EXPECT_TRUE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("EMP_CODE").ReadText(), "E10");
}

TEST_F(MovingTest, MemoOfTheLastRecordStillReadsAfterRunningPastTheEnd) {
  MakeTable("NOTES", "K INTEGER, NOTE MEMO", "INSERT INTO NOTES VALUES(1,'one');INSERT INTO NOTES VALUES(2,'two');");
  TAdsTable* table = NewTable("T", "NOTES.adt");
  table->OpenDataSet();
  table->GoNext();
  table->GoNext();
  ASSERT_TRUE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("K").ReadText(), "2");
  EXPECT_FALSE(table->ColumnByName("NOTE").IsEmpty());
  EXPECT_EQ(table->ColumnByName("NOTE").ReadText(), "two");
  EXPECT_TRUE(table->AtEof());
  table->GoNext();
  EXPECT_TRUE(table->AtEof());
  EXPECT_EQ(table->ColumnByName("NOTE").ReadText(), "two");
}

TEST_F(MovingTest, EmptyTableIsAtItsEndAndReadsEmpty) {
  MakeTable("EMPTYT", "C CHAR(5), D DATE, N NUMERIC(8,2)");
  TAdsTable* table = NewTable("T", "EMPTYT.adt");
  table->OpenDataSet();
  EXPECT_TRUE(table->AtEof());
  EXPECT_FALSE(table->HasCurrentRecord());
  EXPECT_EQ(table->ColumnByName("C").ReadText(), "");
  EXPECT_EQ(table->ColumnByName("D").ReadText(), "");
  EXPECT_EQ(table->ColumnByName("D").ReadDateTime(), 0);
  EXPECT_EQ(table->ColumnByName("N").ReadFloat(), 0);
  table->GoNext();
  table->GoLast();
  EXPECT_TRUE(table->AtEof());
}

}  // namespace

namespace {

class SealedTableTest : public EmpProsFixture {
 protected:
  void SetUp() override {
    EmpProsFixture::SetUp();
    ASSERT_TRUE(Succeeds(SealFile(folder_.File("EMP_PROS.adt"), "VARDE5816")));
  }
};

TEST_F(SealedTableTest, OpensWithoutRecordsButEveryReadWithoutThePasswordFailsNamingTheTable) {
  TAdsTable* table = NewTable("wwQueryEmpCareer", "EMP_PROS.adt", "EMP_CODE");
  table->OpenDataSet();
  EXPECT_TRUE(table->AtEof());
  EXPECT_FALSE(table->HasCurrentRecord());
  const std::pair<const char*, std::function<void()>> kReads[] = {
      {"GoFirst", [&] { table->GoFirst(); }},
      {"GoNext", [&] { table->GoNext(); }},
      {"GoLast", [&] { table->GoLast(); }},
      {"SeekKey", [&] { return table->SeekKey({"E001"}); }},
      {"LocateValue", [&] { return table->LocateValue("CODE", {LocateItem::Text("P1")}); }},
  };
  for (const auto& [name, read] : kReads) {
    SCOPED_TRACE(name);
    EXPECT_EQ(MessageOf<EADSDatabaseError>(read).find(
                  "wwQueryEmpCareer: Table EMP_PROS is sealed and was opened without its table password"),
              0u);
  }
  table->EnableEncryption("VARDE5816");
  EXPECT_EQ(Walk(table, "ID"), (std::vector<std::string>{"2", "5", "3", "7", "1"}));
}

// A run keeps the error that stopped it: while it is kept, a later read that
// fails is still raised (in the plain form), never passed over.
TEST_F(SealedTableTest, ReadFailureIsRaisedWhileAnEarlierErrorIsKept) {
  TAdsTable* table = NewTable("wwQueryEmpCareer", "EMP_PROS.adt", "EMP_CODE");
  table->OpenDataSet();
  std::exception_ptr kept;
  try {
    table->GoFirst();
  } catch (const EADSDatabaseError&) {
    kept = std::current_exception();
  }
  ASSERT_TRUE(kept != nullptr);
  EXPECT_EQ(MessageOf<EADSDatabaseError>([&] { table->GoNext(); })
                .find("Table EMP_PROS is sealed and was opened without its table password"),
            0u);
}

}  // namespace
