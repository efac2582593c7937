// The SELECT statement a table reads its rows with: the rows of one order
// (an index's segments, each ASC or DESC, ties by rowid; or rowid order),
// forwards or backwards, from the top or from a start key, optionally under
// a record filter. A pure function of the table's layout and the request, so
// the ordering rules can be tested without a database.
//
// Parameters: ?1 ... ?F the filter's values, then one per key segment
// (?F+1 ... ?F+k; a NULL segment is written as IS NULL and its parameter is
// left unbound), then the rowid (?F+k+1) when the start includes it.
#ifndef KDX_ENGINE_SCAN_SQL_H_
#define KDX_ENGINE_SCAN_SQL_H_

#include <cstddef>
#include <string>
#include <vector>

namespace engine {

// A table as the scan names it.
struct ScanTable {
  std::string qualified;    // "schema"."table"
  std::string select_list;  // the rowid's name, then every column quoted
  std::string rowid_name;   // a name of the rowid that no column hides
};

// The order: segment column names (unquoted) and directions; empty for the
// natural (rowid) order.
struct ScanOrder {
  std::vector<std::string> columns;
  std::vector<bool> descending;
};

struct ScanRequest {
  bool forward = true;
  // The start: none (the first row of the order in the direction of
  // travel), or the leading `key_null.size()` segments, each NULL or not.
  bool has_key = false;
  std::vector<bool> key_null;
  bool with_rowid = false;  // the start's rowid breaks ties
  bool strict = false;      // rows after the start, not at it
  std::string filter;       // the filter's SQL condition, or empty
  int filter_parameters = 0;
};

// The statement; rows come in the order's direction of travel, the rowid
// first and then every column.
std::string BuildScanSql(const ScanTable& table, const ScanOrder& order, const ScanRequest& request);

// A text that is equal for two requests exactly when BuildScanSql gives them
// the same statement on the same table, order and filter.
std::string ScanCacheKey(const ScanRequest& request);

}  // namespace engine

#endif  // KDX_ENGINE_SCAN_SQL_H_
