// Requests of a server session and the engine errors they end in.
#include "engine/pg_session.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "engine/errors.h"
#include "engine/faults.h"
#include "engine/pg_codes.h"

namespace engine {
namespace {

constexpr char kGuard[] = "kdx_guard";
constexpr Oid kTextOid = 25;
// The server's own limit on the places of a statement.
constexpr size_t kMaxPlaces = 65535;

bool Succeeded(const PGresult* result) {
  const ExecStatusType status = PQresultStatus(result);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// A server or libpq message on one line, without the severity libpq puts
// before its own copy of it.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  for (const char* prefix : {"ERROR:  ", "FATAL:  "}) {
    if (text.rfind(prefix, 0) == 0) text.erase(0, std::char_traits<char>::length(prefix));
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  size_t at;
  while ((at = text.find("  ")) != std::string::npos) text.erase(at, 1);
  return text;
}

// SQLSTATEs of a connection the server ended: class 08 and 57P01-57P03
// (terminated by an administrator, crash, shutting down).
bool MeansLost(const std::string& sqlstate) {
  return sqlstate.rfind("08", 0) == 0 || sqlstate == "57P01" || sqlstate == "57P02" || sqlstate == "57P03";
}

// The number N of "$N" in the server's refusal of a statement whose place
// $N has a type it cannot infer (SQLSTATE 42P18), or 0.
size_t UninferredPlace(const std::string& refused) {
  if (refused.rfind("42P18 ", 0) != 0) return 0;
  const size_t dollar = refused.find('$');
  if (dollar == std::string::npos) return 0;
  return static_cast<size_t>(std::strtoul(refused.c_str() + dollar + 1, nullptr, 10));
}

bool Send(PGconn* conn, const char* sql) {
  return !FaultHere(kServer) && PQsendQueryParams(conn, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
}

}  // namespace

void PgResultDeleter::operator()(pg_result* result) const { PQclear(result); }

PgSession::~PgSession() {
  if (conn_ != nullptr) PQfinish(conn_);
}

int PgSession::backend_pid() const { return conn_ != nullptr ? PQbackendPID(conn_) : 0; }

std::string PgSession::Redact(std::string text) const { return secrets_.Redact(std::move(text)); }

PgSession::Io PgSession::Flush() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + read_timeout_;
  for (;;) {
    const int pending = PQflush(conn_);
    if (pending == 0) return Io::kOk;
    if (pending < 0) return Io::kBroken;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Io::kTimedOut;
    pollfd wait{PQsocket(conn_), POLLIN | POLLOUT, 0};
    const int rc = poll(&wait, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return Io::kBroken;
    if (rc == 0) return Io::kTimedOut;
    // The server may answer while the rest is sent; reading keeps it going.
    if ((wait.revents & POLLIN) != 0 && PQconsumeInput(conn_) != 1) return Io::kBroken;
    deadline = Clock::now() + read_timeout_;
  }
}

PgSession::Io PgSession::AwaitResult() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + read_timeout_;
  while (PQisBusy(conn_) == 1) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Io::kTimedOut;
    pollfd wait{PQsocket(conn_), POLLIN, 0};
    const int rc = poll(&wait, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return Io::kBroken;
    if (rc == 0) return Io::kTimedOut;
    if (PQconsumeInput(conn_) != 1) return Io::kBroken;
    deadline = Clock::now() + read_timeout_;  // bytes came: the server is alive
  }
  return Io::kOk;
}

void PgSession::Abandon() {
  // The cancel request goes over a connection of its own, which could wait
  // as long as the server does: it is sent from a thread nobody waits for.
  if (PGcancel* cancel = PQgetCancel(conn_)) {
    std::thread([cancel] {
      char error[256];
      PQcancel(cancel, error, sizeof error);
      PQfreeCancel(cancel);
    }).detach();
  }
  PQfinish(conn_);
  conn_ = nullptr;
  lost_ = true;
}

Status PgSession::IoFailed(Io io, UNSIGNED32 code, const std::string& context) {
  if (io == Io::kTimedOut) {
    Abandon();
    return ServerFailure(AE_KDX_PG_TIMEOUT,
                    Redact("No answer from " + name_ + " within " + std::to_string(read_timeout_.count()) +
                           " seconds (" + context + "); the statement was cancelled and the connection closed. "
                           "The read timeout is the URI's " + kReadTimeoutOption + " option"));
  }
  lost_ = true;
  return Fail(code, context, nullptr);
}

bool PgSession::Roundtrip(const std::string& sql, PgResultPtr* last, PgResultPtr* refused, bool* timed_out) {
  *timed_out = false;
  SettleAhead();
  if (lost_ || conn_ == nullptr) return false;
  Io io = !FaultHere(kServer) && PQsendQuery(conn_, sql.c_str()) == 1 ? Flush() : Io::kBroken;
  while (io == Io::kOk) {
    io = AwaitResult();
    if (io != Io::kOk) break;
    PgResultPtr reply(PQgetResult(conn_));
    if (reply == nullptr) return true;
    if (!Succeeded(reply.get()) && *refused == nullptr) {
      *refused = std::move(reply);
    } else {
      *last = std::move(reply);
    }
  }
  if (io == Io::kTimedOut) {
    *timed_out = true;
    Abandon();
  } else {
    lost_ = true;
  }
  return false;
}

Status PgSession::Fail(UNSIGNED32 code, const std::string& context, const pg_result* result) {
  std::string sqlstate;
  std::string message;
  if (result != nullptr) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    sqlstate = state != nullptr ? state : "";
    message = primary != nullptr ? primary : PQresultErrorMessage(result);
  }
  if (message.empty() && conn_ != nullptr) message = PQerrorMessage(conn_);
  message = OneLine(message);
  if (message.empty()) message = "no message from the server";
  if (lost_ || conn_ == nullptr || PQstatus(conn_) == CONNECTION_BAD || MeansLost(sqlstate)) {
    lost_ = true;
    return ServerFailure(AE_KDX_PG_CONNECTION_LOST,
                    Redact("Lost the connection to " + name_ + " (" + context + "): " + message));
  }
  if (sqlstate == "57014") {
    return ServerFailure(AE_KDX_PG_CANCELLED, Redact(context + " on " + name_ + " was cancelled: " + message));
  }
  return ServerFailure(code, Redact(context + " on " + name_ + ": " + message));
}

Status PgSession::LostAlready(const std::string& context) {
  // A request sent ahead that lost the connection is what failed, whoever
  // noticed: its own failure names what the server did not answer.
  if (!ahead_failure_.ok()) return ahead_failure_;
  return ServerFailure(AE_KDX_PG_CONNECTION_LOST,
                  Redact("The connection to " + name_ + " was lost earlier in the run (" + context + ")"));
}

Status PgSession::Exec(const std::string& sql, UNSIGNED32 code, const std::string& context, PgResultPtr* result) {
  if (lost_) return LostAlready(context);
  PgResultPtr last;
  PgResultPtr refused;
  bool timed_out = false;
  if (!Roundtrip(sql, &last, &refused, &timed_out)) {
    return IoFailed(timed_out ? Io::kTimedOut : Io::kBroken, code, context);
  }
  if (refused != nullptr) return Fail(code, context, refused.get());
  if (last == nullptr) return Fail(code, context, nullptr);
  if (result != nullptr) *result = std::move(last);
  return Status();
}

Status PgSession::CopyIn(const std::string& sql, const std::function<Status(std::string*)>& next, UNSIGNED32 code,
                         const std::string& context) {
  SettleAhead();
  if (lost_) return LostAlready(context);
  Io io = !FaultHere(kServer) && PQsendQuery(conn_, sql.c_str()) == 1 ? Flush() : Io::kBroken;
  if (io == Io::kOk) io = AwaitResult();
  if (io != Io::kOk) return IoFailed(io, code, context);
  PgResultPtr start(PQgetResult(conn_));
  Status failure;
  if (start == nullptr || PQresultStatus(start.get()) != PGRES_COPY_IN) {
    failure = Fail(code, context, start.get());
  } else {
    std::string chunk;
    for (;;) {
      chunk.clear();
      if (Status given = next(&chunk); !given.ok()) {
        failure = given;
        break;
      }
      if (chunk.empty()) break;
      int put = 0;
      while ((put = PQputCopyData(conn_, chunk.data(), static_cast<int>(chunk.size()))) == 0) {
        if (Io flushed = Flush(); flushed != Io::kOk) return IoFailed(flushed, code, context);
      }
      if (put < 0) return IoFailed(Io::kBroken, code, context);
    }
    int ended = 0;
    const char* abort_reason = failure.ok() ? nullptr : "the rows to copy could not be read";
    while ((ended = PQputCopyEnd(conn_, abort_reason)) == 0) {
      if (Io flushed = Flush(); flushed != Io::kOk) return IoFailed(flushed, code, context);
    }
    if (ended < 0) return IoFailed(Io::kBroken, code, context);
    if (Io flushed = Flush(); flushed != Io::kOk) return IoFailed(flushed, code, context);
  }
  // The copy's own result, then the end of the request.
  for (;;) {
    if (Io awaited = AwaitResult(); awaited != Io::kOk) return IoFailed(awaited, code, context);
    PgResultPtr reply(PQgetResult(conn_));
    if (reply == nullptr) break;
    if (failure.ok() && !Succeeded(reply.get())) failure = Fail(code, context, reply.get());
  }
  return failure;
}

void PgSession::RollbackTo(const std::string& savepoint) {
  if (lost_ || conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) return;
  PgResultPtr last;
  PgResultPtr refused;
  bool timed_out = false;
  Roundtrip("ROLLBACK TO SAVEPOINT " + savepoint + "; RELEASE SAVEPOINT " + savepoint, &last, &refused, &timed_out);
  if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) lost_ = true;
}

Status PgSession::Guarded(const std::function<bool()>& send, size_t commands, UNSIGNED32 code,
                              const std::string& context, std::vector<PgResultPtr>* results, std::string* refused) {
  SettleAhead();
  if (Status rc = GuardedSend(send, code, context); !rc.ok()) return rc;
  return GuardedCollect(commands, code, context, results, refused);
}

Status PgSession::GuardedSend(const std::function<bool()>& send, UNSIGNED32 code, const std::string& context) {
  if (lost_) return LostAlready(context);
  const std::string savepoint = std::string("SAVEPOINT ") + kGuard;
  const std::string release = std::string("RELEASE SAVEPOINT ") + kGuard;
  if (PQenterPipelineMode(conn_) != 1) return Fail(code, context, nullptr);
  const bool sent = Send(conn_, savepoint.c_str()) && send() && Send(conn_, release.c_str()) &&
                    PQpipelineSync(conn_) == 1;
  if (!sent) {
    // Only a broken connection refuses to queue; the pipeline cannot be
    // trusted any more either way.
    Status rc = Fail(code, context, nullptr);
    lost_ = true;
    return rc;
  }
  if (Io io = Flush(); io != Io::kOk) return IoFailed(io, code, context);
  return Status();
}

Status PgSession::GuardedCollect(size_t commands, UNSIGNED32 code, const std::string& context,
                                 std::vector<PgResultPtr>* results, std::string* refused) {
  // One result per request (each followed by a null), then the sync's.
  std::vector<PgResultPtr> replies;
  const size_t requests = commands + 2;
  while (replies.size() < requests && PQstatus(conn_) == CONNECTION_OK) {
    if (Io io = AwaitResult(); io != Io::kOk) return IoFailed(io, code, context);
    PgResultPtr reply(PQgetResult(conn_));
    if (reply == nullptr) break;
    for (;;) {
      if (Io io = AwaitResult(); io != Io::kOk) return IoFailed(io, code, context);
      PGresult* extra = PQgetResult(conn_);
      if (extra == nullptr) break;
      PQclear(extra);
    }
    replies.push_back(std::move(reply));
  }
  if (replies.size() < requests || PQstatus(conn_) != CONNECTION_OK) {
    // The connection broke mid-pipeline: nothing more can be read from it.
    lost_ = true;
    return Fail(code, context, replies.empty() ? nullptr : replies.back().get());
  }
  if (Io io = AwaitResult(); io != Io::kOk) return IoFailed(io, code, context);
  PQclear(PQgetResult(conn_));  // PGRES_PIPELINE_SYNC
  PQexitPipelineMode(conn_);
  for (size_t i = 0; i < replies.size(); ++i) {
    if (Succeeded(replies[i].get())) continue;
    if (refused != nullptr) {
      const char* state = PQresultErrorField(replies[i].get(), PG_DIAG_SQLSTATE);
      const char* message = PQresultErrorField(replies[i].get(), PG_DIAG_MESSAGE_PRIMARY);
      *refused = std::string(state != nullptr ? state : "") + " " + (message != nullptr ? message : "");
    }
    Status rc = Fail(code, context, replies[i].get());
    RollbackTo(kGuard);
    return rc;
  }
  results->clear();
  for (size_t i = 1; i <= commands; ++i) results->push_back(std::move(replies[i]));
  return Status();
}

std::shared_ptr<PgSession::Ahead> PgSession::SendAhead(const std::vector<std::string>& statements, UNSIGNED32 code,
                                                       const std::string& context) {
  SettleAhead();
  auto ahead = std::make_shared<Ahead>();
  auto send = [&] {
    for (const std::string& statement : statements) {
      if (!Send(conn_, statement.c_str())) return false;
    }
    return true;
  };
  if (Status rc = GuardedSend(send, code, context); !rc.ok()) {
    if (lost_ && ahead_failure_.ok()) ahead_failure_ = rc;
    ahead->read = true;
    ahead->status = std::move(rc);
    return ahead;
  }
  ahead_ = ahead;
  ahead_commands_ = statements.size();
  ahead_code_ = code;
  ahead_context_ = context;
  return ahead;
}

void PgSession::SettleAhead() {
  if (ahead_ == nullptr) return;
  // Out of the session first: reading it may roll back to the savepoint,
  // which is a request of its own.
  std::shared_ptr<Ahead> ahead = std::move(ahead_);
  ahead_.reset();
  ahead->status = GuardedCollect(ahead_commands_, ahead_code_, ahead_context_, &ahead->results, nullptr);
  ahead->read = true;
  if (lost_ && ahead_failure_.ok()) ahead_failure_ = ahead->status;
}

Status PgSession::Collect(Ahead& ahead) {
  // A request not read yet is the one ahead: every other request reads it
  // before its own.
  if (!ahead.read && ahead_.get() == &ahead) SettleAhead();
  return ahead.status;
}

Status PgSession::PrepareOnce(const std::string& sql, UNSIGNED32 code, const std::string& context,
                                  const PgPrepared** prepared, std::string* sqlstate) {
  auto found = prepared_.find(sql);
  if (found != prepared_.end()) {
    *prepared = &found->second;
    return Status();
  }
  PgPrepared made;
  made.name = "kdx_" + std::to_string(++next_statement_);
  std::vector<PgResultPtr> results;
  std::vector<Oid> types;  // 0: the server infers the type
  auto send = [&] {
    return PQsendPrepare(conn_, made.name.c_str(), sql.c_str(), static_cast<int>(types.size()), types.data()) == 1 &&
           PQsendDescribePrepared(conn_, made.name.c_str()) == 1;
  };
  for (;;) {
    std::string refused;
    Status rc = Guarded(send, 2, code, context, &results, &refused);
    if (rc.ok()) break;
    const size_t place = UninferredPlace(refused);
    if (place == 0 || place > kMaxPlaces || (place <= types.size() && types[place - 1] != 0)) {
      if (sqlstate != nullptr) *sqlstate = refused.substr(0, refused.find(' '));
      return rc;
    }
    types.resize(std::max(types.size(), place), 0);
    types[place - 1] = kTextOid;
  }
  for (int i = 0; i < PQnparams(results[1].get()); ++i) made.param_types.push_back(PQparamtype(results[1].get(), i));
  *prepared = &prepared_.emplace(sql, std::move(made)).first->second;
  return Status();
}

Status PgSession::ExecPrepared(const PgPrepared& prepared, const std::vector<const char*>& values,
                                   UNSIGNED32 code, const std::string& context, PgResultPtr* result) {
  std::vector<PgResultPtr> results;
  if (Status rc = ExecPreparedMany(prepared, {values}, code, context, &results); !rc.ok()) return rc;
  *result = std::move(results[0]);
  return Status();
}

Status PgSession::ExecPreparedMany(const PgPrepared& prepared, const std::vector<std::vector<const char*>>& sets,
                                   UNSIGNED32 code, const std::string& context, std::vector<PgResultPtr>* results) {
  auto send = [&] {
    for (const std::vector<const char*>& values : sets) {
      if (PQsendQueryPrepared(conn_, prepared.name.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                              nullptr, 0) != 1) {
        return false;
      }
    }
    return true;
  };
  return Guarded(send, sets.size(), code, context, results);
}

Status PgSession::ExecGuarded(const std::vector<std::string>& statements, const std::vector<const char*>& values,
                              UNSIGNED32 code, const std::string& context, std::vector<PgResultPtr>* results) {
  auto send = [&] {
    for (size_t i = 0; i < statements.size(); ++i) {
      const int count = i == 0 ? static_cast<int>(values.size()) : 0;
      if (FaultHere(kServer) || PQsendQueryParams(conn_, statements[i].c_str(), count, nullptr,
                                                  count > 0 ? values.data() : nullptr, nullptr, nullptr, 0) != 1) {
        return false;
      }
    }
    return true;
  };
  return Guarded(send, statements.size(), code, context, results);
}

}  // namespace engine

const char* PgCodeText(UNSIGNED32 code) {
  switch (code) {
    case AE_KDX_PG_CONNECT: return "The PostgreSQL server cannot be reached";
    case AE_KDX_PG_CONNECTION_LOST: return "The connection to the PostgreSQL server was lost";
    case AE_KDX_PG_CANCELLED: return "The PostgreSQL server cancelled the statement";
    case AE_KDX_PG_SERVER: return "The PostgreSQL server refused a read";
    case AE_KDX_PG_AMBIGUOUS: return "Two names on the PostgreSQL server differ only in letter case";
    case AE_KDX_PG_NO_ORDER: return "A table on the PostgreSQL server has no stable row order";
    case AE_KDX_PG_TIMEOUT: return "The PostgreSQL server did not answer within the read timeout";
    default: return "";
  }
}
