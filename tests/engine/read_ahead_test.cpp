// Rows read ahead by seeks and walks: a walk after a seek continues in key
// order through and past the rows read with the seek; a table over a file
// sees what a writer changed between two calls and never keeps it waiting;
// a table over a private in-memory image (a sealed table) returns to rows it
// has already read, after other seeks, misses and filters, with the same
// records as a first read.
#include "engine/sealed_file.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/status_assertions.h"

namespace {

// T(K CHAR(4), N INTEGER), index KN on (K, N): 'A' 3 rows, 'B' 40 rows (more
// than one seek reads ahead), 'C' 1 row, 'D' 2 rows; inserted out of order.
constexpr const char* kRows =
    "CREATE TABLE T(K CHAR(4), N INTEGER); CREATE INDEX KN ON T(K, N);"
    "INSERT INTO T VALUES('D', 2), ('C', 1), ('A', 3), ('D', 1), ('A', 1), ('A', 2);"
    "WITH RECURSIVE n(i) AS (SELECT 40 UNION ALL SELECT i - 1 FROM n WHERE i > 1)"
    " INSERT INTO T SELECT 'B', i FROM n;";

class ReadAheadTest : public EngineFixture {
 protected:
  void OpenTable() {
    table_ = Open("t");
    ASSERT_NE(table_, 0u) << LastText();
    kn_ = Index(table_, "KN");
  }

  // "K:N" of the current record, cut out of the raw record.
  std::string Row() {
    std::vector<uint8_t> record = Record(table_);
    std::vector<uint8_t> k = FieldBytes(table_, record, 1);
    std::vector<uint8_t> n = FieldBytes(table_, record, 2);
    std::string key(k.begin(), k.end());
    key.erase(key.find_last_not_of(std::string(" \0", 2)) + 1);
    int32_t number = 0;
    std::memcpy(&number, n.data(), 4);
    return key + ":" + std::to_string(number);
  }

  // Exact (type 2) or nearest (type 1) seek of a one-character key.
  bool Seek(const std::string& key, UNSIGNED16 type = 2) {
    std::vector<uint8_t> bytes(4, ' ');
    std::memcpy(bytes.data(), key.data(), key.size());
    UNSIGNED16 found = 0;
    EXPECT_EQ(AdsSeek(kn_, bytes.data(), 4, 1, type, &found), 0u) << LastText();
    return found != 0;
  }

  // Up to `count` records from the current one on, moving by `step`.
  std::vector<std::string> Rows(int count, SIGNED32 step = 1) {
    std::vector<std::string> seen;
    while (static_cast<int>(seen.size()) < count && !Eof(table_) && !Bof(table_)) {
      seen.push_back(Row());
      EXPECT_EQ(AdsSkip(kn_, step), 0u) << LastText();
    }
    return seen;
  }

  static std::vector<std::string> Expected(const std::string& from) {
    std::vector<std::string> all = {"A:1", "A:2", "A:3"};
    for (int i = 1; i <= 40; ++i) all.push_back("B:" + std::to_string(i));
    for (const char* row : {"C:1", "D:1", "D:2"}) all.push_back(row);
    size_t start = 0;
    while (start < all.size() && all[start] != from) ++start;
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(start), all.end());
  }

  ADSHANDLE table_ = 0;
  ADSHANDLE kn_ = 0;
};

class FileReadAheadTest : public ReadAheadTest {
 protected:
  void SetUp() override {
    ReadAheadTest::SetUp();
    MakeDb("t.adt", kRows);
    OpenTable();
  }
};

TEST_F(FileReadAheadTest, AWalkAfterASeekGoesOnInKeyOrderPastTheRowsReadWithIt) {
  ASSERT_TRUE(Seek("B"));
  EXPECT_EQ(Rows(100), Expected("B:1"));
  EXPECT_TRUE(Eof(table_));
  ASSERT_TRUE(Seek("C"));
  EXPECT_EQ(Rows(3, -1), (std::vector<std::string>{"C:1", "B:40", "B:39"}));
  ASSERT_TRUE(Seek("A"));
  ASSERT_EQ(AdsSkip(kn_, -1), 0u);
  EXPECT_TRUE(Bof(table_));
  EXPECT_FALSE(Seek("BB"));
  EXPECT_TRUE(Eof(table_));
  EXPECT_FALSE(Seek("BB", 1));
  EXPECT_EQ(Rows(2), (std::vector<std::string>{"C:1", "D:1"}));
}

TEST_F(FileReadAheadTest, ASeekSeesWhatAWriterChangedSinceTheLastSeekOfTheSameKey) {
  ASSERT_TRUE(Seek("C"));
  EXPECT_EQ(Rows(2), (std::vector<std::string>{"C:1", "D:1"}));
  MakeDb("t.adt", "INSERT INTO T VALUES('C', 0); UPDATE T SET N = 7 WHERE K = 'D' AND N = 1;");
  ASSERT_TRUE(Seek("C"));
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"C:0", "C:1", "D:2"}));
  MakeDb("t.adt", "INSERT INTO T VALUES('0', 0);");
  ASSERT_EQ(AdsGotoTop(kn_), 0u);
  EXPECT_EQ(Row(), "0:0");
}

TEST_F(FileReadAheadTest, NoSeekOrReturnToARecordLeavesAWriterWaiting) {
  ASSERT_TRUE(Seek("B"));
  ASSERT_EQ(AdsSkip(kn_, 5), 0u);
  UNSIGNED32 bookmark = 0;
  ASSERT_EQ(AdsGetBookmark(kn_, &bookmark), 0u);
  EXPECT_FALSE(Seek("BB"));
  ASSERT_EQ(AdsGotoBookmark(kn_, bookmark), 0u) << LastText();
  EXPECT_EQ(Row(), "B:6");
  // The writer has no busy timeout: any lock held by the reader fails it at once.
  MakeDb("t.adt", "UPDATE T SET N = 70 WHERE K = 'B' AND N = 7;");
  ASSERT_EQ(AdsSkip(kn_, 1), 0u);
  EXPECT_EQ(Row(), "B:8");
}

TEST_F(FileReadAheadTest, KeysSoughtInOrderFindTheFirstRowOfEachAndMissTheAbsentOnes) {
  ASSERT_TRUE(Seek("A"));
  EXPECT_EQ(Row(), "A:1");
  ASSERT_TRUE(Seek("B"));
  EXPECT_EQ(Row(), "B:1");
  ASSERT_TRUE(Seek("B"));
  EXPECT_EQ(Row(), "B:1");
  ASSERT_TRUE(Seek("C"));
  EXPECT_EQ(Row(), "C:1");
  EXPECT_FALSE(Seek("CC"));
  EXPECT_TRUE(Eof(table_));
  ASSERT_TRUE(Seek("C"));
  ASSERT_TRUE(Seek("D"));
  EXPECT_EQ(Rows(5), (std::vector<std::string>{"D:1", "D:2"}));
  ASSERT_TRUE(Seek("A"));
  EXPECT_FALSE(Seek("AA"));
  ASSERT_TRUE(Seek("A"));
  EXPECT_TRUE(Seek("B", 1));
  EXPECT_EQ(Rows(45), Expected("B:1"));
}

// The same rows in a sealed table: its decrypted image is private to the
// engine, so rows read once are served again.
class FixedRowsReadAheadTest : public ReadAheadTest {
 protected:
  void SetUp() override {
    ReadAheadTest::SetUp();
    MakeDb("t.adt", kRows);
    ASSERT_TRUE(Succeeds(SealFile(Path("t.adt"), "VARDE5816")));
    OpenTable();
    ASSERT_EQ(AdsEnableEncryption(table_, "VARDE5816"), 0u) << LastText();
  }
};

TEST_F(FixedRowsReadAheadTest, SeekingAKeyAgainAfterOtherSeeksGivesTheSameRows) {
  ASSERT_TRUE(Seek("B"));
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"B:1", "B:2", "B:3"}));
  ASSERT_TRUE(Seek("A"));
  EXPECT_EQ(Rows(4), (std::vector<std::string>{"A:1", "A:2", "A:3", "B:1"}));
  EXPECT_FALSE(Seek("AB"));
  ASSERT_TRUE(Seek("D"));
  ASSERT_TRUE(Seek("C"));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Seek("B"));
    EXPECT_EQ(Rows(100), Expected("B:1"));
    ASSERT_TRUE(Seek("A"));
    EXPECT_EQ(Rows(3), (std::vector<std::string>{"A:1", "A:2", "A:3"}));
  }
  EXPECT_FALSE(Seek("BB"));
  EXPECT_FALSE(Seek("BB"));
  EXPECT_TRUE(Eof(table_));
  EXPECT_FALSE(Seek("BB", 1));
  EXPECT_EQ(Row(), "C:1");
  ASSERT_TRUE(Seek("B"));
  EXPECT_EQ(Rows(2, -1), (std::vector<std::string>{"B:1", "A:3"}));
}

TEST_F(FixedRowsReadAheadTest, EveryWalkFromTheTopSeesEveryRecord) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(AdsGotoTop(kn_), 0u);
    EXPECT_EQ(Rows(100), Expected("A:1")) << "round " << round;
    ASSERT_TRUE(Seek("C"));
  }
  ASSERT_EQ(AdsGotoTop(kn_), 0u);
  EXPECT_EQ(Rows(4), (std::vector<std::string>{"A:1", "A:2", "A:3", "B:1"}));
  ASSERT_EQ(AdsGotoTop(kn_), 0u);
  EXPECT_EQ(Row(), "A:1");
}

TEST_F(FixedRowsReadAheadTest, ReturningToARecordAfterAMissedSeekStandsOnItInTheTablesOrder) {
  ASSERT_TRUE(Seek("B"));
  ASSERT_EQ(AdsSkip(kn_, 2), 0u);
  EXPECT_EQ(Row(), "B:3");
  UNSIGNED32 record = 0;
  ASSERT_EQ(AdsGetRecordNum(table_, &record), 0u);
  EXPECT_FALSE(Seek("BB"));
  // As the data layer returns after a miss: in the natural order (rowid).
  ASSERT_EQ(AdsGotoRecord(table_, record), 0u) << LastText();
  EXPECT_EQ(Row(), "B:3");
  std::vector<std::string> natural;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(AdsSkip(table_, 1), 0u);
    natural.push_back(Row());
  }
  // Rows 'B' were inserted from N = 40 down: the next rowids hold 2, 1, then EOF.
  EXPECT_EQ(natural[0], "B:2");
  EXPECT_EQ(natural[1], "B:1");
  EXPECT_TRUE(Eof(table_));
  // In an index order the walk goes on in that order.
  EXPECT_FALSE(Seek("BB"));
  ASSERT_EQ(AdsGotoBookmark(kn_, record), 0u) << LastText();
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"B:3", "B:4", "B:5"}));
  ASSERT_TRUE(Seek("B"));
  EXPECT_EQ(Row(), "B:1");
}

TEST_F(FixedRowsReadAheadTest, AFilterSetAfterAWalkIsObeyedByTheNextWalk) {
  ASSERT_EQ(AdsGotoTop(kn_), 0u);
  EXPECT_EQ(Rows(100).size(), 46u);
  ASSERT_TRUE(Seek("A"));
  ASSERT_EQ(AdsSetAOF(table_, "(K=\"D\") .OR. (N=2)", 2), 0u) << LastText();
  ASSERT_TRUE(Seek("A"));
  EXPECT_EQ(Row(), "A:2");
  ASSERT_EQ(AdsGotoTop(kn_), 0u);
  EXPECT_EQ(Rows(100), (std::vector<std::string>{"A:2", "B:2", "D:1", "D:2"}));
  ASSERT_TRUE(Seek("D"));
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"D:1", "D:2"}));
  ASSERT_EQ(AdsClearAOF(table_), 0u);
  ASSERT_TRUE(Seek("C"));
  EXPECT_EQ(Rows(3), (std::vector<std::string>{"C:1", "D:1", "D:2"}));
  ASSERT_EQ(AdsGotoTop(kn_), 0u);
  EXPECT_EQ(Rows(100).size(), 46u);
}

}  // namespace
