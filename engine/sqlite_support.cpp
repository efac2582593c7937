#include "engine/sqlite_support.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "engine/errors.h"
#include "engine/faults.h"
#include "engine/sql_codes.h"

namespace engine {

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = other.stmt_;
    other.stmt_ = nullptr;
  }
  return *this;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

namespace {

// SQLite keeps statistics of its memory behind one process-wide mutex, taken
// on every allocation; the engine never reads them. The setting only takes
// before SQLite starts, so it is made while the program loads.
const int kMemoryStatisticsOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

bool FileExists(const std::string& path, off_t* size = nullptr) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  if (size != nullptr) *size = info.st_size;
  return true;
}

// Whether the file's header marks it as a write-ahead-log database (its
// read and write format versions, bytes 18 and 19, are 2).
bool IsWalDatabase(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char header[20] = {};
  const ssize_t n = ::read(fd, header, sizeof header);
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof header) && std::memcmp(header, "SQLite format 3", 16) == 0 &&
         (header[18] == 2 || header[19] == 2);
}

// A log is opened read-only as well. SQLite opens a -wal read-write even for
// a read-only connection when it may; a reader never writes into it, and
// this VFS, the default one but for that and for what it notes, makes sure
// of it. (A -shm stays read-write: readers take their locks in it.)
constexpr char kReadOnlyVfs[] = "kdx-read-only";

// What tells one state of a file from another: a program that writes the
// file changes its modification time, a program that replaces it its inode.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified = {};
};

bool IdentityOf(const char* path, FileIdentity* out) {
  struct stat info;
  if (stat(path, &info) != 0) return false;
  *out = {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  return true;
}

// Every file the engine reads through this VFS: a file of the VFS below (the
// default one, or the fault VFS of the tests once it exists), whose failed
// I/O is noted for SqliteError (NoteFailedFile) so that the error names the
// file. A main database file opened with immutable=1 is read without locks,
// so a program that begins writing it meanwhile, and folds its log into the
// file, would hand this reader pages of two states. Such a file is watched:
// after every read of its bytes or its size, the file must still be the one
// that was opened; if it is not, the read fails with an I/O error and the
// thread notes the file for SqliteError (NoteChangedWhileRead).
struct ReaderFile {
  sqlite3_file file;   // pMethods: kReaderMethods
  sqlite3_file* base;  // the file of the VFS below, from sqlite3_malloc
  const char* path;    // xOpen's name, which SQLite keeps until xClose; null for a temporary file
  bool watched;
  FileIdentity opened;
};

ReaderFile* Reader(sqlite3_file* file) { return reinterpret_cast<ReaderFile*>(file); }
sqlite3_file* Base(sqlite3_file* file) { return Reader(file)->base; }

// `rc`, noting the file when it is an I/O error (a short read is none: it
// reads past the end, which SQLite expects).
int Noted(sqlite3_file* file, int rc) {
  if ((rc & 0xFF) == SQLITE_IOERR && rc != SQLITE_IOERR_SHORT_READ && Reader(file)->path != nullptr) {
    NoteFailedFile(Reader(file)->path);
  }
  return rc;
}

// `rc`, or an I/O error `failure` when a watched file is no longer the one
// opened.
int Checked(sqlite3_file* file, int rc, int failure) {
  const ReaderFile* reader = Reader(file);
  if (!reader->watched) return Noted(file, rc);
  FileIdentity now;
  if (IdentityOf(reader->path, &now) && now.device == reader->opened.device && now.inode == reader->opened.inode &&
      now.size == reader->opened.size && now.modified.tv_sec == reader->opened.modified.tv_sec &&
      now.modified.tv_nsec == reader->opened.modified.tv_nsec) {
    return Noted(file, rc);
  }
  NoteChangedWhileRead(reader->path);
  return failure;
}

// Version 2: without xFetch SQLite maps no page into memory, so every page
// it reads passes through the check of xRead.
const sqlite3_io_methods kReaderMethods = {
    2,
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      const int rc = base->pMethods->xClose(base);
      sqlite3_free(base);
      return rc;
    },
    [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
      sqlite3_file* base = Base(f);
      return Checked(f, base->pMethods->xRead(base, data, amount, offset), SQLITE_IOERR_READ);
    },
    [](sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xWrite(base, data, amount, offset));
    },
    [](sqlite3_file* f, sqlite3_int64 size) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xTruncate(base, size));
    },
    [](sqlite3_file* f, int flags) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xSync(base, flags));
    },
    [](sqlite3_file* f, sqlite3_int64* size) {
      sqlite3_file* base = Base(f);
      return Checked(f, base->pMethods->xFileSize(base, size), SQLITE_IOERR_FSTAT);
    },
    [](sqlite3_file* f, int level) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xLock(base, level));
    },
    [](sqlite3_file* f, int level) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xUnlock(base, level));
    },
    [](sqlite3_file* f, int* out) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xCheckReservedLock(base, out));
    },
    [](sqlite3_file* f, int op, void* arg) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xFileControl(base, op, arg);
    },
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xSectorSize(base);
    },
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xDeviceCharacteristics(base);
    },
    [](sqlite3_file* f, int page, int page_size, int extend, void volatile** out) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xShmMap(base, page, page_size, extend, out));
    },
    [](sqlite3_file* f, int offset, int n, int flags) {
      sqlite3_file* base = Base(f);
      return Noted(f, base->pMethods->xShmLock(base, offset, n, flags));
    },
    [](sqlite3_file* f) {
      sqlite3_file* base = Base(f);
      base->pMethods->xShmBarrier(base);
    },
    [](sqlite3_file* f, int delete_flag) {
      sqlite3_file* base = Base(f);
      return base->pMethods->xShmUnmap(base, delete_flag);
    },
    nullptr,
    nullptr,
};

int OpenDatabaseFile(sqlite3_vfs* self, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  sqlite3_vfs* below = FaultVfs() != nullptr ? FaultVfs() : static_cast<sqlite3_vfs*>(self->pAppData);
  ReaderFile* reader = Reader(file);
  reader->file.pMethods = nullptr;
  if ((flags & SQLITE_OPEN_WAL) != 0) {
    flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
  }
  auto* base = static_cast<sqlite3_file*>(sqlite3_malloc(below->szOsFile));
  if (base == nullptr) return SQLITE_NOMEM;
  std::memset(base, 0, static_cast<size_t>(below->szOsFile));
  reader->watched = (flags & SQLITE_OPEN_MAIN_DB) != 0 && name != nullptr && sqlite3_uri_boolean(name, "immutable", 0);
  int rc = below->xOpen(below, name, base, flags, out_flags);
  if (rc == SQLITE_OK && reader->watched && !IdentityOf(name, &reader->opened)) rc = SQLITE_CANTOPEN;
  if (rc != SQLITE_OK) {
    if (base->pMethods != nullptr) base->pMethods->xClose(base);
    sqlite3_free(base);
    if (name != nullptr) NoteFailedFile(name);
    return rc;
  }
  reader->base = base;
  reader->path = name;
  reader->file.pMethods = &kReaderMethods;
  return SQLITE_OK;
}

void RegisterReadOnlyVfs() {
  static sqlite3_vfs vfs = [] {
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    sqlite3_vfs made = *base;
    made.zName = kReadOnlyVfs;
    made.pAppData = base;
    made.szOsFile = static_cast<int>(sizeof(ReaderFile));
    made.xOpen = &OpenDatabaseFile;
    return made;
  }();
  // Registering fails only without memory; every open through the VFS then
  // fails, naming its file.
  static const int registered = sqlite3_vfs_register(&vfs, 0);
  (void)registered;
}

}  // namespace

std::string ReadOnlyUri(const std::string& path) {
  RegisterReadOnlyVfs();
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  uri += "?mode=ro&vfs=";
  uri += kReadOnlyVfs;
  // A write-ahead-log database whose log is missing (or empty, with no
  // -shm beside it) holds every committed row in the file itself, and no
  // program has it open: every connection in WAL mode keeps the log (and the
  // -shm) in place while it is open. SQLite would still create an empty log
  // and a -shm for a read-only reader in a writable folder, and cannot read
  // such a database at all in a folder it may not write. immutable=1 reads
  // the file as it stands, without locks, log or -shm (a program that starts
  // writing meanwhile writes into a new log, which this reader does not see;
  // once that log is checkpointed into the file, every further read of it
  // fails, see WatchedFile). Only this case is read
  // so: a log with rows, or one a live program keeps, is read by SQLite's
  // read-only WAL reader, which sees its committed rows.
  if (IsWalDatabase(path)) {
    off_t wal_size = 0;
    const bool has_wal = FileExists(path + "-wal", &wal_size);
    if (!has_wal || (wal_size == 0 && !FileExists(path + "-shm"))) uri += "&immutable=1";
  }
  return uri;
}

Status ConfigureReader(sqlite3* db, const std::string& path) {
  sqlite3_busy_timeout(db, kBusyTimeoutMs);  // never fails on an open handle
  sqlite3_extended_result_codes(db, 1);       // never fails on an open handle
  // A reader that happens to be the last connection must not fold a log
  // into the database file when it closes.
  if (sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Cannot read database file " + Quoted(path) + " without checkpointing it", db);
  }
  return Status();
}

Status FileReadError(const std::string& path, const std::string& what, int rc, sqlite3* db) {
  if (rc == SQLITE_READONLY_ROLLBACK) {
    return Status(AE_KDX_HOT_JOURNAL,
                  "Table file '" + path + "' was left in the middle of a write by another program (hot journal '" +
                      path + "-journal'): the HR application or sqlite3 must recover it first; nothing was read "
                      "and nothing was changed");
  }
  if ((rc & 0xFF) == SQLITE_NOTADB) {
    return SqliteError(AE_KDX_NOT_A_DATABASE, "File '" + path + "' is not an SQLite database", db);
  }
  if ((rc & 0xFF) == SQLITE_CANTOPEN && IsWalDatabase(path) && FileExists(path + "-wal") &&
      !FileExists(path + "-shm")) {
    return SqliteError(AE_KDX_SQLITE,
                       what + " '" + path + "': the file is in write-ahead-log mode and its log '" + path +
                           "-wal' cannot be read without creating '" + path +
                           "-shm', which the folder does not allow; let the HR application or sqlite3 open it once "
                           "where the folder is writable",
                       db);
  }
  return SqliteError(AE_KDX_SQLITE, what + " '" + path + "'", db);
}

Status OpenSqlite(const std::string& path, sqlite3** db) {
  *db = nullptr;
  sqlite3* handle = nullptr;
  // Every database the engine opens is used under the engine's own mutex
  // only, so SQLite's per-connection mutex would merely be taken and
  // released again around each of the many calls that copy a row out.
  const std::string uri = ReadOnlyUri(path);
  int rc = sqlite3_open_v2(uri.c_str(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    Status failed = SqliteError(AE_KDX_SQLITE, "Cannot open database file '" + path + "'", handle);
    sqlite3_close(handle);
    return failed;
  }
  if (Status configured = ConfigureReader(handle, path); !configured.ok()) {
    sqlite3_close(handle);
    return configured;
  }
  // Reading the schema is the cheapest check that the file is a database;
  // it is also where SQLite finds a hot journal.
  rc = sqlite3_exec(handle, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    Status failed = FileReadError(path, "Cannot read database file", rc, handle);
    sqlite3_close(handle);
    return failed;
  }
  *db = handle;
  return Status();
}

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

SqlValue SqlValue::From(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER: return Integer(sqlite3_value_int64(value));
    case SQLITE_FLOAT: return Real(sqlite3_value_double(value));
    case SQLITE_TEXT: {
      const char* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      return Text(std::string(text, static_cast<size_t>(sqlite3_value_bytes(value))));
    }
    case SQLITE_BLOB: {
      const char* blob = static_cast<const char*>(sqlite3_value_blob(value));
      return Blob(std::string(blob == nullptr ? "" : std::string(blob, static_cast<size_t>(sqlite3_value_bytes(value)))));
    }
    default: return Null();
  }
}

int BindValue(sqlite3_stmt* stmt, int index, const SqlValue& value) {
  switch (value.type) {
    case SQLITE_INTEGER: return sqlite3_bind_int64(stmt, index, value.integer);
    case SQLITE_FLOAT: return sqlite3_bind_double(stmt, index, value.real);
    case SQLITE_TEXT:
      return sqlite3_bind_text(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()),
                               SQLITE_TRANSIENT);
    case SQLITE_BLOB:
      return sqlite3_bind_blob(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()),
                               SQLITE_TRANSIENT);
    default: return sqlite3_bind_null(stmt, index);
  }
}

}  // namespace engine
