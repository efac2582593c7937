// Connections: a folder of free tables or a dictionary file, the table-name
// rules, and AdsConnect60 / AdsDisconnect.
#include "engine/connection.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>

#include "engine/errors.h"
#include "engine/handles.h"
#include "engine/pg_catalog.h"
#include "engine/pg_session.h"
#include "engine/sealed_file.h"
#include "engine/sql_codes.h"
#include "engine/sqlite_support.h"
#include "engine/table_files.h"
#include "util/ascii.h"

#if __has_include("engine/accounts.h")
#include "engine/accounts.h"
#define KDX_ENGINE_HAS_ACCOUNTS 1
#endif



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
UNSIGNED32 RefuseHotJournals(const std::string& folder) {
  static const std::string kSuffix = "-journal";
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return 0;
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
    const UNSIGNED32 rc = OpenSqlite(file, &db);
    sqlite3_close(db);
    // Any other failure belongs to the open of that table, if the run needs it.
    if (rc == AE_KDX_HOT_JOURNAL) return rc;
  }
  return 0;
}

// A dictionary holds the engine's own tables ("__users", "__tables") or
// tables of other names; a free table file holds just its one table, named
// like the file. `*table` is that table's name, or empty for a dictionary.
UNSIGNED32 SoleTable(sqlite3* db, const std::string& file, std::string* table) {
  table->clear();
  std::vector<std::string> names;
  if (UNSIGNED32 rc = UserTables(db, file, &names)) return rc;
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
  return 0;
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

UNSIGNED32 EngineConnection::ConnectServer(const std::string& uri, UNSIGNED16 server_types,
                                           std::unique_ptr<EngineConnection>* connection) {
  if ((server_types & ADS_REMOTE_SERVER) == 0) {
    return SetError(AE_KDX_SERVER_UNAVAILABLE, "Cannot connect to " + ServerPathName(uri) + ": server types " +
                                                   std::to_string(server_types) +
                                                   " do not include the remote server (2)");
  }
  std::unique_ptr<EngineConnection> made(new EngineConnection());
  if (UNSIGNED32 rc = PgSession::Open(uri, &made->session_)) return rc;
  made->path_ = made->session_->name();  // never the URI: it may hold the password
  made->catalog_ = std::make_unique<PgCatalog>(made->session_.get());
  *connection = std::move(made);
  return 0;
}

void EngineConnection::RemoveChild(ADSHANDLE handle) {
  children_.erase(std::remove(children_.begin(), children_.end(), handle), children_.end());
}

UNSIGNED32 EngineConnection::ResolveTableFile(const std::string& name, std::string* file) const {
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
    return SetError(AE_KDX_TABLE_NOT_FOUND, "Table name '" + name + "' names no file");
  }
  if (!IsDirectory(dir)) {
    return SetError(AE_KDX_TABLE_NOT_FOUND,
                    "Table '" + name + "' not found: folder '" + dir + "' does not exist");
  }
  std::vector<std::string> candidates = {base};
  if (base.find('.', 1) == std::string::npos) candidates.push_back(base + ".adt");
  for (const std::string& candidate : candidates) {
    for (const std::string& match : MatchNoCase(dir, candidate)) {
      std::string full = JoinPath(dir, match);
      if (IsRegularFile(full)) {
        *file = full;
        return 0;
      }
    }
  }
  return SetError(AE_KDX_TABLE_NOT_FOUND, "Table '" + name + "' not found in folder '" + dir + "'");
}

UNSIGNED32 EngineConnection::Connect(const std::string& path, UNSIGNED16 server_types,
                                     const std::string& user, const std::string& password,
                                     ADSHANDLE* handle) {
  std::unique_ptr<EngineConnection> server;
  if (IsServerPath(path)) {
    // The server's own login applies (the URI, PGPASSWORD, ~/.pgpass): the
    // dictionary's user name and password mean nothing here.
    if (UNSIGNED32 rc = ConnectServer(path, server_types, &server)) return rc;
    return RegisterConnection(std::move(server), handle);
  }
  if ((server_types & ADS_LOCAL_SERVER) == 0) {
    return SetError(AE_KDX_SERVER_UNAVAILABLE,
                    "Cannot connect to '" + path + "': server types " + std::to_string(server_types) +
                        " do not include the local server (1), the only one available");
  }
  if (path.empty()) return SetError(AE_KDX_PATH_NOT_FOUND, "Cannot connect: the connection path is empty");
  std::string normal = NormaliseSeparators(path);
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  std::unique_ptr<EngineConnection> connection(new EngineConnection());
  connection->path_ = path;
  if (IsDirectory(normal)) {
    connection->folder_ = normal;
    if (UNSIGNED32 rc = RefuseHotJournals(normal)) return rc;
  } else if (IsRegularFile(normal)) {
    if (UNSIGNED32 rc = connection->OpenDictionary(normal, user, password)) return rc;
  } else {
    return SetError(AE_KDX_PATH_NOT_FOUND, "Cannot connect: path '" + path + "' does not exist");
  }
  return RegisterConnection(std::move(connection), handle);
}

UNSIGNED32 EngineConnection::OpenDictionary(const std::string& file, const std::string& user,
                                            const std::string& password) {
  if (IsSealedFile(file)) return SetError(AE_KDX_PATH_IS_TABLE_FILE, TableFileText(path_, "a sealed table file"));
  sqlite3* db = nullptr;
  if (UNSIGNED32 rc = OpenSqlite(file, &db)) return rc;
  dictionary_ = db;
  size_t slash = file.rfind('/');
  folder_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
  std::string table;
  if (UNSIGNED32 rc = SoleTable(db, file, &table)) return rc;
  if (!table.empty()) {
    return SetError(AE_KDX_PATH_IS_TABLE_FILE,
                    TableFileText(path_, "a table file (it holds only table " + table + ")"));
  }
  if (UNSIGNED32 rc = RefuseHotJournals(folder_)) return rc;
#ifdef KDX_ENGINE_HAS_ACCOUNTS
  std::string why;
  if (!CheckDictionaryLogin(db, path_, user, password, &why)) return SetError(AE_KDX_LOGIN_FAILED, why);
#else
  (void)user;
  (void)password;
#endif
  return 0;
}

UNSIGNED32 EngineConnection::RegisterConnection(std::unique_ptr<EngineConnection> connection, ADSHANDLE* handle) {
  EngineConnection* raw = connection.get();
  ADSHANDLE h = HandleRegistry::Get().Register(ADS_CONNECTION, std::move(connection));
  if (h == 0) return SetError(AE_KDX_INVALID_ARGUMENT, "No handle left for a new connection");
  raw->handle_ = h;
  *handle = h;
  return 0;
}

}  // namespace engine

using namespace engine;

bool OpenDatabaseReadOnly(const std::string& path, sqlite3** db, std::string* error) {
  EngineGuard guard(EngineMutex());
  if (engine::OpenSqlite(path, db) == 0) return true;
  *error = LastErrorLine();
  return false;
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
  const bool single = engine::OpenSqlite(normal, &db) == 0 && SoleTable(db, normal, &table) == 0 && !table.empty();
  sqlite3_close(db);
  return single ? ConnectionPathKind::kTableFile : ConnectionPathKind::kDictionary;
}

UNSIGNED32 AdsConnect60(const std::string& path, UNSIGNED16 server_types, const std::string& user,
                        const std::string& password, UNSIGNED32 options, ADSHANDLE* connection) {
  EngineGuard guard(EngineMutex());
  (void)options;  // middle-tier and stored-procedure connections mean nothing locally
  if (connection == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsConnect60: no place for the handle");
  *connection = 0;
  return EngineConnection::Connect(path, server_types, user, password, connection);
}

UNSIGNED32 AdsDisconnect(ADSHANDLE connection) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  if (Lookup<EngineConnection>(connection, ADS_CONNECTION, &error) == nullptr) return error;
  HandleRegistry::Get().Destroy(connection);
  return 0;
}

UNSIGNED32 AdsGetDefaultIndex(ADSHANDLE connection, const std::string& table, std::string* index_name) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineConnection* c = Lookup<EngineConnection>(connection, ADS_CONNECTION, &error);
  if (c == nullptr) return error;
  if (index_name == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetDefaultIndex: no place for the name");
  index_name->clear();
  if (!c->is_dictionary()) return 0;
  std::string bare = table;
  size_t dot = bare.find('.');
  if (dot != std::string::npos) bare = bare.substr(0, dot);
  Statement exists;
  if (sqlite3_prepare_v2(c->dictionary(),
                         "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='__tables' COLLATE NOCASE",
                         -1, exists.out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Dictionary '" + c->path() + "': reading its schema", c->dictionary());
  }
  if (sqlite3_step(exists.get()) != SQLITE_ROW) return 0;
  Statement query;
  if (sqlite3_prepare_v2(c->dictionary(),
                         "SELECT default_index FROM __tables WHERE table_name = ?1 COLLATE NOCASE", -1,
                         query.out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Dictionary '" + c->path() + "': reading table __tables",
                       c->dictionary());
  }
  sqlite3_bind_text(query.get(), 1, bare.c_str(), -1, SQLITE_TRANSIENT);
  int rc = sqlite3_step(query.get());
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(query.get(), 0);
    if (text != nullptr) *index_name = reinterpret_cast<const char*>(text);
  } else if (rc != SQLITE_DONE) {
    return SqliteError(AE_KDX_SQLITE, "Dictionary '" + c->path() + "': reading table __tables",
                       c->dictionary());
  }
  return 0;
}
