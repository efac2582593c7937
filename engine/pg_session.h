// A session with a PostgreSQL server: the one libpq connection of a run and
// its one read-only REPEATABLE READ transaction, so that everything the run
// reads comes from one consistent snapshot (taken when the session opens)
// and the HR application's writers are never blocked.
//
// When the session opens it takes ACCESS SHARE on every table of the search
// path the login may read, in one LOCK statement, before the snapshot: a
// TRUNCATE or ALTER TABLE under way then finishes first and is seen whole,
// and one issued later waits for the end of the session instead of being
// half seen. The session ends (and its locks go) when it is destroyed.
//
// Every request the engine makes goes through here, so that every failure
// becomes an engine error in one way: the text names the server ("PostgreSQL
// server HOST:PORT, database DB") and what was being done, the server's own
// message follows, and no text ever holds the password (the session removes
// it from whatever libpq or the server says). A server that went away (6202)
// or cancelled a statement (6203) is reported as such whatever the request.
//
// No request waits for ever: a request during which the server sends no
// byte for the read timeout (kdx_read_timeout in the URI, 120 s by default)
// is cancelled, the connection closed and 6207 recorded, naming the server
// and what was being read. Closing a session never waits for the server.
//
// Statements that can fail run inside a savepoint (one round trip with the
// request itself, in libpq's pipeline mode), so that one refused statement
// does not abort the transaction for the rest of the run. Once the server
// has gone, every later request fails at once with 6202.
//
// A session belongs to one thread at a time (the engine's lock).
#ifndef KDX_ENGINE_PG_SESSION_H_
#define KDX_ENGINE_PG_SESSION_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ads.h"
#include "engine/schema.h"
#include "engine/status.h"

struct pg_conn;
struct pg_result;

namespace engine {

// Whether a connection path names a server: a libpq connection URI, starting
// "postgresql://" or "postgres://" in any letter case.
bool IsServerPath(const std::string& path);

// "PostgreSQL server HOST:PORT, database DB" for a server path, without
// connecting (libpq's defaults fill what the URI leaves out). Never holds the
// password, and for a malformed URI no part of it at all.
std::string ServerPathName(const std::string& uri);

// The URI option the engine reads itself and removes before libpq sees the
// URI: the read timeout in whole seconds.
inline constexpr char kReadTimeoutOption[] = "kdx_read_timeout";
inline constexpr int kDefaultReadTimeoutSeconds = 120;
inline constexpr int kMaxReadTimeoutSeconds = 86400;

// LibpqUri (schema.h) removes it from the URI before libpq sees it.

// Texts found in messages and replaced there, without the texts themselves
// being kept: each is held as its length and a keyed hash, so that the
// password of a session is in no buffer of the engine once connected.
class PgSecrets {
 public:
  PgSecrets();
  // Adds `text` (and nothing when empty).
  void Add(std::string_view text);
  // `text` with every occurrence of an added text replaced by "***".
  std::string Redact(std::string text) const;

 private:
  std::array<unsigned char, 32> key_{};
  struct Entry {
    size_t size = 0;
    std::array<unsigned char, 16> hash{};
  };
  std::vector<Entry> entries_;
};

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
  // connection. The first session of a process marks it undumpable (no core
  // file can then show a password), and the session clears the buffers of
  // the password it can reach once connected. Errors: 6101 when the server
  // refuses the login (naming host, port and database), 6201 when it cannot
  // be reached, has no such database, the URI is malformed (never shown) or
  // its kdx_read_timeout is no number of seconds, or the tables cannot be
  // locked (a lock_timeout of 8 s).
  static Status Open(const std::string& uri, std::unique_ptr<PgSession>* session);
  // Closes the connection without waiting for the server: the server ends
  // the transaction (and releases its locks) when it sees the close.
  ~PgSession();
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // The server in messages: "PostgreSQL server HOST:PORT, database DB".
  const std::string& name() const { return name_; }
  // The connection, for requests of the session's own modules.
  pg_conn* conn() const { return conn_; }
  // The server process serving the session (pg_backend_pid), for tests.
  int backend_pid() const;
  // The most bytes a character of the database's encoding takes (4 for
  // UTF8, 1 for LATIN1): char(n) and varchar(n) count characters, and the
  // engine sizes their columns in bytes by it.
  int max_char_bytes() const { return max_char_bytes_; }
  // The read timeout of the session.
  std::chrono::seconds read_timeout() const { return read_timeout_; }

  // Prepares `sql` ($1.. places) as a server-side statement, once per session
  // and text: the same text again gives the same statement. A place whose
  // type the server cannot infer (":x IS NULL") is typed text. On failure,
  // the engine error `code` with `context` (what the text is, for messages).
  // `*sqlstate` (may be null) gets the server's SQLSTATE of a refusal.
  Status PrepareOnce(const std::string& sql, UNSIGNED32 code, const std::string& context,
                         const PgPrepared** prepared, std::string* sqlstate = nullptr);
  // Executes a prepared statement with text-format `values` (null: SQL NULL)
  // inside a savepoint; the result of the statement in `*result` (rows or a
  // command status). On failure, the engine error `code` with `context`.
  Status ExecPrepared(const PgPrepared& prepared, const std::vector<const char*>& values, UNSIGNED32 code,
                          const std::string& context, PgResultPtr* result);
  // Executes it once for each set of `sets`, inside one savepoint and in
  // one round trip: one result per set in `*results`, in order. A refusal
  // of any set fails them all.
  Status ExecPreparedMany(const PgPrepared& prepared, const std::vector<std::vector<const char*>>& sets,
                          UNSIGNED32 code, const std::string& context, std::vector<PgResultPtr>* results);
  // Runs `statements` in order inside one savepoint, in one round trip (the
  // extended protocol, so one statement each); `values` are the text values
  // of the first statement's $N places. One result per statement in
  // `*results`. On failure, the engine error `code` with `context`.
  Status ExecGuarded(const std::vector<std::string>& statements, const std::vector<const char*>& values,
                     UNSIGNED32 code, const std::string& context, std::vector<PgResultPtr>* results);
  // A request sent ahead of need (SendAhead), and its answer once read.
  struct Ahead {
    bool read = false;
    Status status;
    std::vector<PgResultPtr> results;  // one per statement
  };
  // Sends `statements` in order inside one savepoint, as ExecGuarded does
  // (no values), without waiting for the answer, so that the server works
  // while the caller does. The answer is read by Collect, or first thing by
  // the session's next request, whoever makes it: one request at most is
  // ahead at a time, and every request reads the answers before its own in
  // the order they were sent. A failure to send is the status of the
  // returned request, already read.
  std::shared_ptr<Ahead> SendAhead(const std::vector<std::string>& statements, UNSIGNED32 code,
                                   const std::string& context);
  // Reads the answer of `ahead` unless read already: its status.
  Status Collect(Ahead& ahead);
  // Runs `sql` (simple protocol, one or more statements, no savepoint): the
  // last statement's result in `*result` (may be null when not wanted). An
  // error leaves the transaction aborted until RollbackTo.
  Status Exec(const std::string& sql, UNSIGNED32 code, const std::string& context, PgResultPtr* result);
  // Runs `sql`, a COPY ... FROM STDIN (simple protocol, no savepoint), and
  // sends it the data `next` gives, chunk after chunk, until it gives an
  // empty chunk. A failure of `next` ends the copy, which the server then
  // refuses, and is returned; otherwise the server's refusal, with `code`
  // and `context`. An error leaves the transaction aborted.
  Status CopyIn(const std::string& sql, const std::function<Status(std::string*)>& next, UNSIGNED32 code,
                const std::string& context);
  // Rolls back to and releases `savepoint` after a failed request; keeps the
  // error already recorded (a lost connection is noticed by the next request).
  void RollbackTo(const std::string& savepoint);

  // Records the engine error for a failed request: 6202 when the connection
  // is gone, 6203 when the server cancelled the statement, else `code`; the
  // text "<context> on <server>: <server message>". `result` may be null
  // (the connection's own message is used then). Returns the code recorded.
  // A failure of this session: `code` and `text`, naming this server in
  // its detail.
  Status ServerFailure(UNSIGNED32 code, std::string text) const {
    return Status(code, std::move(text)).WithServer(name_);
  }
  Status Fail(UNSIGNED32 code, const std::string& context, const pg_result* result);
  // `text` with every form of the session's password replaced by "***".
  std::string Redact(std::string text) const;

 private:
  PgSession() = default;
  // Connects (pg_connect.cpp); Start then begins the transaction.
  Status Connect(const std::string& uri);
  Status Start();
  // Reads the answer of a request ahead, if one is; then sends SAVEPOINT,
  // whatever `send` queues (`commands` requests), RELEASE and a sync as one
  // pipeline, and collects each queued request's result.
  // A request the server refused leaves its SQLSTATE, a blank and its
  // message in `*refused`.
  Status Guarded(const std::function<bool()>& send, size_t commands, UNSIGNED32 code,
                     const std::string& context, std::vector<PgResultPtr>* results, std::string* refused = nullptr);
  // Guarded's two halves: the requests sent and flushed, then their answers read.
  Status GuardedSend(const std::function<bool()>& send, UNSIGNED32 code, const std::string& context);
  Status GuardedCollect(size_t commands, UNSIGNED32 code, const std::string& context,
                        std::vector<PgResultPtr>* results, std::string* refused);
  // Reads the answer of the request ahead, if one is.
  void SettleAhead();
  Status LostAlready(const std::string& context);
  // Sends `sql` (simple protocol) and collects its results: the last in
  // `*last`, the first refusal in `*refused`. false when nothing could be
  // read (the connection broke, or the read timed out: the session is then
  // lost and `*timed_out` set); records no error.
  bool Roundtrip(const std::string& sql, PgResultPtr* last, PgResultPtr* refused, bool* timed_out);
  // Waiting for the server, a read timeout at most without a byte from it.
  enum class Io { kOk, kTimedOut, kBroken };
  Io Flush();
  Io AwaitResult();
  // After a read timeout: cancels the statement (without waiting for the
  // cancel to be delivered) and closes the connection; the session is lost.
  void Abandon();
  // The error of a request that timed out or broke.
  Status IoFailed(Io io, UNSIGNED32 code, const std::string& context);

  pg_conn* conn_ = nullptr;
  std::string name_;
  PgSecrets secrets_;  // the password as given and as decoded, as hashes
  std::chrono::seconds read_timeout_{kDefaultReadTimeoutSeconds};
  int max_char_bytes_ = 1;
  bool lost_ = false;
  std::map<std::string, PgPrepared> prepared_;  // by text
  int next_statement_ = 0;  // numbers the server-side statement names
  std::shared_ptr<Ahead> ahead_;  // sent and not read yet
  size_t ahead_commands_ = 0;
  UNSIGNED32 ahead_code_ = 0;
  std::string ahead_context_;
  Status ahead_failure_;  // the failure of a request ahead that lost the connection
};

}  // namespace engine

#endif  // KDX_ENGINE_PG_SESSION_H_
