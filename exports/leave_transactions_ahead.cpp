#include "exports/leave_transactions_ahead.h"

#include <utility>

#include "data/query.h"
#include "util/error.h"

LeaveTransactionsAhead::LeaveTransactionsAhead(TAdsQuery& leaves, TAdsQuery& lvtx, std::vector<Binding> bindings,
                                               AlsoQueue also_queue)
    : leaves_(leaves), lvtx_(lvtx), bindings_(std::move(bindings)), also_queue_(std::move(also_queue)) {}

LeaveTransactionsAhead::~LeaveTransactionsAhead() = default;

void LeaveTransactionsAhead::BeforeOpen() {
  const size_t current = seen_++;
  if (stopped_ || current < queued_until_) return;
  const std::vector<TParam> own = lvtx_.Params();
  try {
    if (ahead_ != nullptr || Start(current)) {
      QueueFrom(current);
    } else {
      stopped_ = true;
    }
  } catch (const Exception&) {
    stopped_ = true;
  }
  lvtx_.Params() = own;
}

// Queues the current leave's own open, which tells whether the engine keeps
// queued opens at all, and only then opens the second cursor, past that
// leave.
bool LeaveTransactionsAhead::Start(size_t current) {
  if (!lvtx_.QueueOpen()) return false;
  ahead_.reset(new TAdsQuery(leaves_.Owner(), leaves_.Name() + "Ahead"));
  ahead_->SetDatabaseName(leaves_.DatabaseName());
  ahead_->SetReadAllColumns(false);
  ahead_->SetStreamed(true);
  ahead_->SetSqlText(leaves_.SqlText());
  ahead_->Params() = leaves_.Params();
  ahead_->OpenDataSet();
  for (; !ahead_->AtEof() && queued_until_ <= current; ++queued_until_) ahead_->GoNext();
  return true;
}

void LeaveTransactionsAhead::QueueFrom(size_t current) {
  for (; !ahead_->AtEof() && queued_until_ < current + kLeavesAhead; ++queued_until_) {
    for (const Binding& b : bindings_) lvtx_.ParamNamed(b.param).BindText(ahead_->ColumnByName(b.column).ReadText());
    if (!lvtx_.QueueOpen()) {
      stopped_ = true;
      return;
    }
    if (also_queue_) also_queue_(*ahead_);
    ahead_->GoNext();
  }
  if (ahead_->AtEof()) stopped_ = true;
}
