// SQL statements (AdsCreateSQLStatement ... AdsCloseSQLStatement): what every
// statement shares, whatever runs its text.
//
// Named parameters: every occurrence of ":name" in the text is its own
// position (1-based, in order of appearance); an unbound position is NULL.
// A date or date-time bound to a parameter is compared as the column it is
// compared with holds its values (PlaceText).
//
// A statement that yields rows gives a read-only cursor on them
// (engine/sql_result.h); every execution gives a new cursor handle.
#ifndef KDX_ENGINE_SQL_STATEMENT_H_
#define KDX_ENGINE_SQL_STATEMENT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/ads.h"
#include "engine/connection.h"
#include "engine/handles.h"
#include "engine/sql_codes.h"
#include "engine/sql_params.h"
#include "engine/sql_result.h"
#include "engine/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace engine {

// How much of a statement's text error messages quote.
constexpr size_t kQuotedTextLength = 300;

// The options set with the AdsStmtSet... calls, as last set (0 = never set).
struct StatementOptions {
  UNSIGNED16 lock_type = 0;
  UNSIGNED16 char_type = 0;
  UNSIGNED16 rights = 0;
  UNSIGNED16 read_only = 0;
  UNSIGNED16 table_type = 0;
  UNSIGNED16 constrain_updates = 0;
  UNSIGNED16 read_all_columns = 0;
  UNSIGNED16 streamed = 0;  // nonzero: read the result in windows when the text allows it
};

// The options of a live statement (for the tool and the tests).
[[nodiscard]] UNSIGNED32 GetStatementOptions(ADSHANDLE statement, StatementOptions* options);

enum class PlaceKind { kOther, kDate, kTimestamp, kTime };

struct BoundValue {
  enum class Kind { kNull, kText, kDate, kTime, kTimestamp, kDouble, kLogical, kBinary };
  Kind kind = Kind::kNull;
  std::string bytes;
  int64_t julian = 0;
  int64_t milliseconds = 0;
  double number = 0;
};

// The text a date, time or date-time value is sent as to a place compared
// with a column of `kind`: a date-time compared with a DATE column as
// 'YYYY-MM-DD' (the time of day dropped), with a TIMESTAMP column as
// 'YYYY-MM-DD HH:MM:SS[.sss]', with a TIME column as 'HH:MM:SS[.sss]'. "" for
// a value of any other kind.
std::string PlaceText(const BoundValue& value, PlaceKind kind);

// One AdsCreateSQLStatement: the text, its parameter places and their bound
// values, and the result stores of its cursors. What runs the text is the
// subclass's: FileStatement on table files.
class SqlStatement : public EngineObject {
 public:
  explicit SqlStatement(EngineConnection* connection) : connection_(connection) {}
  // Hands the rows of cursors still open over to them.
  ~SqlStatement() override;

  void set_handle(ADSHANDLE handle) { handle_ = handle; }
  StatementOptions& options() { return options_; }

  virtual Status SetTablePassword(const std::string& table, const std::string& password) = 0;
  // Prepares `text`: every ":name" is a place of its own. The same text
  // again keeps what was prepared and only forgets the bound values.
  Status Prepare(const std::string& text);
  // Binds the value of place `position` (1-based); unbound places are NULL.
  Status Bind(UNSIGNED16 position, BoundValue value);
  // Runs the prepared text: a cursor on its rows, or 0 without a rows set.
  Status Execute(ADSHANDLE* cursor);
  // Keeps the values now bound as one execution to come, so that a later
  // Execute with the same values may take rows already read. `*queued`
  // says whether the statement reads executions ahead at all: a server
  // does, in one request with the next Execute; table files, where each
  // execution costs no round trip, keep nothing.
  Status Queue(bool* queued);

 protected:
  // The statement as messages name it (its text, cut to 300 characters).
  std::string Describe() const;
  // Prepares text_ (whose places_ are scanned) and sets place_kinds_.
  virtual Status PrepareText() = 0;
  // The prepared text is prepared again: it stays as it is.
  virtual void Reuse() {}
  // Forgets the prepared text.
  virtual void Forget() = 0;
  virtual Status Run(ADSHANDLE* cursor) = 0;
  // Keeps the bound values for a later Run; false when it keeps nothing.
  virtual bool QueueBound() { return false; }
  // Stores `rows` under shape_ and opens a cursor on them.
  Status StoreRows(ResultRows& rows, ADSHANDLE* cursor);
  // Makes `shape` the shape of the text's results from now on.
  void SetShape(std::unique_ptr<ResultShape> shape);

  EngineConnection* connection_;
  ADSHANDLE handle_ = 0;
  StatementOptions options_;
  std::string text_;
  bool prepared_ = false;
  std::vector<SqlParamPlace> places_;
  std::vector<PlaceKind> place_kinds_;
  std::vector<BoundValue> values_;
  std::vector<bool> bound_;
  std::unique_ptr<ResultShape> shape_;

 private:
  uint64_t shape_generation_ = 0;
  // The in-memory databases of the cursors this statement made.
  std::shared_ptr<ResultStores> stores_ = std::make_shared<ResultStores>();
};

}  // namespace engine

#endif  // KDX_ENGINE_SQL_STATEMENT_H_
