// SQL statements (AdsCreateSQLStatement ... AdsCloseSQLStatement).
//
// A statement owns its own SQLite connection: for a folder connection an
// in-memory main database to which free table files are attached on demand
// (a table the text names is looked up in the connection's folder when SQLite
// reports it missing; sealed files are decrypted into memory with the table
// password given by AdsStmtSetTablePassword); for a dictionary connection the
// dictionary file itself. The prepared SQLite statement is kept while the
// text stays the same, so a reopen with new values costs a bind and a step.
//
// Named parameters: every occurrence in the text is its own position (1-based,
// in order of appearance); an unbound position is NULL. A date or date-time
// bound to a parameter compared with a DATE column is compared as 'YYYY-MM-DD'
// (time of day dropped), with a TIMESTAMP column as 'YYYY-MM-DD HH:MM:SS[.sss]',
// with a TIME column as 'HH:MM:SS[.sss]'.
//
// A statement that yields rows gives a read-only cursor (engine/sql_result.h):
// its rows are copied into an in-memory table (columns with the declared types of their source
// columns; an expression's type follows its values) which is then an ordinary
// engine table. When the statement reads one table, every index of that
// table whose columns are all in the result is offered by the cursor too.
// Any other statement runs and gives cursor 0.
//
// Re-executing the same text (the export jobs do it once per record) is
// cheap: once a cursor has closed, its in-memory table is emptied and filled
// again, and the next cursor takes its column layout, indexes and prepared
// reads instead of reading a schema. What a caller sees does not change:
// every execution gives a new cursor handle (and new index handles) that no
// earlier cursor had, with the rows of the current data and no filter; the
// handles of a closed cursor stay stale. A result whose column types follow
// its values, or whose statement SQLite had to prepare again after a schema
// change, is built anew. A cursor still open when its statement closes keeps
// its rows and position.
#ifndef KDX_ENGINE_SQL_STATEMENT_H_
#define KDX_ENGINE_SQL_STATEMENT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/ads.h"
#include "engine/connection.h"
#include "engine/handles.h"
#include "engine/sql_codes.h"
#include "engine/sql_params.h"
#include "engine/sql_result.h"

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
};

// The options of a live statement (for the tool and the tests).
UNSIGNED32 GetStatementOptions(ADSHANDLE statement, StatementOptions* options);

enum class PlaceKind { kOther, kDate, kTimestamp, kTime };

struct BoundValue {
  enum class Kind { kNull, kText, kDate, kTime, kTimestamp, kDouble, kLogical, kBinary };
  Kind kind = Kind::kNull;
  std::string bytes;
  int64_t julian = 0;
  int64_t milliseconds = 0;
  double number = 0;
};

struct Attachment {
  std::string schema;
  std::string file;
  bool sealed = false;
  std::string password;  // the password the image was decrypted with
};


class SqlStatement : public EngineObject {
 public:
  explicit SqlStatement(EngineConnection* connection) : connection_(connection) {}
  ~SqlStatement() override;

  void set_handle(ADSHANDLE handle) { handle_ = handle; }
  StatementOptions& options() { return options_; }

  UNSIGNED32 SetTablePassword(const std::string& table, const std::string& password);
  UNSIGNED32 Prepare(const std::string& text);
  UNSIGNED32 Bind(UNSIGNED16 position, BoundValue value);
  UNSIGNED32 Execute(ADSHANDLE* cursor);

 private:
  static int Authorize(void* self, int action, const char* a, const char* b, const char* schema, const char*);

  // The statement as messages name it (its text, cut to 300 characters).
  std::string Describe() const;
  // Releases the prepared SQLite statement.
  void Finalize();
  UNSIGNED32 OpenDatabase();
  // Makes table `name` of the connection's folder readable by the text: a
  // sealed file is decrypted into memory with the statement's table password,
  // a plain file is attached to the statement's database.
  UNSIGNED32 AttachTable(const std::string& name);
  UNSIGNED32 AttachSealed(const std::string& name, Attachment* attachment);
  UNSIGNED32 AttachPlain(const std::string& file, const std::string& schema);
  void Detach(const std::string& schema);
  void ComputePlaceKinds(const std::string& positional);
  UNSIGNED32 BuildShape();
  // Offers on the result every index of the one table the text reads whose
  // columns all reach the result (under the result's column names).
  UNSIGNED32 OfferSourceIndexes(ResultShape* shape, const std::string& schema, const std::string& table);
  UNSIGNED32 BindPlaces();
  UNSIGNED32 Materialise(ADSHANDLE* cursor);

  EngineConnection* connection_;
  ADSHANDLE handle_ = 0;
  StatementOptions options_;
  std::map<std::string, std::string> passwords_;  // TableKey -> password
  sqlite3* db_ = nullptr;
  std::vector<Attachment> attached_;

  // The prepared text and what was derived from it.
  std::string text_;
  bool prepared_ = false;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<SqlParamPlace> places_;
  std::vector<PlaceKind> place_kinds_;
  std::vector<BoundValue> values_;
  std::vector<bool> bound_;
  std::set<std::pair<std::string, std::string>> reads_;  // (schema, table) read by the text
  bool collecting_reads_ = false;
  bool internal_attach_ = false;
  std::unique_ptr<ResultShape> shape_;
  uint64_t shape_generation_ = 0;
  // SQLite's re-preparation count of stmt_ when the shape was built: SQLite
  // prepares a statement again after a schema change, which may change its
  // columns, and the shape is then built again.
  int shape_reprepares_ = 0;

  // The in-memory databases of the cursors this statement made.
  std::shared_ptr<ResultStores> stores_ = std::make_shared<ResultStores>();
};

}  // namespace engine

#endif  // KDX_ENGINE_SQL_STATEMENT_H_
