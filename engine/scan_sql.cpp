#include "engine/scan_sql.h"

#include "engine/sqlite_support.h"

namespace engine {
namespace {

std::string Param(int number) { return "?" + std::to_string(number); }

// The start condition where every segment ascends in the direction of
// travel and none is NULL: the row-value form, which SQLite searches the
// index with directly. A row whose compared segment is NULL sorts first and
// is rightly left out.
std::string RowValueCondition(const ScanTable& table, const ScanOrder& order, const ScanRequest& request) {
  const size_t segments = request.key_null.size();
  std::string lhs, rhs;
  for (size_t i = 0; i < segments; ++i) {
    lhs += (i ? ", " : "") + QuoteIdentifier(order.columns[i]);
    rhs += (i ? ", " : "") + Param(request.filter_parameters + static_cast<int>(i) + 1);
  }
  if (request.with_rowid) {
    lhs += (segments ? ", " : "") + table.rowid_name;
    rhs += (segments ? ", " : "") + Param(request.filter_parameters + static_cast<int>(segments) + 1);
  }
  return "(" + lhs + ") " + (request.strict ? ">" : ">=") + " (" + rhs + ")";
}

// The start condition in general: a lexicographic expansion that places
// NULL where SQLite sorts it (first in ascending order).
std::string ExpandedCondition(const ScanTable& table, const ScanOrder& order, const ScanRequest& request) {
  const size_t segments = request.key_null.size();
  const bool forward = request.forward;
  std::string tail;
  if (request.with_rowid) {
    tail = table.rowid_name + (forward ? (request.strict ? " > " : " >= ") : (request.strict ? " < " : " <= ")) +
           Param(request.filter_parameters + static_cast<int>(segments) + 1);
  } else {
    tail = request.strict ? "0" : "1";
  }
  for (size_t n = segments; n-- > 0;) {
    const std::string s = QuoteIdentifier(order.columns[n]);
    const std::string p = Param(request.filter_parameters + static_cast<int>(n) + 1);
    const bool ascending = forward ? !order.descending[n] : order.descending[n];  // direction of travel
    if (!request.key_null[n]) {
      tail = ascending ? "(" + s + " > " + p + " OR (" + s + " = " + p + " AND " + tail + "))"
                       : "(" + s + " < " + p + " OR " + s + " IS NULL OR (" + s + " = " + p + " AND " + tail + "))";
    } else {
      tail = ascending ? "(" + s + " IS NOT NULL OR (" + s + " IS NULL AND " + tail + "))"
                       : "(" + s + " IS NULL AND " + tail + ")";
    }
  }
  return tail;
}

}  // namespace

std::string BuildScanSql(const ScanTable& table, const ScanOrder& order, const ScanRequest& request) {
  std::string where;
  if (!request.filter.empty()) where = "(" + request.filter + ")";
  if (request.has_key) {
    bool all_ascending = true;
    bool any_null = false;
    for (size_t i = 0; i < request.key_null.size(); ++i) {
      if (order.descending[i]) all_ascending = false;
      if (request.key_null[i]) any_null = true;
    }
    const std::string condition = request.forward && all_ascending && !any_null
                                      ? RowValueCondition(table, order, request)
                                      : ExpandedCondition(table, order, request);
    where += (where.empty() ? "" : " AND ") + condition;
  }
  std::string order_by;
  for (size_t i = 0; i < order.columns.size(); ++i) {
    const bool desc = order.descending[i] == request.forward;  // reversed when walking backwards
    order_by += QuoteIdentifier(order.columns[i]) + (desc ? " DESC, " : ", ");
  }
  order_by += table.rowid_name + (request.forward ? "" : " DESC");
  return "SELECT " + table.select_list + " FROM " + table.qualified + (where.empty() ? "" : " WHERE " + where) +
         " ORDER BY " + order_by;
}

std::string ScanCacheKey(const ScanRequest& request) {
  std::string key;
  key += request.forward ? 'f' : 'b';
  key += request.strict ? 's' : 'n';
  key += request.with_rowid ? 'r' : '-';
  key += request.has_key ? std::to_string(request.key_null.size()) : std::string("top");
  if (request.has_key) {
    for (bool null : request.key_null) key += null ? '0' : '1';
  }
  return key;
}

}  // namespace engine
