// SQL statements on a PostgreSQL server connection: the text runs on the
// server (pg_query.h) inside the run's one snapshot, prepared once per
// session and text, its names resolved and its rows given the natural order
// of its tables (server_sql.h); a date bound to a place compared with a DATE
// column is sent as its calendar date, and an empty text bound to a place
// the server takes as a number, date, time or boolean as NULL. The engine's
// own kdx_order column (pg_catalog.h) never reaches a result. The rows of each execution are stored like
// those of a statement on table files and read through a cursor; when every
// column of the result that comes from a table comes from the same one, the
// indexes of that table whose columns all reach the result are offered by
// the cursor too. With AdsStmtSetStreamed on, a SELECT is read through a
// server cursor in windows instead (server_stream.h). Table passwords do
// not apply and are accepted unused. Executions queued (AdsStmtQueueExecution)
// are read with the next execution in one request, and their rows kept,
// each for one later execution with the same values.
#ifndef KDX_ENGINE_SERVER_STATEMENT_H_
#define KDX_ENGINE_SERVER_STATEMENT_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/pg_query.h"
#include "engine/sql_statement.h"

namespace engine {

class ServerStatement : public SqlStatement {
 public:
  explicit ServerStatement(EngineConnection* connection) : SqlStatement(connection) {}

  Status SetTablePassword(const std::string& table, const std::string& password) override;

 protected:
  Status PrepareText() override;
  void Forget() override;
  Status Run(ADSHANDLE* cursor) override;
  bool QueueBound() override;

 private:
  using Values = std::vector<std::optional<std::string>>;
  // The bound values as the server takes them (nullopt: NULL).
  Values ServerValues() const;
  // The rows of an execution with `values`: rows read ahead for them, else
  // read now together with the executions queued.
  Status ReadRows(const Values& values, std::unique_ptr<PgRows>* rows);
  // Runs a SELECT with AdsStmtSetStreamed on: a streamed cursor reading a
  // server cursor (server_stream.h).
  Status RunStreamed(std::vector<std::optional<std::string>> values, ADSHANDLE* cursor);
  // Which columns of the result are shown: all but kdx_order.
  Status FindVisible(const PgRows& rows);
  // The result's shape from the first execution's columns.
  Status BuildShape(const PgRows& rows);
  // The index statements of the one source table, when there is one.
  Status OfferSourceIndexes(const PgRows& rows, ResultShape* shape);

  std::unique_ptr<PgQuery> query_;
  std::vector<bool> visible_;  // per result column, from the first execution
  // Executions queued since the last request, and the rows read for those
  // not executed yet (each taken once). Together at most kMaxQueued.
  std::vector<Values> queued_;
  std::multimap<Values, std::unique_ptr<PgRows>> read_ahead_;
};

}  // namespace engine

#endif  // KDX_ENGINE_SERVER_STATEMENT_H_
