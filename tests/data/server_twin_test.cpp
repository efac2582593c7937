// A table on a PostgreSQL server reads exactly as the same table in a folder
// of free tables: the same rows walked, sought, located and filtered, and the
// same statement results, through the data layer; and a run's connection
// sees one snapshot, whatever the HR application commits meanwhile.
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "data_test_support.h"
#include "engine/result_stream.h"
#include "tests/engine/pg_test_support.h"
#include "util/date_time.h"

namespace {

using data_test::ExecOnFile;
using data_test::Form;
using data_test::ScratchFolder;

// Rows with mixed case, NULLs in every kind of column, a text key that is a
// prefix of another and a duplicate key; the same literals serve both sides.
constexpr char kRows[] =
    "INSERT INTO EMP VALUES ('E10','bob','1980-05-01',100.50,1,'first');"
    "INSERT INTO EMP VALUES ('e2','Alice',NULL,NULL,2,NULL);"
    "INSERT INTO EMP VALUES (NULL,'alice','1975-01-01',20,3,'');"
    "INSERT INTO EMP VALUES ('E1','',NULL,3.25,4,'a, \"quoted\" note');"
    "INSERT INTO EMP VALUES ('E2','Bob','1990-12-31',0,NULL,'x');"
    "INSERT INTO EMP VALUES ('e2',NULL,'1985-06-15',7,6,'last');";

class ServerTwinTest : public pg_test::PgFixture {
 protected:
  void SetUp() override {
    pg_test::PgFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ExecOnFile(folder_.File("EMP.adt"),
               "CREATE TABLE EMP (EMP_NO CHAR(6), NAME CHAR(20), BORN DATE, PAY NUMERIC(8,2), N INTEGER, NOTE VARCHAR(30));"
               "CREATE INDEX \"PRIMARY\" ON EMP(EMP_NO);"
               "CREATE INDEX BYNAME ON EMP(NAME, BORN);" +
                   std::string(kRows));
    Sql(std::string("CREATE TABLE emp (emp_no char(6), name char(20), born date, pay numeric(8,2), n integer, "
                    "note varchar(30), ") + pg_test::kOrderKey + ")");
    Sql("CREATE INDEX \"emp.PRIMARY\" ON emp(emp_no)");
    Sql("CREATE INDEX \"emp.BYNAME\" ON emp(name, born)");
    Sql(std::string("BEGIN;") + kRows + "COMMIT;");
    folder_connection_ = NewConnection("FolderConnection", folder_.Path());
    server_connection_ = NewConnection("ServerConnection", uri_);
  }

  TAdsConnection* NewConnection(const std::string& name, const std::string& path) {
    auto* connection = new TAdsConnection(form_.get(), name);
    connection->SetConnectPath(path);
    connection->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
    connection->SetLoginPrompt(false);
    return connection;
  }

  TAdsTable* NewTable(TAdsConnection* connection, const std::string& table_name) {
    auto* table = new TAdsTable(form_.get(), connection->Name() + "Table" + std::to_string(++components_));
    table->SetDatabaseName(connection->Name());
    table->SetTableName(table_name);
    return table;
  }

  TAdsQuery* NewQuery(TAdsConnection* connection, const std::string& sql) {
    auto* query = new TAdsQuery(form_.get(), connection->Name() + "Query" + std::to_string(++components_));
    query->SetDatabaseName(connection->Name());
    query->SetSqlText(sql);
    return query;
  }

  static std::string Row(TAdsDataSet& ds) {
    if (!ds.HasCurrentRecord()) return "<none>";
    std::string row;
    for (const TField& field : ds.Fields()) row += ds.ColumnByName(field.Name()).ReadText() + "|";
    return row;
  }

  static std::string Walk(TAdsDataSet& ds) {
    std::string rows;
    for (ds.GoFirst(); !ds.AtEof(); ds.GoNext()) rows += Row(ds) + "\n";
    return rows;
  }

  // Everything the exports do with a table and a statement, as text.
  std::string Exercise(TAdsConnection* connection) {
    std::string log;
    TAdsTable& t = *NewTable(connection, "EMP.adt");
    t.OpenDataSet();
    log += "natural\n" + Walk(t);
    for (const char* order : {"EMP_NO", "NAME;BORN"}) {
      t.SetIndexFieldNames(order);
      log += std::string("order ") + order + "\n" + Walk(t);
    }
    // Each step, then the row it leaves current.
    auto step = [&](const std::string& what, bool found) {
      log += what + (found ? " found " : " missed ") + Row(t) + "\n";
    };
    t.SetIndexFieldNames("EMP_NO");
    for (const char* key : {"e2", "E2", "E1", "", "E3", "E"}) {
      step(std::string("seek '") + key + "'", t.SeekKey({key}));
      t.GoNext();
      log += "then " + Row(t) + "\n";
    }
    t.SetIndexFieldNames("NAME;BORN");
    for (const char* key : {"alice", "Alice", "bob", "", "Zed"}) {
      step(std::string("seek name '") + key + "'", t.SeekKey({key}));
    }
    step("seek name and day", t.SeekKey({"bob", EncodeDate(1980, 5, 1)}));
    LocateOptions insensitive;
    insensitive.case_insensitive = true;
    step("locate ALICE", t.LocateValue("NAME", {LocateItem::Text("ALICE")}, insensitive));
    LocateItem pay;
    pay.type = LocateItem::Type::Number;
    pay.number = 7;
    step("locate PAY 7", t.LocateValue("PAY", {pay}));
    step("locate empty PAY", t.LocateValue("PAY", {LocateItem{}}));
    t.GoLast();
    log += "last " + Row(t) + "\n";

    TAdsQuery& q = *NewQuery(connection, "select n, name, born from emp where born >= :day or born = :noon order by pay");
    q.ParamNamed("day").BindDate(EncodeDate(1985, 6, 15));
    q.ParamNamed("noon").BindDateTime(EncodeDate(1975, 1, 1) + 0.5);  // compared by calendar day
    q.OpenDataSet();
    log += "query\n" + Walk(q);
    return log;
  }

  ScratchFolder folder_;
  std::unique_ptr<Form> form_ = std::make_unique<Form>();
  TAdsConnection* folder_connection_ = nullptr;
  TAdsConnection* server_connection_ = nullptr;
  int components_ = 0;
};

TEST_F(ServerTwinTest, AServerTableReadsAsTheSameTableInAFolder) {
  const std::string folder = Exercise(folder_connection_);
  const std::string server = Exercise(server_connection_);
  EXPECT_EQ(server, folder) << "server:\n" << server;
  // And both read what the rows say: NULL keys first as empty, exact case.
  EXPECT_NE(folder.find("order EMP_NO\n|alice|01/01/1975|20|3||\n"), std::string::npos) << folder;
  EXPECT_NE(folder.find("seek 'e2' found e2|Alice|"), std::string::npos) << folder;
  EXPECT_NE(folder.find("seek 'E3' missed"), std::string::npos) << folder;
  EXPECT_NE(folder.find("query\n|Bob|31/12/1990|\n6||15/06/1985|\n3|alice|01/01/1975|\n"), std::string::npos) << folder;
  EXPECT_NE(folder.find("last E10|bob|"), std::string::npos) << folder;
}

TEST_F(ServerTwinTest, AStreamedStatementReadsAsTheStoredOneInWindowsOfAnySize) {
  // NULLs sort first on table files, ascending: the server's statement says so.
  const char* texts[] = {"select * from emp", "select n, name from emp where born >= :day or born is null order by pay",
                         "select n, name from emp order by n desc, name"};
  for (const char* text : texts) {
    const bool dated = std::string(text).find(":day") != std::string::npos;
    TAdsQuery& stored = *NewQuery(folder_connection_, text);
    if (dated) stored.ParamNamed("day").BindDate(EncodeDate(1980, 5, 1));
    stored.OpenDataSet();
    const std::string expected = Walk(stored);
    for (const size_t window : {1, 2, 5000}) {
      engine::SetStreamWindowRowsForTest(window);
      TAdsQuery& streamed = *NewQuery(server_connection_, text);
      streamed.SetStreamed(true);
      if (dated) streamed.ParamNamed("day").BindDate(EncodeDate(1980, 5, 1));
      streamed.OpenDataSet();
      EXPECT_EQ(Walk(streamed), expected) << text << ", window " << window;
      EXPECT_EQ(Walk(streamed), expected) << "read again: " << text << ", window " << window;
    }
  }
  engine::SetStreamWindowRowsForTest(0);
}

TEST_F(ServerTwinTest, QueuedOpensGiveEachOpenTheRowsOfItsOwnValues) {
  // Queued in one order, opened in another, with a value opened twice and
  // one never queued; only the server keeps queued opens.
  auto opens = [&](TAdsConnection* connection, bool queue, bool* kept) {
    TAdsQuery& q = *NewQuery(connection, "select n, name from emp where emp_no = :no");
    *kept = false;
    for (const char* no : {"e2", "E1", "E10", "none"}) {
      q.ParamNamed("no").BindText(no);
      if (queue) *kept = q.QueueOpen() || *kept;
    }
    std::string log;
    for (const char* no : {"E10", "e2", "X", "e2", "E1"}) {
      q.CloseDataSet();
      q.ParamNamed("no").BindText(no);
      q.OpenDataSet();
      log += std::string(no) + ":\n" + Walk(q);
    }
    return log;
  };
  bool kept = false;
  const std::string folder = opens(folder_connection_, true, &kept);
  EXPECT_FALSE(kept);
  EXPECT_EQ(opens(server_connection_, true, &kept), folder);
  EXPECT_TRUE(kept);
  EXPECT_NE(folder.find("e2:\n2|Alice|\n6||\n"), std::string::npos) << folder;

  // A value the server refuses fails only its own open.
  TAdsQuery& q = *NewQuery(server_connection_, "select name from emp where n = :n");
  for (const char* n : {"1", "not a number", "2"}) {
    q.ParamNamed("n").BindText(n);
    ASSERT_TRUE(q.QueueOpen());
  }
  q.ParamNamed("n").BindText("2");
  q.OpenDataSet();
  EXPECT_EQ(Walk(q), "Alice|\n");
  q.CloseDataSet();
  q.ParamNamed("n").BindText("not a number");
  EXPECT_THROW(q.OpenDataSet(), EADSDatabaseError);
}

TEST_F(ServerTwinTest, StreamedStatementsReadInTurnWithOtherRequestsBetweenTheirWindows) {
  // Windows of 2 rows: each read of a window leaves the next one's request
  // unanswered while the other statement and a stored one ask in between.
  auto interleaved = [&](TAdsConnection* connection) {
    TAdsQuery& a = *NewQuery(connection, "select emp_no, n from emp");
    TAdsQuery& b = *NewQuery(connection, "select name from emp order by n desc");
    TAdsQuery& one = *NewQuery(connection, "select count(*) from emp where emp_no = :no");
    for (TAdsQuery* q : {&a, &b}) {
      q->SetStreamed(true);
      q->OpenDataSet();
    }
    std::string log;
    while (!a.AtEof() || !b.AtEof()) {
      for (TAdsQuery* q : {&a, &b}) {
        if (q->AtEof()) continue;
        log += Row(*q) + " ";
        one.CloseDataSet();
        one.ParamNamed("no").BindText(q->ColumnByName(q->Fields()[0].Name()).ReadText());
        one.OpenDataSet();
        log += Row(one) + "\n";
        q->GoNext();
      }
    }
    return log;
  };
  const std::string folder = interleaved(folder_connection_);
  engine::SetStreamWindowRowsForTest(2);
  EXPECT_EQ(interleaved(server_connection_), folder);
  engine::SetStreamWindowRowsForTest(0);
}

TEST_F(ServerTwinTest, ARunSeesTheSnapshotOfItsConnectionWhateverIsCommittedMeanwhile) {
  Sql(std::string("CREATE TABLE leav (emp_no char(6), days integer, ") + pg_test::kOrderKey + ")");
  Sql("INSERT INTO leav VALUES ('E10', 2)");
  TAdsTable& emp = *NewTable(server_connection_, "EMP.adt");
  emp.OpenDataSet();  // the run's snapshot is taken here
  const std::string before = Walk(emp);

  // The HR application edits both tables and commits, during the run.
  Sql("INSERT INTO emp VALUES ('E99','Zed','2000-01-01',1,99,'')");
  Sql("UPDATE emp SET name = 'Bobby' WHERE n = 1");
  Sql("INSERT INTO leav VALUES ('E99', 5)");

  emp.CloseDataSet();
  emp.OpenDataSet();
  EXPECT_EQ(Walk(emp), before);
  TAdsTable& leav = *NewTable(server_connection_, "LEAV");  // first opened after the edit
  leav.OpenDataSet();
  EXPECT_EQ(Walk(leav), "E10|2|\n");
  TAdsQuery& q = *NewQuery(server_connection_, "select count(*) as c, max(name) as m from emp where n = 1 or n = 99");
  q.OpenDataSet();
  EXPECT_EQ(Row(q), "1|bob|");

  // A new connection (the next run) sees the edit.
  TAdsConnection* next = NewConnection("NextRun", uri_);
  TAdsQuery& later = *NewQuery(next, "select count(*) as c, max(name) as m from emp where n = 1 or n = 99");
  later.OpenDataSet();
  EXPECT_EQ(Row(later), "2|Zed|");
}

TEST_F(ServerTwinTest, RowsUpdatedWithoutChangeKeepTheirPlaceInTheNaturalOrder) {
  // On the server an UPDATE moves a row whatever it changes: here the first
  // of the two 'e2' rows, which a seek of 'e2' finds.
  Sql("UPDATE emp SET name = name WHERE n IN (1, 2, 4)");
  EXPECT_EQ(Exercise(server_connection_), Exercise(folder_connection_));
}

TEST_F(ServerTwinTest, StatementsFindTablesAndColumnsInAnyLetterCase) {
  Sql("ALTER TABLE emp RENAME TO \"EMP\"");
  Sql("ALTER TABLE \"EMP\" RENAME COLUMN name TO \"NAME\"");
  for (const char* text : {"select n, NAME from emp where name = 'bob'", "select N, name from EMP where NAME = 'bob'",
                           "select e.n, e.Name from Emp e where e.NAME = 'bob'",
                           "select \"EMP\".n, \"NAME\" from \"EMP\" where emp.name = 'bob'"}) {
    TAdsQuery& server = *NewQuery(server_connection_, text);
    server.OpenDataSet();
    EXPECT_EQ(Walk(server), "1|bob|\n") << text;
    TAdsQuery& folder = *NewQuery(folder_connection_, text);
    folder.OpenDataSet();
    EXPECT_EQ(Walk(folder), Walk(server)) << text;
  }
}

TEST_F(ServerTwinTest, ACharacterColumnHoldsItsWholeValueHoweverManyBytesItTakes) {
  // 12 characters, 22 bytes in UTF8: a char(20) holds them.
  std::string name = "ab";
  for (int i = 0; i < 10; ++i) name += "\xC3\xA9";
  Sql("UPDATE emp SET name = '" + name + "' WHERE n = 1");
  TAdsTable& table = *NewTable(server_connection_, "EMP");
  table.OpenDataSet();
  TAdsQuery& query = *NewQuery(server_connection_, "select n, name from emp order by n");
  query.OpenDataSet();
  for (TAdsDataSet* read : {static_cast<TAdsDataSet*>(&table), static_cast<TAdsDataSet*>(&query)}) {
    while (!read->AtEof() && read->ColumnByName("N").ReadText() != "1") read->GoNext();
    EXPECT_EQ(read->ColumnByName("NAME").ReadText(), name) << read->Name();
  }
}

TEST_F(ServerTwinTest, DisconnectingEndsTheSessionAtOnceEvenWhenTheServerDoesNotAnswer) {
  // A run that stops disconnects before its message waits: the session,
  // its snapshot and its locks must be gone then, whatever the server does.
  for (const bool frozen : {false, true}) {
    TAdsConnection* connection = NewConnection(frozen ? "Frozen" : "Answering", uri_);
    TAdsQuery& failing = *NewQuery(connection, "select no_such_column from emp");
    EXPECT_THROW(failing.OpenDataSet(), std::exception);
    const int pid = EngineBackend();
    ASSERT_NE(pid, 0);
    if (frozen) kill(pid, SIGSTOP);
    EXPECT_TRUE(pg_test::ReturnsWithin(std::chrono::seconds(2), pid, [&] { connection->SetIsConnected(false); }))
        << frozen;
    kill(pid, SIGCONT);
    EXPECT_TRUE(Ended(pid)) << frozen;
  }
}

}  // namespace
