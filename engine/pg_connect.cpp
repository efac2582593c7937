// Opening a server session: the URI, the connection with its timeouts, the
// login verdict and the session settings the value conversions rely on.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "engine/errors.h"
#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "engine/sql_codes.h"
#include "util/ascii.h"

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
// without parallel workers, as on table files: the rows of a statement
// without ORDER BY (the leave statements) then come in the order of the
// table they are read from, not in an order a hash join or a parallel scan
// makes up, and the files are the same whichever backend holds the data.
constexpr char kSessionSetup[] =
    "SET DateStyle = ISO; SET extra_float_digits = 3; SET bytea_output = hex; SET lc_monetary = 'C'; "
    "SET lock_timeout = '8s'; SET idle_in_transaction_session_timeout = 0; "
    "SET enable_hashjoin = off; SET enable_mergejoin = off; SET max_parallel_workers_per_gather = 0; "
    "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY; SELECT 1";

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

void AddSecret(const std::string& raw, std::vector<std::string>* secrets) {
  for (const std::string& form : {raw, PercentDecoded(raw)}) {
    if (!form.empty()) secrets->push_back(form);
  }
}

// Every password the URI holds, read by hand so that a malformed URI (which
// libpq cannot parse) gives it up too: the user information up to the last
// "@" of the authority, and "password=" query parameters.
std::vector<std::string> UriSecrets(const std::string& uri) {
  std::vector<std::string> secrets;
  const size_t scheme = uri.find("://");
  if (scheme == std::string::npos) return secrets;
  const size_t start = scheme + 3;
  const size_t end = std::min(uri.find('/', start), uri.find('?', start));
  const std::string authority = uri.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const size_t at = authority.rfind('@');
  const size_t colon = authority.find(':');
  if (at != std::string::npos && colon != std::string::npos && colon < at) {
    AddSecret(authority.substr(colon + 1, at - colon - 1), &secrets);
  }
  const size_t query = uri.find('?');
  for (size_t p = query; p != std::string::npos && p < uri.size(); p = uri.find('&', p + 1)) {
    const std::string pair = uri.substr(p + 1, uri.find('&', p + 1) - p - 1);
    if (pair.compare(0, 9, "password=") == 0) AddSecret(pair.substr(9), &secrets);
  }
  return secrets;
}

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

std::string ServerPathName(const std::string& uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return "PostgreSQL server (malformed connection URI)";
  const std::string user = OptionOr(options, "user", "PGUSER", "");
  std::string host = OptionOr(options, "host", "PGHOST", "");
  if (host.empty()) host = OptionOr(options, "hostaddr", "PGHOSTADDR", "localhost");
  // libpq ends the user information at the first "@": the rest of a password
  // holding an unencoded "@" would read as the host.
  if (host.find('@') != std::string::npos) host = "(malformed host)";
  std::string name = NameOf(host, OptionOr(options, "port", "PGPORT", "5432"),
                            OptionOr(options, "dbname", "PGDATABASE", user.empty() ? "(default)" : user.c_str()));
  PQconninfoFree(options);
  for (const std::string& secret : UriSecrets(uri)) {
    for (size_t at = name.find(secret); at != std::string::npos; at = name.find(secret, at)) {
      name.replace(at, secret.size(), "***");
    }
  }
  return name;
}

UNSIGNED32 PgSession::Open(const std::string& uri, std::unique_ptr<PgSession>* session) {
  std::unique_ptr<PgSession> opened(new PgSession);
  opened->secrets_ = UriSecrets(uri);
  opened->name_ = opened->Redact(ServerPathName(uri));
  if (UNSIGNED32 rc = opened->Connect(uri)) return rc;
  if (UNSIGNED32 rc = opened->Start()) return rc;
  *session = std::move(opened);
  return 0;
}

UNSIGNED32 PgSession::Connect(const std::string& uri) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  if (options == nullptr) {
    std::string why = error != nullptr ? error : "out of memory";
    PQfreemem(error);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    return SetError(AE_KDX_PG_CONNECT,
                    Redact("Cannot connect to " + name_ + ": the connection URI is malformed (" + why + ")"));
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
  PQconninfoFree(options);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == "host" && values[i].find('@') != std::string::npos) {
      return SetError(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ +
                                             ": the connection URI is malformed (an \"@\" in a password must be "
                                             "written %40)");
    }
  }
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
  conn_ = PQconnectStartParams(key_ptrs.data(), value_ptrs.data(), 0);
  if (conn_ == nullptr) return SetError(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ + ": out of memory");
  // Verbose errors carry the SQLSTATE that tells a refused login from others.
  PQsetErrorVerbosity(conn_, PQERRORS_VERBOSE);
  if (PQhost(conn_) != nullptr && PQport(conn_) != nullptr && PQdb(conn_) != nullptr) {
    name_ = Redact(NameOf(PQhost(conn_), *PQport(conn_) != '\0' ? PQport(conn_) : "5432", PQdb(conn_)));
  }
  const bool answered = PQstatus(conn_) == CONNECTION_BAD || PollConnect(conn_, std::chrono::seconds(timeout));
  if (!answered) {
    return SetError(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ + ": no answer within " +
                                           std::to_string(timeout) + " seconds");
  }
  if (PQstatus(conn_) == CONNECTION_OK) return 0;
  std::string sqlstate;
  const std::string message = Redact(CleanConnectMessage(PQerrorMessage(conn_), &sqlstate));
  const std::string user = PQuser(conn_) != nullptr ? PQuser(conn_) : "";
  if (PQconnectionNeedsPassword(conn_)) {
    return SetError(AE_KDX_LOGIN_FAILED, "Login refused by " + name_ + " for user " + Redact(user) +
                                             ": the server asks for a password and none was given "
                                             "(in the URI, PGPASSWORD or ~/.pgpass)");
  }
  // 28P01 invalid password, 28000 no entry for the user or host.
  if (sqlstate == "28P01" || sqlstate == "28000") {
    return SetError(AE_KDX_LOGIN_FAILED, "Login refused by " + name_ + " for user " + Redact(user) + ": " + message);
  }
  return SetError(AE_KDX_PG_CONNECT, "Cannot connect to " + name_ + ": " + message);
}

UNSIGNED32 PgSession::Start() {
  PQsetErrorVerbosity(conn_, PQERRORS_DEFAULT);
  const char* pass = PQpass(conn_);
  if (pass != nullptr && *pass != '\0') secrets_.push_back(pass);  // from ~/.pgpass or PGPASSWORD too
  // Text bytes arrive as the database stores them.
  const char* encoding = PQparameterStatus(conn_, "server_encoding");
  if (encoding != nullptr && PQsetClientEncoding(conn_, encoding) != 0) {
    return Fail(AE_KDX_PG_CONNECT, "setting the client encoding to " + std::string(encoding), nullptr);
  }
  // The SELECT takes the transaction's snapshot now, not at the first read.
  return Exec(kSessionSetup, AE_KDX_PG_CONNECT, "starting the session", nullptr);
}

}  // namespace engine
