#include "engine/server_windows.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

#include "engine/errors.h"
#include "engine/pg_codes.h"
#include "engine/pg_mirror.h"
#include "engine/pg_session.h"
#include "util/ascii.h"

namespace engine {
namespace {

// Forms whose stored value orders and compares on the server as in SQLite.
bool ExactlyOrdered(PgValueForm form) {
  return form == PgValueForm::kCharacter || form == PgValueForm::kInteger || form == PgValueForm::kDate;
}

std::string Param(size_t number) { return "$" + std::to_string(number); }

// Most windows queued and read ahead at a time, per table.
constexpr size_t kMaxQueuedWindows = 1024;

}  // namespace

std::unique_ptr<ServerWindows> ServerWindows::For(PgSession* session, const PgTable* table, const EngineTable& loaded,
                                                  sqlite3* db) {
  const std::string key = PgIntegerKey(*table);
  if (key.empty() || loaded.indexes().size() != table->indexes.size()) return nullptr;

  std::unique_ptr<ServerWindows> windows(new ServerWindows(session, table, db, key));
  bool any = false;
  for (size_t i = 0; i < table->indexes.size(); ++i) {
    const PgIndex& index = table->indexes[i];
    if (!EqualsNoCase(index.tag, loaded.indexes()[i].name)) return nullptr;
    bool candidate = index.byte_order && !index.segments.empty();
    for (size_t s = 0; s < index.segments.size() && candidate; ++s) {
      candidate = !index.descending[s] && ExactlyOrdered(table->columns[static_cast<size_t>(index.segments[s])].form);
    }
    windows->served_.push_back(candidate ? -1 : 0);
    any = any || candidate;
  }
  if (!any) return nullptr;

  const std::string rowid = PgRowidName(*table);
  std::string names, places;
  windows->select_ = "SELECT ";
  for (size_t c = 0; c < table->columns.size(); ++c) {
    names += QuoteIdentifier(table->columns[c].name) + ", ";
    places += "?" + std::to_string(c + 1) + ", ";
    windows->select_ += table->columns[c].select + ", ";
  }
  windows->select_ += key + " FROM " + table->qualified;
  const std::string target = "main." + QuoteIdentifier(table->name);
  const std::string insert = "INSERT INTO " + target + "(" + names + rowid + ") VALUES(" + places + "?" +
                             std::to_string(table->columns.size() + 1) + ")";
  const std::string clear = "DELETE FROM " + target;
  if (sqlite3_prepare_v2(db, insert.c_str(), -1, windows->insert_.out(), nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, clear.c_str(), -1, windows->clear_.out(), nullptr) != SQLITE_OK) {
    return nullptr;  // the table is then read whole, as without windows
  }
  return windows;
}

std::string ServerWindows::Where() const { return " on " + session_->name(); }

Status ServerWindows::Serves(int index, bool* serves) {
  *serves = false;
  if (index < 0 || static_cast<size_t>(index) >= served_.size()) return Status();
  int& served = served_[static_cast<size_t>(index)];
  if (served < 0) {
    // NULLs sort first in the engine's indexes and last in the server's:
    // an index whose keys hold none in the snapshot orders alike.
    std::string nullable;
    for (int segment : table_->indexes[static_cast<size_t>(index)].segments) {
      const PgColumn& column = table_->columns[static_cast<size_t>(segment)];
      if (!column.not_null) nullable += (nullable.empty() ? "" : " OR ") + QuoteIdentifier(column.name) + " IS NULL";
    }
    served = 1;
    if (!nullable.empty()) {
      const std::string sql = "SELECT EXISTS (SELECT 1 FROM " + table_->qualified + " WHERE " + nullable + ")";
      const std::string context = "reading table " + table_->name;
      const PgPrepared* prepared = nullptr;
      PgResultPtr result;
      if (Status rc = session_->PrepareOnce(sql, AE_KDX_PG_SERVER, context, &prepared); !rc.ok()) return rc;
      if (Status rc = session_->ExecPrepared(*prepared, {}, AE_KDX_PG_SERVER, context, &result); !rc.ok()) return rc;
      served = PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 0)[0] == 'f' ? 1 : 0;
    }
  }
  *serves = served == 1;
  return Status();
}

Status ServerWindows::StartOf(int index, const std::vector<SqlValue>* key, size_t key_segments, bool strict,
                              bool with_rowid, int64_t rowid, Start* start, std::string* context) {
  const PgIndex& tag = table_->indexes[static_cast<size_t>(index)];
  *context = "reading table " + table_->name + " in the order of index " + tag.tag;
  if (key == nullptr) key_segments = 0;
  if (key_segments > tag.segments.size() || (with_rowid && key_segments != tag.segments.size())) {
    return Status(AE_KDX_SQLITE, "Table " + table_->name + Where() + ": a window start its index cannot give")
        .WithTable(table_->name);
  }
  // One statement per shape of start, prepared once per session.
  const std::string shape = std::to_string(index) + "/" + std::to_string(key_segments) + (strict ? "s" : "n") +
                            (with_rowid ? "r" : "-");
  std::string& sql = statements_[shape];
  if (sql.empty()) {
    std::string order_by, lhs, rhs;
    for (size_t s = 0; s < tag.segments.size(); ++s) {
      const std::string name = QuoteIdentifier(table_->columns[static_cast<size_t>(tag.segments[s])].name);
      order_by += name + ", ";
      if (s < key_segments) {
        lhs += (s ? ", " : "") + name;
        rhs += (s ? ", " : "") + Param(s + 1);
      }
    }
    size_t places = key_segments;
    if (with_rowid) {
      lhs += ", " + natural_;
      rhs += ", " + Param(++places);
    }
    sql = select_;
    if (key_segments > 0) sql += " WHERE (" + lhs + ") " + (strict ? "> (" : ">= (") + rhs + ")";
    sql += " ORDER BY " + order_by + natural_ + " LIMIT " + Param(places + 1);
  }
  start->sql = sql;
  start->texts.clear();
  for (size_t s = 0; s < key_segments; ++s) {
    const SqlValue& value = (*key)[s];
    switch (value.type) {
      case SQLITE_INTEGER: start->texts.push_back(std::to_string(value.integer)); break;
      case SQLITE_TEXT: start->texts.push_back(value.bytes); break;
      default:
        return Status(AE_KDX_SQLITE, "Table " + table_->name + Where() + ", index " + tag.tag +
                                         ": a key value of another kind than its column")
            .WithTable(table_->name);
    }
  }
  if (with_rowid) start->texts.push_back(std::to_string(rowid));
  return Status();
}

Status ServerWindows::Fill(int index, const std::vector<SqlValue>* key, size_t key_segments, bool strict,
                           bool with_rowid, int64_t rowid, size_t limit, std::vector<int64_t>* rowids) {
  Start start;
  std::string context;
  if (Status rc = StartOf(index, key, key_segments, strict, with_rowid, rowid, &start, &context); !rc.ok()) return rc;
  PgResultPtr rows;
  if (Status rc = Rows(start, limit, context, &rows); !rc.ok()) return rc;
  return StoreRows(rows, rowids);
}

bool ServerWindows::QueueFill(int index, const std::vector<SqlValue>& key, size_t limit) {
  if (queued_.size() + read_ahead_.size() >= kMaxQueuedWindows) return false;
  Queued queued;
  std::string context;
  if (!StartOf(index, &key, key.size(), false, false, 0, &queued.start, &context).ok()) return false;
  queued.limit = limit;
  queued_.push_back(std::move(queued));
  return true;
}

Status ServerWindows::Rows(const Start& start, size_t limit, const std::string& context, PgResultPtr* rows) {
  // The first `limit` rows of a start are those of any larger limit: the
  // same statement in the same snapshot.
  for (size_t i = 0; i < read_ahead_.size(); ++i) {
    if (read_ahead_[i].limit < limit || !(read_ahead_[i].start == start)) continue;
    *rows = std::move(read_ahead_[i].rows);
    // Seeks come in the order they were queued: those queued before this
    // one and not taken are passed by.
    read_ahead_.erase(read_ahead_.begin(), read_ahead_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return Status();
  }
  // This start's own set first, then the other windows queued for the same
  // statement; a queued window of this start with a limit as large stands
  // for its own.
  std::vector<std::vector<std::string>> sets{start.texts};
  size_t own_limit = limit;
  bool own_queued = false;
  std::vector<Queued> with;
  std::vector<Queued> kept;  // queued for other statements
  for (Queued& queued : queued_) {
    if (queued.start.sql != start.sql) {
      kept.push_back(std::move(queued));
    } else if (!own_queued && queued.limit >= limit && queued.start == start) {
      own_queued = true;
      own_limit = queued.limit;
    } else {
      sets.push_back(queued.start.texts);
      sets.back().push_back(std::to_string(queued.limit));
      with.push_back(std::move(queued));
    }
  }
  queued_ = std::move(kept);
  sets[0].push_back(std::to_string(own_limit));
  std::vector<PgResultPtr> all;
  Status rc = Ask(start.sql, sets, context, &all);
  if (rc.ok()) {
    *rows = std::move(all[0]);
    for (size_t i = 0; i < with.size(); ++i) {
      read_ahead_.push_back(ReadAhead{std::move(with[i].start), with[i].limit, std::move(all[i + 1])});
    }
    return Status();
  }
  // A refusal of any window of the request fails them all: this one is then
  // asked for alone, and fails (or not) as it would have without the queue.
  // A lost, timed-out or cancelled request is the failure of this one.
  if (with.empty() || rc.code() != AE_KDX_PG_SERVER) return rc;
  sets.resize(1);
  if (rc = Ask(start.sql, sets, context, &all); !rc.ok()) return rc;
  *rows = std::move(all[0]);
  return Status();
}

Status ServerWindows::FillRow(int64_t rowid) {
  const std::string sql = select_ + " WHERE " + natural_ + " = $1";
  std::vector<PgResultPtr> rows;
  if (Status rc = Ask(sql, {{std::to_string(rowid)}}, "reading a record of table " + table_->name, &rows); !rc.ok()) {
    return rc;
  }
  return StoreRows(rows[0], nullptr);
}

Status ServerWindows::Ask(const std::string& sql, const std::vector<std::vector<std::string>>& sets,
                          const std::string& context, std::vector<PgResultPtr>* results) {
  std::vector<std::vector<const char*>> values;
  for (const std::vector<std::string>& set : sets) {
    std::vector<const char*>& texts = values.emplace_back();
    for (const std::string& text : set) texts.push_back(text.c_str());
  }
  const PgPrepared* prepared = nullptr;
  if (Status rc = session_->PrepareOnce(sql, AE_KDX_PG_SERVER, context, &prepared); !rc.ok()) return rc;
  return session_->ExecPreparedMany(*prepared, values, AE_KDX_PG_SERVER, context, results);
}

Status ServerWindows::StoreRows(const PgResultPtr& rows, std::vector<int64_t>* rowids) {
  pg_result* result = rows.get();
  // The last window's rows give way to these in one transaction.
  if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Table " + table_->name + Where() + ": storing a window of its rows", db_);
  }
  sqlite3_reset(clear_.get());
  Status stored = sqlite3_step(clear_.get()) == SQLITE_DONE
                      ? Status()
                      : SqliteError(AE_KDX_SQLITE, "Table " + table_->name + Where() + ": clearing its last window", db_);
  sqlite3_reset(clear_.get());
  if (stored.ok()) {
    stored = PgStoreRows(*table_, result, true, db_, insert_.get(), Where(), &rows_stored_, &scratch_);
  }
  if (sqlite3_exec(db_, stored.ok() ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK && stored.ok()) {
    stored = SqliteError(AE_KDX_SQLITE, "Table " + table_->name + Where() + ": storing a window of its rows", db_);
  }
  if (!stored.ok() || rowids == nullptr) return stored;
  const int columns = static_cast<int>(table_->columns.size());
  rowids->clear();
  for (int r = 0; r < PQntuples(result); ++r) {
    rowids->push_back(std::strtoll(PQgetvalue(result, r, columns), nullptr, 10));
  }
  return Status();
}

}  // namespace engine
