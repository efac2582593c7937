// Opening a server session: the URI, the connection with its timeouts, the
// login verdict and the session settings the value conversions rely on.
#include <libpq-fe.h>
#include <poll.h>
#include <sodium.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "engine/errors.h"
#include "engine/faults.h"
#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "engine/sql_codes.h"
#include "util/ascii.h"
#include "util/connection_path.h"

namespace engine {
namespace {

constexpr int kDefaultConnectTimeoutSeconds = 10;

// Connection options the session sets when the URI does not: a bounded
// connect, and keepalive probes that notice a server gone without a word
// within about a minute (30 s idle, then 3 probes 10 s apart).
constexpr const char* kDefaults[][2] = {
    {"keepalives", "1"},          {"keepalives_idle", "30"},
    {"keepalives_interval", "10"}, {"keepalives_count", "3"},
    {"tcp_user_timeout", "60000"}, {"fallback_application_name", "kdx-interface"},
};

// Settings the value conversions (pg_values.h) and the run depend on. A
// writer's lock on a table delays a read by at most 8 s, as the busy timeout
// does on table files; the server's own limit on idle transactions would end
// the run's one transaction between two reads. Joins run as nested loops
// without parallel workers, as on table files (the rows of statements come
// in the natural order of their tables, server_sql.h, and a plan of the
// same shape as on table files keeps that cheap). Sent before the
// transaction begins; the last statement lists the tables
// the session locks (each ONLY, quoted: "ONLY s.t, ONLY s.u"), the tables of
// the search path the login may read.
constexpr char kSessionSetup[] =
    "SET DateStyle = ISO; SET extra_float_digits = 3; SET bytea_output = hex; SET lc_monetary = 'C'; "
    "SET lock_timeout = '8s'; SET idle_in_transaction_session_timeout = 0; "
    "SET enable_hashjoin = off; SET enable_mergejoin = off; SET max_parallel_workers_per_gather = 0; "
    "SELECT pg_catalog.string_agg('ONLY ' || pg_catalog.quote_ident(n.nspname) || '.' || "
    "pg_catalog.quote_ident(c.relname), ', ' ORDER BY n.nspname, c.relname) "
    "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
    "WHERE c.relkind IN ('r', 'p') AND n.nspname = ANY (pg_catalog.current_schemas(false)) "
    "AND pg_catalog.has_table_privilege(c.oid, 'SELECT')";

// The transaction: LOCK takes no snapshot, so the SELECT after it takes the
// snapshot once every lock is granted; it reads the widest character of the
// database's encoding.
constexpr char kBegin[] = "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY; ";
constexpr char kSnapshot[] =
    "SELECT pg_catalog.pg_encoding_max_length(d.encoding) FROM pg_catalog.pg_database d "
    "WHERE d.datname = pg_catalog.current_database()";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

void ClearText(std::string* text) {
  if (!text->empty()) sodium_memzero(text->data(), text->size());
  text->clear();
}

void AddSecret(std::string raw, PgSecrets* secrets) {
  std::string decoded = PercentDecoded(raw);
  secrets->Add(raw);
  secrets->Add(decoded);
  ClearText(&raw);
  ClearText(&decoded);
}

// Every password the URI holds, read by hand so that a URI libpq cannot
// parse gives it up too: the user information up to the last "@" of the
// authority, and "password=" query parameters.
void AddUriSecrets(const std::string& uri, PgSecrets* secrets) {
  const size_t scheme = uri.find("://");
  if (scheme == std::string::npos) return;
  const size_t start = scheme + 3;
  const size_t end = std::min(uri.find('/', start), uri.find('?', start));
  std::string authority = uri.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const size_t at = authority.rfind('@');
  const size_t colon = authority.find(':');
  if (at != std::string::npos && colon != std::string::npos && colon < at) {
    AddSecret(authority.substr(colon + 1, at - colon - 1), secrets);
  }
  ClearText(&authority);
  const size_t query = uri.find('?');
  for (size_t p = query; p != std::string::npos && p < uri.size(); p = uri.find('&', p + 1)) {
    std::string pair = uri.substr(p + 1, uri.find('&', p + 1) - p - 1);
    if (pair.compare(0, 9, "password=") == 0) AddSecret(pair.substr(9), secrets);
    ClearText(&pair);
  }
}

// Frees libpq's parsed options, clearing the password among them first.
void FreeOptions(PQconninfoOption* options) {
  for (PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
    if (o->val != nullptr && std::strcmp(o->keyword, "password") == 0) sodium_memzero(o->val, std::strlen(o->val));
  }
  PQconninfoFree(options);
}

bool IsEncodingName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (!((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '_'))
      return false;
  }
  return true;
}

constexpr char kMalformedText[] =
    ": the connection URI is malformed; no part of it is shown, since it may hold a password (write an \"@\", "
    "\"/\" or \"%\" in a user name or password percent-encoded: %40, %2F, %25)";

std::string OptionOr(const PQconninfoOption* options, const char* key, const char* env, const char* fallback) {
  for (const PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, key) == 0 && o->val != nullptr && *o->val != '\0') return o->val;
  }
  const char* from_env = env != nullptr ? std::getenv(env) : nullptr;
  return from_env != nullptr && *from_env != '\0' ? from_env : fallback;
}

std::string NameOf(const std::string& host, const std::string& port, const std::string& database) {
  return "PostgreSQL server " + host + ":" + port + ", database " + database;
}

// libpq's text of a failed connection made with verbose errors, without the
// SQLSTATE after the severity and without location lines; the SQLSTATE
// (5 characters, or "") goes to `*sqlstate`.
std::string CleanConnectMessage(const std::string& text, std::string* sqlstate) {
  std::string out;
  size_t line_start = 0;
  while (line_start < text.size()) {
    size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos) line_end = text.size();
    std::string line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (line.rfind("LOCATION:", 0) == 0) continue;
    const size_t severity = line.find(":  ");
    if (severity != std::string::npos && line.size() >= severity + 10 && line[severity + 8] == ':') {
      const std::string code = line.substr(severity + 3, 5);
      bool is_code = true;
      for (char c : code) is_code = is_code && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'));
      if (is_code) {
        if (sqlstate->empty()) *sqlstate = code;
        line.erase(severity + 3, 7);
      }
    }
    while (!line.empty() && (line[0] == '\t' || line[0] == ' ')) line.erase(0, 1);
    for (size_t at; (at = line.find("  ")) != std::string::npos;) line.erase(at, 1);
    if (!line.empty()) out += (out.empty() ? "" : " ") + line;
  }
  return out;
}

// Waits for libpq's non-blocking connect to finish, `timeout` at most for
// each address tried. false when the time ran out.
bool PollConnect(PGconn* conn, std::chrono::seconds timeout) {
  using Clock = std::chrono::steady_clock;
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  int socket = -2;
  Clock::time_point deadline;
  while (status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
    const int fd = PQsocket(conn);
    if (fd < 0) return true;  // failed; the connection's message says why
    if (fd != socket) {
      socket = fd;
      deadline = Clock::now() + timeout;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd wait{fd, static_cast<short>(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
    const int rc = poll(&wait, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc == 0) return false;
    status = PQconnectPoll(conn);
  }
  return true;
}

}  // namespace

bool IsServerPath(const std::string& path) {
  constexpr std::string_view kLong = "postgresql://";
  constexpr std::string_view kShort = "postgres://";
  return (path.size() >= kLong.size() && EqualsNoCase(std::string_view(path).substr(0, kLong.size()), kLong)) ||
         (path.size() >= kShort.size() && EqualsNoCase(std::string_view(path).substr(0, kShort.size()), kShort));
}

PgSecrets::PgSecrets() {
  if (sodium_init() < 0) return;  // the key stays zero: hashes still match, only unkeyed
  randombytes_buf(key_.data(), key_.size());
}

void PgSecrets::Add(std::string_view text) {
  if (text.empty()) return;
  Entry entry;
  entry.size = text.size();
  crypto_generichash(entry.hash.data(), entry.hash.size(), reinterpret_cast<const unsigned char*>(text.data()),
                     text.size(), key_.data(), key_.size());
  for (const Entry& other : entries_) {
    if (other.size == entry.size && other.hash == entry.hash) return;
  }
  entries_.push_back(entry);
}

std::string PgSecrets::Redact(std::string text) const {
  // Longest first, so that a password is replaced whole before any shorter
  // form of it (its decoded form) is looked for.
  std::vector<Entry> entries = entries_;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.size > b.size; });
  std::array<unsigned char, 16> hash{};
  for (const Entry& entry : entries) {
    for (size_t at = 0; at + entry.size <= text.size();) {
      crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const unsigned char*>(text.data() + at),
                         entry.size, key_.data(), key_.size());
      if (hash == entry.hash) {
        text.replace(at, entry.size, "***");
        at += 3;
      } else {
        ++at;
      }
    }
  }
  return text;
}

std::string LibpqUri(const std::string& uri, int* read_timeout) {
  if (read_timeout != nullptr) *read_timeout = kDefaultReadTimeoutSeconds;
  const size_t query = uri.find('?');
  if (query == std::string::npos) return uri;
  std::string kept = uri.substr(0, query);
  const std::string prefix = std::string(kReadTimeoutOption) + "=";
  char separator = '?';
  for (size_t start = query + 1; start <= uri.size();) {
    size_t end = uri.find('&', start);
    if (end == std::string::npos) end = uri.size();
    std::string pair = uri.substr(start, end - start);
    if (pair.compare(0, prefix.size(), prefix) == 0) {
      const std::string value = pair.substr(prefix.size());
      const bool digits = !value.empty() && value.size() <= 5 &&
                          std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
      const int seconds = digits ? std::atoi(value.c_str()) : 0;
      if (read_timeout != nullptr) *read_timeout = seconds >= 1 && seconds <= kMaxReadTimeoutSeconds ? seconds : 0;
    } else if (!pair.empty()) {
      kept += separator + pair;
      separator = '&';
    }
    ClearText(&pair);  // it may be a password
    start = end + 1;
  }
  return kept;
}

std::string ServerPathName(const std::string& uri) {
  constexpr char kMalformed[] = "PostgreSQL server (malformed connection URI)";
  if (IsMalformedServerUri(uri)) return kMalformed;
  char* error = nullptr;
  std::string libpq_uri = LibpqUri(uri);
  PQconninfoOption* options = PQconninfoParse(libpq_uri.c_str(), &error);
  ClearText(&libpq_uri);
  PQfreemem(error);
  if (options == nullptr) return kMalformed;
  const std::string user = OptionOr(options, "user", "PGUSER", "");
  std::string host = OptionOr(options, "host", "PGHOST", "");
  if (host.empty()) host = OptionOr(options, "hostaddr", "PGHOSTADDR", "localhost");
  std::string name = NameOf(host, OptionOr(options, "port", "PGPORT", "5432"),
                            OptionOr(options, "dbname", "PGDATABASE", user.empty() ? "(default)" : user.c_str()));
  FreeOptions(options);
  PgSecrets secrets;
  AddUriSecrets(uri, &secrets);
  return secrets.Redact(name);
}

Status PgSession::Open(const std::string& uri, std::unique_ptr<PgSession>* session) {
  // A core file of a process that held a password would show it.
  static const bool undumpable = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
  (void)undumpable;
  std::unique_ptr<PgSession> opened(new PgSession);
  AddUriSecrets(uri, &opened->secrets_);
  opened->name_ = ServerPathName(uri);
  if (Status rc = opened->Connect(uri); !rc.ok()) return rc;
  if (Status rc = opened->Start(); !rc.ok()) return rc;
  *session = std::move(opened);
  return Status();
}

Status PgSession::Connect(const std::string& uri) {
  if (IsMalformedServerUri(uri)) return ServerFailure(AE_KDX_PG_CONNECT, std::string("Cannot connect") + kMalformedText);
  int read_timeout = 0;
  std::string libpq_uri = LibpqUri(uri, &read_timeout);
  if (read_timeout == 0) {
    return ServerFailure(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ + ": the URI's " + kReadTimeoutOption +
                                           " must be a whole number of seconds from 1 to " +
                                           std::to_string(kMaxReadTimeoutSeconds));
  }
  read_timeout_ = std::chrono::seconds(read_timeout);
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(libpq_uri.c_str(), &error);
  ClearText(&libpq_uri);
  if (options == nullptr) {
    // libpq's reason may quote the part it could not read.
    PQfreemem(error);
    return ServerFailure(AE_KDX_PG_CONNECT, std::string("Cannot connect") + kMalformedText);
  }
  std::vector<std::string> keys;
  std::vector<std::string> values;
  int timeout = 0;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val == nullptr) continue;
    keys.push_back(o->keyword);
    values.push_back(o->val);
    if (keys.back() == "password") AddSecret(values.back(), &secrets_);
    if (keys.back() == "connect_timeout") timeout = std::atoi(o->val);
  }
  FreeOptions(options);
  for (const auto& [key, value] : kDefaults) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
      keys.push_back(key);
      values.push_back(value);
    }
  }
  // libpq's own floor for connect_timeout is 2 s; a 0 would mean no limit.
  timeout = timeout <= 0 ? kDefaultConnectTimeoutSeconds : std::max(timeout, 2);
  std::vector<const char*> key_ptrs;
  std::vector<const char*> value_ptrs;
  for (size_t i = 0; i < keys.size(); ++i) {
    key_ptrs.push_back(keys[i].c_str());
    value_ptrs.push_back(values[i].c_str());
  }
  key_ptrs.push_back(nullptr);
  value_ptrs.push_back(nullptr);
  // A refused connection at this fault point is one that was never made.
  conn_ = FaultHere(kServer) ? nullptr : PQconnectStartParams(key_ptrs.data(), value_ptrs.data(), 0);
  // libpq holds its own copy now.
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == "password") ClearText(&values[i]);
  }
  if (conn_ == nullptr) return ServerFailure(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ + ": out of memory");
  // Verbose errors carry the SQLSTATE that tells a refused login from others.
  PQsetErrorVerbosity(conn_, PQERRORS_VERBOSE);
  if (PQhost(conn_) != nullptr && PQport(conn_) != nullptr && PQdb(conn_) != nullptr) {
    name_ = Redact(NameOf(PQhost(conn_), *PQport(conn_) != '\0' ? PQport(conn_) : "5432", PQdb(conn_)));
  }
  const bool answered = PQstatus(conn_) == CONNECTION_BAD || PollConnect(conn_, std::chrono::seconds(timeout));
  if (!answered) {
    return ServerFailure(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ + ": no answer within " +
                                           std::to_string(timeout) + " seconds");
  }
  if (PQstatus(conn_) == CONNECTION_OK) return Status();
  std::string sqlstate;
  const std::string message = Redact(CleanConnectMessage(PQerrorMessage(conn_), &sqlstate));
  const std::string user = PQuser(conn_) != nullptr ? PQuser(conn_) : "";
  if (PQconnectionNeedsPassword(conn_)) {
    return ServerFailure(AE_KDX_LOGIN_FAILED, "Login refused by " + name_ + " for user " + Redact(user) +
                                             ": the server asks for a password and none was given "
                                             "(in the URI, PGPASSWORD or ~/.pgpass)");
  }
  // 28P01 invalid password, 28000 no entry for the user or host.
  if (sqlstate == "28P01" || sqlstate == "28000") {
    return ServerFailure(AE_KDX_LOGIN_FAILED, "Login refused by " + name_ + " for user " + Redact(user) + ": " + message);
  }
  return ServerFailure(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ + ": " + message);
}

Status PgSession::Start() {
  PQsetErrorVerbosity(conn_, PQERRORS_DEFAULT);
  // The password from ~/.pgpass or PGPASSWORD too; libpq needs it no more.
  if (char* pass = PQpass(conn_); pass != nullptr && *pass != '\0') {
    secrets_.Add(pass);
    sodium_memzero(pass, std::strlen(pass));
  }
  if (PQsetnonblocking(conn_, 1) != 0) return Fail(AE_KDX_PG_CONNECT, "starting the session", nullptr);
  // Text bytes arrive as the database stores them.
  std::string setup = kSessionSetup;
  const char* encoding = PQparameterStatus(conn_, "server_encoding");
  if (IsEncodingName(encoding)) setup = "SET client_encoding = '" + std::string(encoding) + "'; " + setup;
  PgResultPtr tables;
  if (Status rc = Exec(setup, AE_KDX_PG_CONNECT, "starting the session", &tables); !rc.ok()) return rc;
  std::string begin = kBegin;
  if (PQntuples(tables.get()) == 1 && !PQgetisnull(tables.get(), 0, 0)) {
    begin += "LOCK TABLE " + std::string(PQgetvalue(tables.get(), 0, 0)) + " IN ACCESS SHARE MODE; ";
  }
  PgResultPtr widest;
  if (Status rc = Exec(begin + kSnapshot, AE_KDX_PG_CONNECT, "locking the tables and taking the snapshot", &widest);
      !rc.ok()) {
    return rc;
  }
  const int bytes = PQntuples(widest.get()) == 1 ? std::atoi(PQgetvalue(widest.get(), 0, 0)) : 0;
  max_char_bytes_ = bytes >= 1 && bytes <= 8 ? bytes : 4;
  return Status();
}

}  // namespace engine
