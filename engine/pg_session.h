// A session with a PostgreSQL server: the one libpq connection of a run and
// its one read-only REPEATABLE READ transaction, so that everything the run
// reads comes from one consistent snapshot (taken when the session opens)
// and the HR application's writers are never blocked.
//
// Every request the engine makes goes through here, so that every failure
// becomes an engine error in one way: the text names the server ("PostgreSQL
// server HOST:PORT, database DB") and what was being done, the server's own
// message follows, and no text ever holds the password (the session removes
// it from whatever libpq or the server says). A server that went away (6202)
// or cancelled a statement (6203) is reported as such whatever the request.
//
// Statements that can fail run inside a savepoint (one round trip with the
// request itself, in libpq's pipeline mode), so that one refused statement
// does not abort the transaction for the rest of the run. Once the server
// has gone, every later request fails at once with 6202.
//
// A session belongs to one thread at a time (the engine's lock).
#ifndef KDX_ENGINE_PG_SESSION_H_
#define KDX_ENGINE_PG_SESSION_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ads.h"

struct pg_conn;
struct pg_result;

namespace engine {

// Whether a connection path names a server: a libpq connection URI, starting
// "postgresql://" or "postgres://" in any letter case.
bool IsServerPath(const std::string& path);

// "PostgreSQL server HOST:PORT, database DB" for a server path, without
// connecting (libpq's defaults fill what the URI leaves out). Never holds the
// password, even of a malformed URI.
std::string ServerPathName(const std::string& uri);

struct PgResultDeleter {
  void operator()(pg_result* result) const;
};
using PgResultPtr = std::unique_ptr<pg_result, PgResultDeleter>;

// A server-side prepared statement of a session.
struct PgPrepared {
  std::string name;                  // the statement's name on the server
  std::vector<uint32_t> param_types; // the type OID the server gave each $N
};

class PgSession {
 public:
  // Connects to the server `uri` names and begins the run's transaction.
  // libpq's own password places (PGPASSWORD, ~/.pgpass, PGPASSFILE) apply.
  // connect_timeout is 10 s unless the URI sets one (a 0 counts as unset),
  // and TCP keepalives notice a server that vanished without closing the
  // connection. Errors: 6101 when the server refuses the login (naming host,
  // port and database), 6201 when it cannot be reached, has no such database
  // or the URI is malformed.
  static UNSIGNED32 Open(const std::string& uri, std::unique_ptr<PgSession>* session);
  // Rolls the transaction back and closes the connection.
  ~PgSession();
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // The server in messages: "PostgreSQL server HOST:PORT, database DB".
  const std::string& name() const { return name_; }
  // The connection, for requests of the session's own modules.
  pg_conn* conn() const { return conn_; }
  // The server process serving the session (pg_backend_pid), for tests.
  int backend_pid() const;

  // Prepares `sql` ($1.. places) as a server-side statement, once per session
  // and text: the same text again gives the same statement. A place whose
  // type the server cannot infer (":x IS NULL") is typed text. On failure,
  // the engine error `code` with `context` (what the text is, for messages).
  UNSIGNED32 PrepareOnce(const std::string& sql, UNSIGNED32 code, const std::string& context,
                         const PgPrepared** prepared);
  // Executes a prepared statement with text-format `values` (null: SQL NULL)
  // inside a savepoint; the result of the statement in `*result` (rows or a
  // command status). On failure, the engine error `code` with `context`.
  UNSIGNED32 ExecPrepared(const PgPrepared& prepared, const std::vector<const char*>& values, UNSIGNED32 code,
                          const std::string& context, PgResultPtr* result);
  // Runs `sql` (simple protocol, one or more statements, no savepoint): the
  // last statement's result in `*result` (may be null when not wanted). An
  // error leaves the transaction aborted until RollbackTo.
  UNSIGNED32 Exec(const std::string& sql, UNSIGNED32 code, const std::string& context, PgResultPtr* result);
  // Rolls back to and releases `savepoint` after a failed request; keeps the
  // error already recorded (a lost connection is noticed by the next request).
  void RollbackTo(const std::string& savepoint);

  // Records the engine error for a failed request: 6202 when the connection
  // is gone, 6203 when the server cancelled the statement, else `code`; the
  // text "<context> on <server>: <server message>". `result` may be null
  // (the connection's own message is used then). Returns the code recorded.
  UNSIGNED32 Fail(UNSIGNED32 code, const std::string& context, const pg_result* result);
  // `text` with every form of the session's password replaced by "***".
  std::string Redact(std::string text) const;

 private:
  PgSession() = default;
  // Connects (pg_connect.cpp); Start then begins the transaction.
  UNSIGNED32 Connect(const std::string& uri);
  UNSIGNED32 Start();
  // Sends SAVEPOINT, whatever `send` queues (`commands` requests), RELEASE
  // and a sync as one pipeline, and collects each queued request's result.
  // A request the server refused leaves its SQLSTATE, a blank and its
  // message in `*refused`.
  UNSIGNED32 Guarded(const std::function<bool()>& send, size_t commands, UNSIGNED32 code,
                     const std::string& context, std::vector<PgResultPtr>* results, std::string* refused = nullptr);
  UNSIGNED32 LostAlready(const std::string& context);

  pg_conn* conn_ = nullptr;
  std::string name_;
  std::vector<std::string> secrets_;  // the password as given and as decoded
  bool lost_ = false;
  std::map<std::string, PgPrepared> prepared_;  // by text
  int next_statement_ = 0;  // numbers the server-side statement names
};

}  // namespace engine

#endif  // KDX_ENGINE_PG_SESSION_H_
