// The engine only reads: opening, walking, seeking and running statements on
// a database leaves every file of its folder as it was (rollback and WAL
// mode, plain, sealed and dictionary databases, writable and read-only
// folders) and holds no file open for writing; a file another program left
// in the middle of a write is refused, not rolled back; a damaged file fails
// the read naming it.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "engine/accounts.h"
#include "engine/sealed_file.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/sql_test_support.h"
#include "tests/support/status_assertions.h"

namespace {

namespace fs = std::filesystem;
using kdx_test::ReadBytes;
using kdx_test::WriteBytes;

constexpr char kPassword[] = "VARDE5816";

// Every file of `dir` with its contents; a -shm only by name (SQLite readers
// write into it).
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const bool shm = name.size() > 4 && name.compare(name.size() - 4, 4, "-shm") == 0;
    files[name] = shm ? "" : ReadBytes(entry.path().string());
  }
  return files;
}

// The descriptors of this process open for writing on a file under `dir`
// (but a -shm, in which readers take their locks).
std::string WritableDescriptors(const std::string& dir) {
  std::string found;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = fs::read_symlink(entry.path(), ec).string();
    if (ec || target.rfind(dir + "/", 0) != 0 || target.compare(target.size() - 4, 4, "-shm") == 0) continue;
    const std::string info = ReadBytes("/proc/self/fdinfo/" + entry.path().filename().string());
    const size_t at = info.find("flags:");
    if (at == std::string::npos) continue;
    const long flags = std::strtol(info.c_str() + at + 6, nullptr, 8);
    if ((flags & O_ACCMODE) != O_RDONLY) found += target + " ";
  }
  return found;
}

bool WriteText(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Makes `dir` read-only for this process (which must be a child of its
// own): a read-only bind mount in a mount namespace of its own, since root
// writes through any permission bits. A user namespace stands in where the
// process may not make a mount namespace directly.
bool MakeFolderReadOnly(const std::string& dir, std::string* why) {
  if (::unshare(CLONE_NEWNS) != 0) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
      *why = std::string("no mount namespace: ") + std::strerror(errno);
      return false;
    }
    WriteText("/proc/self/setgroups", "deny");
    WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    *why = std::string("no read-only bind mount: ") + std::strerror(errno);
    return false;
  }
  const int fd = ::open((dir + "/probe").c_str(), O_CREAT | O_WRONLY, 0600);
  if (fd >= 0) {
    ::close(fd);
    *why = "the folder is still writable";
    return false;
  }
  return true;
}

// Runs `body` in a child process that sees `dir` read-only; its result, or
// "skip: <why>" when the folder cannot be made read-only here. The child is
// killed after a minute, so that nothing waits for ever.
std::string InReadOnlyFolder(const std::string& dir, const std::function<std::string()>& body) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    ::alarm(60);
    std::string why;
    const std::string out = MakeFolderReadOnly(dir, &why) ? body() : "skip: " + why;
    if (::write(pipe_fds[1], out.data(), out.size()) < 0) _exit(2);
    _exit(0);
  }
  ::close(pipe_fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? out : "the child died";
}

enum class Kind { kPlain, kSealed, kDictionary };
enum class Journal { kRollback, kWal, kWalWithLog };

class ReadOnlyTest : public EngineFixture {
 protected:
  // Writes a table T (ID 1 to 5, index T_ID) as `kind` in `journal` mode.
  // With kWalWithLog rows 4 and 5 are committed in the log only.
  void MakeDatabase(Kind kind, Journal journal) {
    kind_ = kind;
    const std::string file = Path(kind == Kind::kDictionary ? "HR.add" : "T.adt");
    if (kind == Kind::kDictionary) {
      ASSERT_TRUE(Succeeds(CreateDictionary(file)));
      ASSERT_TRUE(Succeeds(AddDictionaryUser(file, "USER", kPassword)));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    auto exec = [&](const std::string& sql) {
      ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    };
    if (journal != Journal::kRollback) exec("PRAGMA journal_mode=WAL");
    exec("CREATE TABLE T(ID INTEGER, NAME CHAR(10)); CREATE INDEX T_ID ON T(ID);"
         "INSERT INTO T VALUES(3,'c'),(1,'a'),(2,'b')");
    if (journal == Journal::kWalWithLog) exec("PRAGMA wal_checkpoint(TRUNCATE)");
    exec("INSERT INTO T VALUES(5,'e'),(4,'d')");
    if (journal == Journal::kWalWithLog) {
      // The writer goes without folding its log into the file.
      sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    sqlite3_close(db);
    ASSERT_EQ(fs::exists(file + "-wal"), journal == Journal::kWalWithLog);
    if (kind == Kind::kSealed) {
      ASSERT_TRUE(Succeeds(SealFile(file, kPassword)));
    }
  }

  // Connects, opens T, walks it, seeks ID 4, runs a statement on it and
  // closes everything; the IDs walked, sought and selected, or what failed.
  std::string Exercise() {
    const bool dictionary = kind_ == Kind::kDictionary;
    ADSHANDLE connection = 0, table = 0, statement = 0, cursor = 0;
    const std::string path = dictionary ? Path("HR.add") : dir_;
    if (AdsConnect60(path, ADS_LOCAL_SERVER, dictionary ? "USER" : "", kPassword, 0, &connection) != 0 ||
        AdsOpenTable(connection, "T", "", 3, 1, 1, 2, 0, &table) != 0 ||
        (kind_ == Kind::kSealed && AdsEnableEncryption(table, kPassword) != 0)) {
      return LastText();
    }
    ADSHANDLE index = 0;
    std::string seen;
    UNSIGNED16 found = 0, eof = 0;
    const int32_t four = 4;
    uint8_t key[ADS_MAX_KEY_LENGTH];
    UNSIGNED16 length = sizeof key;
    if (AdsGetIndexHandle(table, "T_ID", &index) != 0 || AdsGotoTop(index) != 0) return LastText();
    while (AdsAtEOF(table, &eof) == 0 && !eof && seen.size() < 100) {
      seen += Text(table, "ID");
      if (AdsSkip(index, 1) != 0) return LastText();
    }
    if (AdsInitRawKey(index) != 0 || AdsSetField(index, "ID", reinterpret_cast<const uint8_t*>(&four), 4) != 0 ||
        AdsBuildRawKey(index, key, &length) != 0 || AdsSeek(index, key, length, 1, 2, &found) != 0 || !found) {
      return LastText();
    }
    seen += " " + Text(table, "ID") + " ";
    if (AdsCreateSQLStatement(connection, &statement) != 0 ||
        (kind_ == Kind::kSealed && AdsStmtSetTablePassword(statement, "T", kPassword) != 0) ||
        AdsPrepareSQL(statement, "select ID from T where ID >= :low order by ID desc") != 0 ||
        AdsSetString(statement, 1, "2") != 0 || AdsExecuteSQL(statement, &cursor) != 0 || AdsGotoTop(cursor) != 0) {
      return LastText();
    }
    while (AdsAtEOF(cursor, &eof) == 0 && !eof && seen.size() < 100) {
      seen += Text(cursor, "ID");
      if (AdsSkip(cursor, 1) != 0) return LastText();
    }
    const std::string writable = WritableDescriptors(dir_);
    if (!writable.empty()) seen += " open for writing: " + writable;
    EXPECT_EQ(AdsCloseTable(cursor), 0u) << LastText();
    EXPECT_EQ(AdsCloseSQLStatement(statement), 0u) << LastText();
    EXPECT_EQ(AdsCloseTable(table), 0u) << LastText();
    EXPECT_EQ(AdsDisconnect(connection), 0u) << LastText();
    return seen;
  }

  Kind kind_ = Kind::kPlain;
};

TEST_F(ReadOnlyTest, ReadingChangesNoFileAndOpensNoneForWriting) {
  const struct {
    const char* name;
    Kind kind;
    Journal journal;
    bool read_only_folder;
  } kCases[] = {
      {"plain, rollback", Kind::kPlain, Journal::kRollback, false},
      {"plain, WAL", Kind::kPlain, Journal::kWal, false},
      {"plain, WAL with a log", Kind::kPlain, Journal::kWalWithLog, false},
      {"sealed", Kind::kSealed, Journal::kRollback, false},
      {"dictionary, rollback", Kind::kDictionary, Journal::kRollback, false},
      {"dictionary, WAL with a log", Kind::kDictionary, Journal::kWalWithLog, false},
      {"read-only folder, rollback", Kind::kPlain, Journal::kRollback, true},
      {"read-only folder, WAL", Kind::kPlain, Journal::kWal, true},
      {"read-only folder, WAL with a log", Kind::kPlain, Journal::kWalWithLog, true},
      {"read-only folder, dictionary in WAL", Kind::kDictionary, Journal::kWal, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    MakeDatabase(c.kind, c.journal);
    const auto before = Snapshot(dir_);
    const std::string seen = c.read_only_folder ? InReadOnlyFolder(dir_, [&] { return Exercise(); }) : Exercise();
    if (seen.rfind("skip: ", 0) == 0) GTEST_SKIP() << seen;
    EXPECT_EQ(seen, "12345 4 5432");
    EXPECT_EQ(Snapshot(dir_), before);
  }
}

class JournalTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeDb("T.adt", "CREATE TABLE T(ID INTEGER); INSERT INTO T VALUES(1),(2)");
    ASSERT_TRUE(Succeeds(CreateDictionary(Path("HR.add"))));
    ASSERT_TRUE(Succeeds(AddDictionaryUser(Path("HR.add"), "USER", kPassword)));
  }
  void TearDown() override {
    sqlite3_close(writer_);
    EngineFixture::TearDown();
  }
  // Starts deleting row 1 of T.adt; the write stays under way until the
  // writer closes.
  void StartWrite(const char* pragmas = "") {
    ASSERT_EQ(sqlite3_open(Path("T.adt").c_str(), &writer_), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer_, (std::string(pragmas) + "BEGIN IMMEDIATE; DELETE FROM T WHERE ID = 1").c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(fs::exists(Path("T.adt-journal")));
  }
  // Leaves T.adt as a program that crashed in the middle of a write leaves
  // it: the file and its journal copied while the write is under way.
  void MakeHotJournal() {
    // Unsynced, the journal carries its header from the first write on.
    StartWrite("PRAGMA synchronous=OFF;");
    const std::string file = ReadBytes(Path("T.adt")), journal = ReadBytes(Path("T.adt-journal"));
    sqlite3_close(writer_);
    writer_ = nullptr;
    WriteBytes(Path("T.adt"), file);
    WriteBytes(Path("T.adt-journal"), journal);
  }
  // Connects to `path` and reads T: through a statement on a folder, as a
  // free table beside a dictionary. The IDs read, or what failed.
  std::string ConnectAndRead(const std::string& path, UNSIGNED32* code) {
    ADSHANDLE connection = 0, statement = 0, cursor = 0;
    *code = AdsConnect60(path, ADS_LOCAL_SERVER, "USER", kPassword, 0, &connection);
    std::string ids;
    const bool read = *code == 0 && (path == dir_ ? AdsCreateSQLStatement(connection, &statement) == 0 &&
                                                        AdsPrepareSQL(statement, "select ID from T order by ID") == 0 &&
                                                        AdsExecuteSQL(statement, &cursor) == 0
                                                  : AdsOpenTable(connection, Path("T.adt"), "", 3, 1, 1, 2, 0,
                                                                 &cursor) == 0);
    if (read && AdsGotoTop(cursor) == 0) {
      for (UNSIGNED16 eof = 0; AdsAtEOF(cursor, &eof) == 0 && !eof && ids.size() < 10;) {
        ids += Text(cursor, "ID");
        EXPECT_EQ(AdsSkip(cursor, 1), 0u) << LastText();
      }
    }
    const std::string text = ids.empty() ? LastText() : ids;
    if (*code == 0) {
      EXPECT_EQ(AdsDisconnect(connection), 0u) << LastText();
    }
    return text;
  }
  sqlite3* writer_ = nullptr;
};

TEST_F(JournalTest, OnlyAHotJournalRefusesTheConnectionAndNoJournalIsTouched) {
  enum Case { kHot, kWriteUnderWay, kLeftOver };
  for (Case c : {kHot, kWriteUnderWay, kLeftOver}) {
    SCOPED_TRACE(c);
    sqlite3_close(writer_);
    writer_ = nullptr;
    fs::remove(Path("T.adt-journal"));
    if (c == kHot) MakeHotJournal();
    if (c == kWriteUnderWay) StartWrite();
    if (c == kLeftOver) WriteBytes(Path("T.adt-journal"), std::string(512, '\0'));  // a finished write's
    const auto before = Snapshot(dir_);
    for (const std::string& path : {dir_, Path("HR.add")}) {
      SCOPED_TRACE(path);
      UNSIGNED32 code = 0;
      const std::string read = ConnectAndRead(path, &code);
      if (c == kHot) {
        EXPECT_EQ(code, AE_KDX_HOT_JOURNAL);
        EXPECT_NE(read.find("'" + Path("T.adt") + "'"), std::string::npos) << read;
        EXPECT_NE(read.find("the HR application or sqlite3 must recover it first"), std::string::npos) << read;
      } else {
        EXPECT_EQ(read, "12");
      }
      EXPECT_EQ(Snapshot(dir_), before);
    }
  }
}

TEST_F(ReadOnlyTest, ADamagedTableFileFailsTheReadNamingTheFile) {
  MakeDb("T.adt", "CREATE TABLE T(ID INTEGER, PAD CHAR(200));"
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
                  " INSERT INTO T SELECT i, printf('%200d', i) FROM n;");
  std::string bytes = ReadBytes(Path("T.adt"));
  ASSERT_GT(bytes.size(), 40000u);
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4096; ++i) bytes[i] = '\x5a';
  WriteBytes(Path("T.adt"), bytes);
  const ADSHANDLE table = Open("T");
  ASSERT_NE(table, 0u) << LastText();
  UNSIGNED32 rc = AdsGotoTop(table);
  UNSIGNED16 eof = 0;
  for (int rows = 0; rc == 0 && AdsAtEOF(table, &eof) == 0 && !eof && rows < 1000; ++rows) rc = AdsSkip(table, 1);
  EXPECT_NE(rc, 0u);
  const std::string text = LastText();
  EXPECT_NE(text.find("'" + Path("T.adt") + "'"), std::string::npos) << text;
  EXPECT_NE(text.find("malformed"), std::string::npos) << text;
}

// A WAL file with no log is read without locks: a program that writes it
// meanwhile and folds its log into the file fails the read, naming the file.
TEST_F(ReadOnlyTest, ATableFileChangedWhileReadWithoutLocksFailsTheRead) {
  MakeDb("T.adt", "PRAGMA journal_mode=WAL; CREATE TABLE T(ID INTEGER, PAD CHAR(200));"
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
                  " INSERT INTO T SELECT i, printf('%200d', i) FROM n;");
  ASSERT_FALSE(fs::exists(Path("T.adt-wal")));
  for (const bool written : {false, true}) {
    SCOPED_TRACE(written);
    const ADSHANDLE table = Open("T");
    ASSERT_NE(table, 0u) << LastText();
    UNSIGNED32 rc = AdsGotoTop(table);
    int rows = 0;
    for (; rc == 0 && !Eof(table); ++rows) {
      if (written && rows == 10) {
        MakeDb("T.adt", "INSERT INTO T SELECT ID + 20000, PAD FROM T WHERE ID <= 100; PRAGMA wal_checkpoint(TRUNCATE)");
      }
      rc = AdsSkip(table, 1);
    }
    if (!written) {
      EXPECT_EQ(rc, 0u) << LastText();
      EXPECT_EQ(rows, 20000);
    } else {
      EXPECT_NE(rc, 0u);
      EXPECT_NE(LastText().find("the table file '" + Path("T.adt") + "' changed while it was read"),
                std::string::npos)
          << LastText();
    }
    EXPECT_EQ(AdsCloseTable(table), 0u) << LastText();
  }
}

}  // namespace
