// Server statements and their rows.
#include "engine/pg_query.h"

#include <libpq-fe.h>

#include <map>
#include <tuple>

#include "engine/errors.h"
#include "engine/pg_catalog.h"
#include "engine/pg_values.h"
#include "engine/server_sql.h"
#include "engine/sql_codes.h"

namespace engine {
namespace {

PlaceKind KindOf(uint32_t type_oid) {
  switch (type_oid) {
    case pg_oid::kDate: return PlaceKind::kDate;
    case pg_oid::kTimestamp:
    case pg_oid::kTimestamptz: return PlaceKind::kTimestamp;
    case pg_oid::kTime:
    case pg_oid::kTimetz: return PlaceKind::kTime;
    default: return PlaceKind::kOther;
  }
}

bool IsTextType(uint32_t type_oid) {
  constexpr uint32_t kName = 19;
  constexpr uint32_t kChar = 18;
  constexpr uint32_t kUnknown = 705;
  return type_oid == pg_oid::kText || type_oid == pg_oid::kVarchar || type_oid == pg_oid::kBpchar ||
         type_oid == kName || type_oid == kChar || type_oid == kUnknown;
}

// SQLSTATEs of a text whose rows cannot take an order by columns it does
// not list: grouping_error (an aggregate) and invalid_column_reference
// (ORDER BY with DISTINCT or a set operation).
bool RefusesAddedOrder(const std::string& sqlstate) { return sqlstate == "42803" || sqlstate == "42P10"; }

// MapServerType of a result column: results of one statement come again and
// again with the same few column types, so their mappings are kept.
const PgTypeMapping& ResultColumnMapping(uint32_t type_oid, int32_t typmod, int char_bytes) {
  thread_local std::map<std::tuple<uint32_t, int32_t, int>, PgTypeMapping> mappings;
  const auto key = std::make_tuple(type_oid, typmod, char_bytes);
  auto found = mappings.find(key);
  if (found == mappings.end()) found = mappings.emplace(key, MapServerType(type_oid, typmod, false, char_bytes)).first;
  return found->second;
}

}  // namespace

PgRows::PgRows(PgResultPtr result, std::string describe, int char_bytes)
    : result_(std::move(result)), describe_(std::move(describe)) {
  has_rows_ = PQresultStatus(result_.get()) == PGRES_TUPLES_OK;
  if (!has_rows_) return;
  rows_ = PQntuples(result_.get());
  const int count = PQnfields(result_.get());
  for (int c = 0; c < count; ++c) {
    PgResultColumn column;
    column.name = PQfname(result_.get(), c);
    column.type_oid = PQftype(result_.get(), c);
    column.typmod = PQfmod(result_.get(), c);
    column.table_oid = PQftable(result_.get(), c);
    column.table_column = PQftablecol(result_.get(), c);
    const PgTypeMapping& mapping = ResultColumnMapping(column.type_oid, column.typmod, char_bytes);
    column.declared = mapping.declared;
    forms_.push_back(mapping.form);
    columns_.push_back(std::move(column));
    source_.push_back(c);
  }
  cells_.resize(count);
  scratch_.resize(count);
}

void PgRows::Hide(const std::vector<bool>& visible) {
  std::vector<PgResultColumn> columns;
  std::vector<PgValueForm> forms;
  std::vector<int> source;
  for (size_t c = 0; c < columns_.size(); ++c) {
    if (c < visible.size() && !visible[c]) continue;
    columns.push_back(columns_[c]);
    forms.push_back(forms_[c]);
    source.push_back(source_[c]);
  }
  columns_ = std::move(columns);
  forms_ = std::move(forms);
  source_ = std::move(source);
  cells_.resize(columns_.size());
  scratch_.resize(columns_.size());
}

Status PgRows::Step(bool* row) {
  *row = has_rows_ && next_ < rows_;
  if (!*row) return Status();
  const int r = static_cast<int>(next_++);
  for (size_t c = 0; c < columns_.size(); ++c) {
    const int column = source_[c];
    const char* text = PQgetisnull(result_.get(), r, column) ? nullptr : PQgetvalue(result_.get(), r, column);
    std::string why;
    if (!ToStoredForm(forms_[c], text, PQgetlength(result_.get(), r, column), &scratch_[c], &cells_[c], &why)) {
      *row = false;
      return Status(AE_KDX_SQL_EXECUTE, describe_ + ", column " + columns_[c].name + ", row " +
                                              std::to_string(row_base_ + next_) + ": " + why);
    }
  }
  return Status();
}

std::string PgQuery::Describe() const {
  std::string text = text_.size() > kQuotedTextLength ? text_.substr(0, kQuotedTextLength) + "..." : text_;
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return "SQL statement \"" + text + "\"";
}

Status PgQuery::Prepare(PgSession* session, const std::string& text, PgCatalog* catalog) {
  session_ = session;
  text_ = text;
  places_ = ScanSqlParams(text);
  server_text_.clear();
  size_t at = 0;
  for (size_t k = 0; k < places_.size(); ++k) {
    server_text_.append(text, at, places_[k].offset - at);
    server_text_ += " $" + std::to_string(k + 1) + " ";  // a token of its own whatever surrounds it
    at = places_[k].offset + places_[k].length;
  }
  server_text_.append(text, at, std::string::npos);
  prepared_ = nullptr;
  kinds_.clear();
  text_places_.clear();
  if (catalog != nullptr) {
    ServerSqlText sql;
    const auto lookup = [catalog](const std::string& name, bool exact, const PgTable** table) {
      return catalog->FindStatementTable(name, exact, table);
    };
    if (Status rc = ResolveServerSql(server_text_, lookup, session->name(), &sql); !rc.ok()) return rc;
    std::string sqlstate;
    Status rc = session->PrepareOnce(sql.ordered, AE_KDX_SQL_PREPARE, Describe(), &prepared_, &sqlstate);
    if (!rc.ok() && sql.ordered != sql.resolved) {
      // The text's own fault shows without the order; a text that refuses
      // only the order runs without it.
      Status ordered = std::move(rc);
      rc = session->PrepareOnce(sql.resolved, AE_KDX_SQL_PREPARE, Describe(), &prepared_);
      if (rc.ok() && !RefusesAddedOrder(sqlstate)) {
        prepared_ = nullptr;
        return ordered;
      }
      if (rc.ok()) sql.ordered = sql.resolved;
    }
    if (!rc.ok()) return rc;
    server_text_ = sql.ordered;
  } else if (Status rc = session->PrepareOnce(server_text_, AE_KDX_SQL_PREPARE, Describe(), &prepared_); !rc.ok()) {
    return rc;
  }
  for (uint32_t type : prepared_->param_types) {
    kinds_.push_back(KindOf(type));
    text_places_.push_back(IsTextType(type));
  }
  kinds_.resize(places_.size(), PlaceKind::kOther);
  text_places_.resize(places_.size(), true);
  return Status();
}

Status PgQuery::Execute(const std::vector<std::optional<std::string>>& values, std::unique_ptr<PgRows>* rows) {
  std::vector<std::unique_ptr<PgRows>> all;
  if (Status rc = ExecuteMany({values}, &all); !rc.ok()) return rc;
  *rows = std::move(all[0]);
  return Status();
}

Status PgQuery::ExecuteMany(const std::vector<std::vector<std::optional<std::string>>>& sets,
                            std::vector<std::unique_ptr<PgRows>>* rows) {
  if (prepared_ == nullptr) return Status(AE_KDX_SQL_NOT_PREPARED, "SQL statement: executed before it was prepared");
  std::vector<std::vector<const char*>> texts;
  for (const std::vector<std::optional<std::string>>& values : sets) {
    if (values.size() != places_.size()) {
      return Status(AE_KDX_SQL_PARAMETER, Describe() + ": " + std::to_string(values.size()) + " values for " +
                                                std::to_string(places_.size()) + " parameter places");
    }
    std::vector<const char*>& set = texts.emplace_back();
    for (const std::optional<std::string>& value : values) set.push_back(value ? value->c_str() : nullptr);
  }
  std::vector<PgResultPtr> results;
  if (Status rc = session_->ExecPreparedMany(*prepared_, texts, AE_KDX_SQL_EXECUTE, Describe(), &results); !rc.ok()) {
    return rc;
  }
  rows->clear();
  for (PgResultPtr& result : results) {
    rows->push_back(std::make_unique<PgRows>(std::move(result), Describe() + " on " + session_->name(),
                                             session_->max_char_bytes()));
  }
  return Status();
}

}  // namespace engine
