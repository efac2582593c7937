#include "engine/server_stream.h"

#include <libpq-fe.h>

#include "engine/errors.h"
#include "engine/pg_session.h"
#include "engine/sql_codes.h"

namespace engine {
namespace {

// Cursor names are unique within the process, so that a cursor declared
// again never meets the one it replaces.
uint64_t next_cursor = 0;

}  // namespace

ServerCursor::ServerCursor(PgSession* session, std::string text, std::vector<std::optional<std::string>> values,
                           std::string describe)
    : session_(session), text_(std::move(text)), values_(std::move(values)), describe_(std::move(describe)) {}

ServerCursor::~ServerCursor() {
  if (name_.empty()) return;
  // The cursor would go with the transaction anyway; closing it frees the
  // server's portal now. A failure changes nothing for the run.
  std::vector<PgResultPtr> ignored;
  static_cast<void>(session_->ExecGuarded({"CLOSE " + name_}, {}, AE_KDX_SQL_EXECUTE, describe_, &ignored));
}

std::string ServerCursor::Declare() {
  name_ = "kdx_stream_" + std::to_string(++next_cursor);
  next_ = 1;
  ended_ = false;
  return "DECLARE " + name_ + " NO SCROLL CURSOR FOR " + text_;
}

Status ServerCursor::Open(size_t limit) {
  if (Status rc = Fetch({Declare(), "FETCH " + std::to_string(limit) + " FROM " + name_}, true, 1, limit); !rc.ok()) {
    return rc;
  }
  first_ = std::move(rows_);
  first_limit_ = limit;
  return Status();
}

Status ServerCursor::Fetch(const std::vector<std::string>& statements, bool declares, int64_t from, size_t limit) {
  std::vector<const char*> values;
  if (declares) {
    for (const std::optional<std::string>& value : values_) values.push_back(value ? value->c_str() : nullptr);
  }
  std::vector<PgResultPtr> results;
  ++requests_;
  if (Status rc = session_->ExecGuarded(statements, values, AE_KDX_SQL_EXECUTE, describe_, &results); !rc.ok()) {
    name_.clear();  // the next read declares a cursor of its own
    return rc;
  }
  TakeRows(std::move(results.back()), from, limit);
  FetchAhead(limit);
  return Status();
}

void ServerCursor::TakeRows(PgResultPtr result, int64_t from, size_t limit) {
  rows_ = std::make_unique<PgRows>(std::move(result), describe_ + " on " + session_->name(), session_->max_char_bytes());
  if (!visible_.empty()) rows_->Hide(visible_);
  rows_->NumberRowsAfter(from - 1);
  next_ = from + rows_->row_count();
  ended_ = static_cast<size_t>(rows_->row_count()) < limit;
  position_ = from;
}

void ServerCursor::FetchAhead(size_t limit) {
  if (ended_ || name_.empty() || !fetch_ahead_) return;
  ++requests_;
  ahead_ = session_->SendAhead({"FETCH " + std::to_string(limit) + " FROM " + name_}, AE_KDX_SQL_EXECUTE, describe_);
  ahead_from_ = next_;
  ahead_limit_ = limit;
}

Status ServerCursor::CollectAhead(int64_t from, size_t limit, bool* taken) {
  *taken = false;
  if (ahead_ == nullptr) return Status();
  const std::shared_ptr<PgSession::Ahead> ahead = std::move(ahead_);
  ahead_.reset();
  const bool wanted = from == ahead_from_ && limit == ahead_limit_;
  // A reader that does not go on where the last window ended (a count, a
  // step back) has its cursor declared again; it gets no more windows sent
  // ahead, so that it costs that once.
  if (!wanted) fetch_ahead_ = false;
  if (Status rc = session_->Collect(*ahead); !rc.ok()) {
    name_.clear();  // the next read declares a cursor of its own
    *taken = wanted;
    return wanted ? rc : Status();
  }
  TakeRows(std::move(ahead->results.back()), ahead_from_, ahead_limit_);
  if (!wanted) return Status();
  *taken = true;
  FetchAhead(limit);
  return Status();
}

Status ServerCursor::Start(int64_t key, size_t limit) {
  const int64_t from = key < 1 ? 1 : key;
  if (first_ != nullptr && from == 1 && limit == first_limit_) {
    rows_ = std::move(first_);
    position_ = 1;
    return Status();
  }
  first_.reset();
  bool taken = false;
  if (Status rc = CollectAhead(from, limit, &taken); taken || !rc.ok()) return rc;
  const std::string fetch = "FETCH " + std::to_string(limit) + " FROM ";
  if (from < next_ || name_.empty()) {
    std::vector<std::string> statements;
    const std::string old = name_;
    statements.push_back(Declare());
    if (!old.empty()) statements.push_back("CLOSE " + old);
    if (from > 1) statements.push_back("MOVE FORWARD " + std::to_string(from - 1) + " FROM " + name_);
    statements.push_back(fetch + name_);
    return Fetch(statements, true, from, limit);
  }
  if (ended_) {  // no row lies at or after the end
    rows_.reset();
    position_ = from;
    return Status();
  }
  std::vector<std::string> statements;
  if (from > next_) statements.push_back("MOVE FORWARD " + std::to_string(from - next_) + " FROM " + name_);
  statements.push_back(fetch + name_);
  return Fetch(statements, false, from, limit);
}

Status ServerCursor::Step(bool* row) {
  *row = false;
  if (rows_ == nullptr) return Status();
  if (Status rc = rows_->Step(row); !rc.ok() || !*row) return rc;
  ++position_;
  return Status();
}

}  // namespace engine
