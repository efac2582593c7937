#include "engine/server_statement.h"

#include <cstdio>
#include <optional>
#include <set>
#include <vector>

#include "engine/errors.h"
#include "engine/pg_catalog.h"
#include "engine/pg_session.h"
#include "engine/result_stream.h"
#include "engine/server_stream.h"
#include "engine/sql_codes.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {
namespace {

// A bound value in the server's text format for its place. An empty text
// for a place the server does not take as text (a number, a date) is NULL:
// it then matches no row, as on table files, instead of being refused.
std::optional<std::string> ServerText(const BoundValue& v, PlaceKind kind, bool text_place) {
  switch (v.kind) {
    case BoundValue::Kind::kNull:
      return std::nullopt;
    case BoundValue::Kind::kText:
      if (v.bytes.empty() && !text_place) return std::nullopt;
      return v.bytes;
    case BoundValue::Kind::kDouble: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.17g", v.number);
      return std::string(buffer);
    }
    case BoundValue::Kind::kLogical:
      return std::string(v.number != 0 ? "1" : "0");  // a boolean or a number place takes either
    case BoundValue::Kind::kBinary: {
      static const char kHex[] = "0123456789abcdef";
      std::string text = "\\x";
      for (unsigned char c : v.bytes) {
        text += kHex[c >> 4];
        text += kHex[c & 15];
      }
      return text;
    }
    default:
      return PlaceText(v, kind);
  }
}

// Most executions a statement keeps queued or read ahead: their rows are
// held in memory until executed.
constexpr size_t kMaxQueued = 1024;

// Whether the server can read `text` through a cursor: a SELECT.
bool IsQueryText(const std::string& text) {
  size_t at = text.find_first_not_of(" \t\r\n(");
  return at != std::string::npos && text.size() - at >= 6 && EqualsNoCase(text.substr(at, 6), "SELECT");
}

}  // namespace

Status ServerStatement::SetTablePassword(const std::string& table, const std::string&) {
  if (table.empty()) return Status(AE_KDX_INVALID_ARGUMENT, "AdsStmtSetTablePassword: the table name is empty");
  return Status();
}

void ServerStatement::Forget() {
  query_.reset();
  queued_.clear();
  read_ahead_.clear();
  visible_.clear();
  prepared_ = false;
}

Status ServerStatement::PrepareText() {
  auto query = std::make_unique<PgQuery>();
  visible_.clear();
  if (Status rc = query->Prepare(connection_->session(), text_, connection_->catalog()); !rc.ok()) return rc;
  place_kinds_ = query->place_kinds();
  query_ = std::move(query);
  return Status();
}

ServerStatement::Values ServerStatement::ServerValues() const {
  Values values(places_.size());
  for (size_t i = 0; i < places_.size(); ++i) {
    // An unbound place is NULL.
    if (bound_[i]) values[i] = ServerText(values_[i], place_kinds_[i], query_->text_places()[i]);
  }
  return values;
}

bool ServerStatement::QueueBound() {
  if (options_.streamed != 0 || !IsQueryText(query_->server_text())) return false;
  if (queued_.size() + read_ahead_.size() >= kMaxQueued) return false;
  queued_.push_back(ServerValues());
  return true;
}

Status ServerStatement::ReadRows(const Values& values, std::unique_ptr<PgRows>* rows) {
  if (auto found = read_ahead_.find(values); found != read_ahead_.end()) {
    *rows = std::move(found->second);
    read_ahead_.erase(found);
    return Status();
  }
  if (!queued_.empty()) {
    std::vector<Values> sets;
    sets.reserve(queued_.size() + 1);
    sets.push_back(values);
    bool own_found = false;  // this execution's own set, queued for it
    for (Values& queued : queued_) {
      if (!own_found && queued == values) {
        own_found = true;
        continue;
      }
      sets.push_back(std::move(queued));
    }
    queued_.clear();
    std::vector<std::unique_ptr<PgRows>> all;
    Status rc = query_->ExecuteMany(sets, &all);
    if (rc.ok()) {
      *rows = std::move(all[0]);
      for (size_t i = 1; i < all.size(); ++i) read_ahead_.emplace(std::move(sets[i]), std::move(all[i]));
      return Status();
    }
    // The server's refusal of one set fails every set of the request: each
    // execution then runs on its own, and fails (or not) as it would have
    // without the queue. A lost, timed-out or cancelled request is the
    // failure of this execution.
    if (rc.code() != AE_KDX_SQL_EXECUTE) return rc;
  }
  return query_->Execute(values, rows);
}

Status ServerStatement::Run(ADSHANDLE* cursor) {
  Values values = ServerValues();
  if (options_.streamed != 0 && IsQueryText(query_->server_text())) return RunStreamed(std::move(values), cursor);
  std::unique_ptr<PgRows> rows;
  if (Status rc = ReadRows(values, &rows); !rc.ok()) return rc;
  if (!rows->has_rows()) {
    *cursor = 0;
    return Status();
  }
  if (visible_.empty()) {
    if (Status rc = FindVisible(*rows); !rc.ok()) return rc;
  }
  rows->Hide(visible_);
  if (!shape_) {
    if (Status rc = BuildShape(*rows); !rc.ok()) return rc;
  }
  return StoreRows(*rows, cursor);
}

Status ServerStatement::RunStreamed(std::vector<std::optional<std::string>> values, ADSHANDLE* cursor) {
  PgSession* session = connection_->session();
  auto rows = std::make_unique<ServerCursor>(session, query_->server_text(), std::move(values), Describe());
  if (Status rc = rows->Open(StreamWindowRows()); !rc.ok()) return rc;
  PgRows& first = rows->first_rows();
  if (visible_.empty()) {
    if (Status rc = FindVisible(first); !rc.ok()) return rc;
  }
  first.Hide(visible_);
  rows->set_visible(visible_);
  if (!shape_) {
    if (Status rc = BuildShape(first); !rc.ok()) return rc;
  }
  StreamRequest request;
  request.rows = std::move(rows);
  request.shape = shape_.get();
  request.describe = Describe();
  request.place = session->name();
  request.table = shape_->table_name;
  request.connection = connection_;
  return OpenStreamedCursor(std::move(request), cursor);
}

Status ServerStatement::FindVisible(const PgRows& rows) {
  std::vector<bool> visible;
  for (const PgResultColumn& column : rows.columns()) {
    bool shown = true;
    if (column.table_oid != 0) {
      const PgTable* table = nullptr;
      if (Status rc = connection_->catalog()->TableByOid(column.table_oid, &table); !rc.ok()) return rc;
      shown = table->hidden_attnum == 0 || table->hidden_attnum != column.table_column;
    }
    visible.push_back(shown);
  }
  visible_ = std::move(visible);
  return Status();
}

Status ServerStatement::BuildShape(const PgRows& rows) {
  auto shape = std::make_unique<ResultShape>();
  std::set<std::string> used;
  const std::vector<PgResultColumn>& columns = rows.columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    ResultColumn column;
    const std::string base = columns[i].name.empty() ? "EXPR_" + std::to_string(i + 1) : columns[i].name;
    column.name = base;
    for (int n = 1; used.count(ToUpperAscii(column.name)) != 0; ++n) column.name = base + "_" + std::to_string(n);
    used.insert(ToUpperAscii(column.name));
    column.declared = columns[i].declared;
    shape->has_expressions = shape->has_expressions || column.declared.empty();
    shape->columns.push_back(std::move(column));
  }
  if (Status rc = OfferSourceIndexes(rows, shape.get()); !rc.ok()) return rc;
  SetShape(std::move(shape));
  return Status();
}

Status ServerStatement::OfferSourceIndexes(const PgRows& rows, ResultShape* shape) {
  std::set<uint32_t> sources;
  for (const PgResultColumn& column : rows.columns()) {
    if (column.table_oid != 0) sources.insert(column.table_oid);
  }
  if (sources.size() != 1) return Status();
  const PgTable* table = nullptr;
  if (Status rc = connection_->catalog()->TableByOid(*sources.begin(), &table); !rc.ok()) return rc;
  shape->table_name = table->name;
  shape->display_name = table->name + " (SQL result)";
  // The result column of each source column: the first that carries it,
  // preferring one that kept the source column's name.
  const std::vector<PgResultColumn>& columns = rows.columns();
  auto result_column = [&](const PgColumn& source) -> int {
    int found = -1;
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].table_column != source.attnum) continue;
      if (found < 0 || (!EqualsNoCase(shape->columns[found].name, source.name) &&
                        EqualsNoCase(shape->columns[i].name, source.name)))
        found = static_cast<int>(i);
    }
    return found;
  };
  for (const PgIndex& index : table->indexes) {
    std::string segments;
    bool usable = true;
    for (size_t s = 0; s < index.segments.size() && usable; ++s) {
      const int column = result_column(table->columns[static_cast<size_t>(index.segments[s])]);
      usable = column >= 0;
      if (!usable) break;
      if (!segments.empty()) segments += ", ";
      segments += QuoteIdentifier(shape->columns[static_cast<size_t>(column)].name);
      if (index.descending[s]) segments += " DESC";
    }
    if (!usable || segments.empty()) continue;
    shape->index_sql.push_back(std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                               QuoteIdentifier(table->name + "." + index.tag) + " ON " +
                               QuoteIdentifier(shape->table_name) + "(" + segments + ")");
  }
  return Status();
}

}  // namespace engine
