// SQL statements on table files (a folder connection or a dictionary).
//
// A statement owns its own SQLite connection: for a folder connection an
// in-memory main database to which free table files are attached on demand
// (a table the text names is looked up in the connection's folder when SQLite
// reports it missing; sealed files are decrypted into memory with the table
// password given by AdsStmtSetTablePassword); for a dictionary connection the
// dictionary file itself. The prepared SQLite statement is kept while the
// text stays the same, so a reopen with new values costs a bind and a step.
//
// A date bound to a parameter is compared as the column it is compared with
// in the text (sql_context.h) stores its values. When the statement reads one
// table, every index of that table whose columns are all in the result is
// offered by the cursor too. A statement without a rows set runs and gives
// cursor 0.
//
// With AdsStmtSetStreamed on, a text that can be read in windows
// (engine/result_stream.h) gives a streamed cursor: one SELECT of one table,
// or of tables listed with commas (a join), none of the words
// HoldsUnstreamableWord refuses, every result column a column of one of its
// tables, which SQLite reads with one full scan of its outer table in rowid
// order (no index), each other table searched through an index or its
// primary key for each outer row (no automatic index, no sorting, no
// subquery). The outer table has a rowid and no column named rowid, _rowid_
// or oid, and the keyset form's plan is the same but for the outer table,
// searched from a rowid on. A window then holds the rows of whole outer
// rows, each outer row's rows in its inner indexes' order as in the text
// itself, so that the rows and their order are those the stored result would
// have. Any other text runs as without the option, its rows stored whole.
#ifndef KDX_ENGINE_FILE_STATEMENT_H_
#define KDX_ENGINE_FILE_STATEMENT_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/result_stream.h"
#include "engine/sql_statement.h"

struct sqlite3;
struct sqlite3_stmt;

namespace engine {

class FileStatement : public SqlStatement {
 public:
  explicit FileStatement(EngineConnection* connection) : SqlStatement(connection) {}
  ~FileStatement() override;

  Status SetTablePassword(const std::string& table, const std::string& password) override;

 protected:
  Status PrepareText() override;
  void Reuse() override;
  void Forget() override;
  Status Run(ADSHANDLE* cursor) override;

 private:
  // A table file attached to the statement's database.
  struct Attachment {
    std::string schema;
    std::string file;
    bool sealed = false;
    std::string password;  // the password the image was decrypted with
  };

  static int Authorize(void* self, int action, const char* a, const char* b, const char* schema, const char*);
  // What Authorize allows whatever the statement is doing: the rule that
  // stays on the database once the statement has gone and a streamed
  // cursor still reads it.
  static int AuthorizeAlways(void*, int action, const char* a, const char*, const char*, const char*);
  Status OpenDatabase();
  // Makes table `name` of the connection's folder readable by the text: a
  // sealed file is decrypted into memory with the statement's table password,
  // a plain file is attached to the statement's database.
  Status AttachTable(const std::string& name);
  // The schema a file is attached under: named after the file, so that
  // SQLite's messages stay readable, and taken by no other attachment.
  std::string SchemaFor(const std::string& file) const;
  Status AttachSealed(const std::string& name, Attachment* attachment);
  Status AttachPlain(const std::string& file, const std::string& schema);
  void Detach(const std::string& schema);
  // Prepares the positional text, attaching the tables SQLite reports
  // missing.
  Status PrepareAttaching(const std::string& positional);
  // Refuses a placeholder of SQLite's that is none of the text's places.
  Status CheckPlaceholders();
  void ComputePlaceKinds(const std::string& positional);
  Status BuildShape();
  // The result columns of `stmt` from column `first` on, named and typed as
  // a result stores them.
  Status ShapeColumns(sqlite3_stmt* stmt, int first, ResultShape* shape);
  // Offers on the result every index of the one table the text reads whose
  // columns all reach the result (under the result's column names).
  Status OfferSourceIndexes(ResultShape* shape, const std::string& schema, const std::string& table);
  // In `*sql`, the CREATE INDEX statement on the result for source index
  // `index` of `q_schema` (quoted), or nothing when one of its columns does
  // not reach the result; `origin` maps a source column (upper case) to its
  // result column.
  Status ResultIndexSql(const ResultShape& shape, const std::string& q_schema, const std::string& index, bool unique,
                        const std::map<std::string, int>& origin, std::string* sql);
  // Binds the bound values to `stmt` (texts and blobs copied when `copy`,
  // else kept where they are).
  Status BindPlaces(sqlite3_stmt* stmt, bool copy);
  Status Materialise(ADSHANDLE* cursor);
  // Runs the text streamed when it can be (`*streamed` then true and a
  // cursor in `*cursor`); a text that cannot be is left to Materialise.
  Status RunStreamed(ADSHANDLE* cursor, bool* streamed);
  // The keyset form of the text, prepared and bound, when the text can be
  // streamed (else `*keyset` stays null): its one table, or the outer table
  // of a join (`*joined` then true), in `*schema` and `*table`.
  Status PrepareKeyset(sqlite3_stmt** keyset, std::string* schema, std::string* table, bool* joined);
  // The rows (their detail) of SQLite's plan of `sql`, or none when it
  // cannot be had or a row stands under another.
  std::vector<std::string> PlanOf(const std::string& sql);

  std::map<std::string, std::string> passwords_;  // TableKey -> password
  sqlite3* db_ = nullptr;
  std::shared_ptr<SharedDatabase> db_owner_;  // closes db_; shared with streamed cursors
  std::unique_ptr<ResultShape> stream_shape_;  // of the last streamed execution
  std::vector<Attachment> attached_;
  sqlite3_stmt* stmt_ = nullptr;
  std::set<std::pair<std::string, std::string>> reads_;  // (schema, table) read by the text
  bool collecting_reads_ = false;
  bool internal_attach_ = false;
  // SQLite's re-preparation count of stmt_ when the shape was built: SQLite
  // prepares a statement again after a schema change, which may change its
  // columns, and the shape is then built again.
  int shape_reprepares_ = 0;
};

}  // namespace engine

#endif  // KDX_ENGINE_FILE_STATEMENT_H_
