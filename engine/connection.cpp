// Connections: a folder of free tables or a dictionary file, the table-name
// rules, and AdsConnect60 / AdsDisconnect.
#include "engine/connection.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>

#include "engine/accounts.h"
#include "engine/errors.h"
#include "engine/handles.h"
#include "engine/pg_catalog.h"
#include "engine/pg_session.h"
#include "engine/sealed_file.h"
#include "engine/sql_codes.h"
#include "engine/sqlite_support.h"
#include "engine/table_files.h"
#include "util/ascii.h"

namespace engine {
namespace {

std::string NormaliseSeparators(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The entries of `dir` whose name equals `name` without regard to case; an
// exact-case match comes first.
std::vector<std::string> MatchNoCase(const std::string& dir, const std::string& name) {
  std::vector<std::string> found;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return found;
  while (dirent* entry = readdir(d)) {
    std::string entry_name = entry->d_name;
    if (EqualsNoCase(entry_name, name)) {
      if (entry_name == name) {
        found.insert(found.begin(), entry_name);
      } else {
        found.push_back(entry_name);
      }
    }
  }
  closedir(d);
  return found;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string FileStem(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// Refuses the connection when a database file of `folder` was left in the
// middle of a write by another program (a hot journal): reading on would
// either roll that write back, which is not a reader's business, or read a
// half-written file. The folder is listed once; only a file with a
// "-journal" beside it is opened. A journal of a write still in progress is
// not hot (its writer holds the file's lock) and is let be, as is a journal
// left over from a finished write.
Status RefuseHotJournals(const std::string& folder) {
  static const std::string kSuffix = "-journal";
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return Status();  // the folder's tables fail, naming it, when opened
  while (dirent* entry = readdir(d)) names.emplace_back(entry->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name.size() <= kSuffix.size() || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
      continue;
    const std::string base = name.substr(0, name.size() - kSuffix.size());
    if (!std::binary_search(names.begin(), names.end(), base)) continue;
    const std::string file = JoinPath(folder, base);
    if (!IsRegularFile(file) || IsSealedFile(file)) continue;
    sqlite3* db = nullptr;
    Status opened = OpenSqlite(file, &db);
    sqlite3_close(db);
    // Any other failure belongs to the open of that table, if the run needs it.
    if (opened.code() == AE_KDX_HOT_JOURNAL) return opened;
  }
  return Status();
}

// A dictionary holds the engine's own tables ("__users", "__tables") or
// tables of other names; a free table file holds just its one table, named
// like the file. `*table` is that table's name, or empty for a dictionary.
Status SoleTable(sqlite3* db, const std::string& file, std::string* table) {
  table->clear();
  std::vector<std::string> names;
  if (Status listed = UserTables(db, file, &names); !listed.ok()) return listed;
  Statement own;
  if (sqlite3_prepare_v2(db,
                         "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name LIKE '\\_\\_%' "
                         "ESCAPE '\\'",
                         -1, own.out(), nullptr) != SQLITE_OK ||
      sqlite3_step(own.get()) != SQLITE_ROW) {
    return SqliteError(AE_KDX_SQLITE, "Reading the tables of '" + file + "'", db);
  }
  if (sqlite3_column_int(own.get(), 0) == 0 && names.size() == 1 && EqualsNoCase(names[0], FileStem(file))) {
    *table = names[0];
  }
  return Status();
}

std::string TableFileText(const std::string& path, const std::string& what) {
  return "Cannot connect to '" + path + "': it is " + what +
         "; connect to the folder that holds the table files, or to a dictionary file";
}

}  // namespace

EngineConnection::EngineConnection() = default;

EngineConnection::~EngineConnection() {
  // Children remove themselves from children_ as they close; work on a copy.
  std::vector<ADSHANDLE> children = children_;
  children_.clear();
  for (auto it = children.rbegin(); it != children.rend(); ++it) HandleRegistry::Get().Destroy(*it);
  if (dictionary_ != nullptr) sqlite3_close(dictionary_);
  for (const auto& [oid, db] : mirrors_) sqlite3_close(db);
  catalog_.reset();
  session_.reset();  // ends the run's transaction and the connection
}

sqlite3* EngineConnection::mirror(uint32_t oid) const {
  auto it = mirrors_.find(oid);
  return it == mirrors_.end() ? nullptr : it->second;
}

Status EngineConnection::ConnectServer(const std::string& uri, UNSIGNED16 server_types,
                                       std::unique_ptr<EngineConnection>* connection) {
  if ((server_types & ADS_REMOTE_SERVER) == 0) {
    const std::string server = ServerPathName(uri);
    return Status(AE_KDX_SERVER_UNAVAILABLE, "Cannot connect to " + server + ": server types " +
                                                 std::to_string(server_types) + " do not include the remote server (2)")
        .WithServer(server);
  }
  std::unique_ptr<EngineConnection> made(new EngineConnection());
  if (Status opened = PgSession::Open(uri, &made->session_); !opened.ok()) return opened;
  made->path_ = made->session_->name();  // never the URI: it may hold the password
  made->catalog_ = std::make_unique<PgCatalog>(made->session_.get());
  *connection = std::move(made);
  return Status();
}

void EngineConnection::RemoveChild(ADSHANDLE handle) {
  children_.erase(std::remove(children_.begin(), children_.end(), handle), children_.end());
}

Status EngineConnection::ResolveTableFile(const std::string& name, std::string* file) const {
  std::string path = NormaliseSeparators(name);
  std::string dir = folder_;
  std::string base = path;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    dir = path.substr(0, slash);
    if (dir.empty()) dir = "/";
    base = path.substr(slash + 1);
  }
  if (base.empty()) {
    return Status(AE_KDX_TABLE_NOT_FOUND, "Table name '" + name + "' names no file").WithTable(name);
  }
  if (!IsDirectory(dir)) {
    return Status(AE_KDX_TABLE_NOT_FOUND, "Table '" + name + "' not found: folder '" + dir + "' does not exist")
        .WithTable(name);
  }
  std::vector<std::string> candidates = {base};
  if (base.find('.', 1) == std::string::npos) candidates.push_back(base + ".adt");
  for (const std::string& candidate : candidates) {
    for (const std::string& match : MatchNoCase(dir, candidate)) {
      std::string full = JoinPath(dir, match);
      if (IsRegularFile(full)) {
        *file = full;
        return Status();
      }
    }
  }
  return Status(AE_KDX_TABLE_NOT_FOUND, "Table '" + name + "' not found in folder '" + dir + "'").WithTable(name);
}

Status EngineConnection::Connect(const std::string& path, UNSIGNED16 server_types, const Login& login,
                                 ADSHANDLE* handle) {
  std::unique_ptr<EngineConnection> server;
  if (IsServerPath(path)) {
    // The server's own login applies (the URI, PGPASSWORD, ~/.pgpass): the
    // dictionary's user name and password mean nothing here.
    if (Status connected = ConnectServer(path, server_types, &server); !connected.ok()) return connected;
    return RegisterConnection(std::move(server), handle);
  }
  if ((server_types & ADS_LOCAL_SERVER) == 0) {
    return Status(AE_KDX_SERVER_UNAVAILABLE, "Cannot connect to '" + path + "': server types " +
                                                 std::to_string(server_types) +
                                                 " do not include the local server (1), the only one available");
  }
  if (path.empty()) return Status(AE_KDX_PATH_NOT_FOUND, "Cannot connect: the connection path is empty");
  std::string normal = NormaliseSeparators(path);
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  std::unique_ptr<EngineConnection> connection(new EngineConnection());
  connection->path_ = path;
  if (IsDirectory(normal)) {
    connection->folder_ = normal;
    if (Status refused = RefuseHotJournals(normal); !refused.ok()) return refused;
  } else if (IsRegularFile(normal)) {
    if (Status opened = connection->OpenDictionary(normal, login); !opened.ok()) return opened;
  } else {
    return Status(AE_KDX_PATH_NOT_FOUND, "Cannot connect: path '" + path + "' does not exist");
  }
  return RegisterConnection(std::move(connection), handle);
}

Status EngineConnection::OpenDictionary(const std::string& file, const Login& login) {
  if (IsSealedFile(file)) return Status(AE_KDX_PATH_IS_TABLE_FILE, TableFileText(path_, "a sealed table file"));
  sqlite3* db = nullptr;
  if (Status opened = OpenSqlite(file, &db); !opened.ok()) return opened;
  dictionary_ = db;
  size_t slash = file.rfind('/');
  folder_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
  std::string table;
  if (Status sole = SoleTable(db, file, &table); !sole.ok()) return sole;
  if (!table.empty()) {
    return Status(AE_KDX_PATH_IS_TABLE_FILE, TableFileText(path_, "a table file (it holds only table " + table + ")"));
  }
  if (Status refused = RefuseHotJournals(folder_); !refused.ok()) return refused;
  return CheckDictionaryLogin(db, path_, login.user, login.password);
}

Status EngineConnection::RegisterConnection(std::unique_ptr<EngineConnection> connection, ADSHANDLE* handle) {
  EngineConnection* raw = connection.get();
  ADSHANDLE h = HandleRegistry::Get().Register(ADS_CONNECTION, std::move(connection));
  if (h == 0) return Status(AE_KDX_INVALID_ARGUMENT, "No handle left for a new connection");
  raw->handle_ = h;
  *handle = h;
  return Status();
}

Status EngineConnection::DefaultIndex(const std::string& table, std::string* index_name) const {
  index_name->clear();
  if (!is_dictionary()) return Status();
  std::string bare = table;
  size_t dot = bare.find('.');
  if (dot != std::string::npos) bare = bare.substr(0, dot);
  auto failed = [&](const char* what) {
    return SqliteError(AE_KDX_SQLITE, "Dictionary '" + path_ + "': " + what, dictionary_).WithTable(table);
  };
  Statement exists;
  if (sqlite3_prepare_v2(dictionary_,
                         "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='__tables' COLLATE NOCASE", -1,
                         exists.out(), nullptr) != SQLITE_OK) {
    return failed("reading its schema");
  }
  const int listed = sqlite3_step(exists.get());
  if (listed == SQLITE_DONE) return Status();  // no table of default indexes
  if (listed != SQLITE_ROW) return failed("reading its schema");
  Statement query;
  if (sqlite3_prepare_v2(dictionary_, "SELECT default_index FROM __tables WHERE table_name = ?1 COLLATE NOCASE", -1,
                         query.out(), nullptr) != SQLITE_OK ||
      sqlite3_bind_text(query.get(), 1, bare.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    return failed("reading table __tables");
  }
  const int rc = sqlite3_step(query.get());
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(query.get(), 0);
    if (text != nullptr) *index_name = reinterpret_cast<const char*>(text);
  } else if (rc != SQLITE_DONE) {
    return failed("reading table __tables");
  }
  return Status();
}

}  // namespace engine

using namespace engine;

Status OpenDatabaseReadOnly(const std::string& path, sqlite3** db) {
  EngineGuard guard(EngineMutex());
  return AsErrorLine(engine::OpenSqlite(path, db));
}

ConnectionPathKind ClassifyConnectionPath(const std::string& path) {
  EngineGuard guard(EngineMutex());
  std::string normal = NormaliseSeparators(path);
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  if (IsDirectory(normal)) return ConnectionPathKind::kFolder;
  if (!IsRegularFile(normal)) return ConnectionPathKind::kNothing;
  if (IsSealedFile(normal)) return ConnectionPathKind::kTableFile;
  sqlite3* db = nullptr;
  std::string table;
  // A file that cannot be read is taken for a dictionary: connecting to it
  // then fails, naming it.
  const bool single =
      engine::OpenSqlite(normal, &db).ok() && SoleTable(db, normal, &table).ok() && !table.empty();
  sqlite3_close(db);
  return single ? ConnectionPathKind::kTableFile : ConnectionPathKind::kDictionary;
}

UNSIGNED32 AdsConnect60(const std::string& path, UNSIGNED16 server_types, const std::string& user,
                        const std::string& password, UNSIGNED32 options, ADSHANDLE* connection) {
  EngineGuard guard(EngineMutex());
  (void)options;  // middle-tier and stored-procedure connections mean nothing locally
  if (connection == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsConnect60: no place for the handle");
  *connection = 0;
  return EngineConnection::Connect(path, server_types, {user, password}, connection);
}

UNSIGNED32 AdsDisconnect(ADSHANDLE connection) {
  EngineGuard guard(EngineMutex());
  EngineConnection* c = nullptr;
  if (Status found = Lookup(connection, ADS_CONNECTION, &c); !found.ok()) return found;
  HandleRegistry::Get().Destroy(connection);
  return 0;
}

UNSIGNED32 AdsGetDefaultIndex(ADSHANDLE connection, const std::string& table, std::string* index_name) {
  EngineGuard guard(EngineMutex());
  EngineConnection* c = nullptr;
  if (Status found = Lookup(connection, ADS_CONNECTION, &c); !found.ok()) return found;
  if (index_name == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDefaultIndex: no place for the name");
  return c->DefaultIndex(table, index_name);
}
