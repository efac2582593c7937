// A connection (AdsConnect60): a folder of free tables, a dictionary file, or
// a PostgreSQL server (a libpq URI). The connection owns the dictionary's
// database, or the server session with its catalogue and the mirrors of the
// server tables opened so far, and closes every child handle (tables,
// cursors, statements) still open when it is disconnected.
#ifndef KDX_ENGINE_CONNECTION_H_
#define KDX_ENGINE_CONNECTION_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/handles.h"
#include "engine/sqlite_support.h"
#include "engine/status.h"

struct sqlite3;

namespace engine {

class PgCatalog;
class PgSession;

// One AdsConnect60: a folder of free tables, a dictionary file or a server.
class EngineConnection : public EngineObject {
 public:
  ~EngineConnection() override;  // closes every child handle still open

  // The connection path; for a server, the server as messages name it.
  const std::string& path() const { return path_; }
  bool is_dictionary() const { return dictionary_ != nullptr; }
  // The dictionary's database (null for a folder connection). Owned.
  sqlite3* dictionary() const { return dictionary_; }
  // The folder free tables are looked up in: the connection path, or the
  // folder holding the dictionary file.
  const std::string& folder() const { return folder_; }
  ADSHANDLE handle() const { return handle_; }

  // A server connection: its session (the run's one snapshot) and catalogue.
  bool is_server() const { return session_ != nullptr; }
  PgSession* session() const { return session_.get(); }
  PgCatalog* catalog() const { return catalog_.get(); }
  // The private in-memory copy of server table `oid`, made by the first open
  // of that table and shared by every later one; null when not made yet. The
  // connection closes the copies after its children.
  sqlite3* mirror(uint32_t oid) const;
  void AddMirror(uint32_t oid, sqlite3* db) { mirrors_[oid] = db; }

  // Resolves a table name the way AdsOpenTable does for free tables: "\" and
  // "/" separate components; a bare name is looked up in folder(); the file
  // name is matched without regard to case, and a name without extension
  // tries the name as given, then with ".adt". Success and the file's path,
  // or an error naming the table and the folder searched.
  Status ResolveTableFile(const std::string& name, std::string* file) const;

  // The default index the dictionary names for `table` (its table
  // "__tables"); "" when there is none or the connection is no dictionary.
  Status DefaultIndex(const std::string& table, std::string* index_name) const;

  // Child handles (tables, cursors, statements) are closed with the
  // connection. Children register themselves here and remove themselves on close.
  void AddChild(ADSHANDLE handle) { children_.push_back(handle); }
  void RemoveChild(ADSHANDLE handle);

  // The dictionary login of AdsConnect60 (a folder or a server takes none).
  struct Login {
    const std::string& user;
    const std::string& password;
  };
  // Made by AdsConnect60 only.
  static Status Connect(const std::string& path, UNSIGNED16 server_types, const Login& login, ADSHANDLE* handle);

 private:
  EngineConnection();
  static Status ConnectServer(const std::string& uri, UNSIGNED16 server_types,
                              std::unique_ptr<EngineConnection>* connection);
  // Opens the regular file `file` as the connection's dictionary: refused
  // when it is a free table file (sealed, or holding just the one table
  // named like the file) rather than a dictionary.
  Status OpenDictionary(const std::string& file, const Login& login);
  static Status RegisterConnection(std::unique_ptr<EngineConnection> connection, ADSHANDLE* handle);
  std::string path_;
  std::string folder_;
  sqlite3* dictionary_ = nullptr;
  ADSHANDLE handle_ = 0;
  std::vector<ADSHANDLE> children_;
  std::unique_ptr<PgSession> session_;
  std::unique_ptr<PgCatalog> catalog_;
  std::map<uint32_t, sqlite3*> mirrors_;
};

}  // namespace engine

#endif  // KDX_ENGINE_CONNECTION_H_
