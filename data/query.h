// TAdsQuery: a dataset whose records come from one SQL SELECT with named
// parameters. The statement handle is made on first need and kept across
// close and reopen, with the table passwords set on it.
#ifndef KDX_DATA_QUERY_H_
#define KDX_DATA_QUERY_H_

#include <string>
#include <vector>

#include "data/dataset.h"

enum class TFieldType { ftUnknown, ftString, ftDate, ftTime, ftDateTime, ftFloat, ftCurrency, ftBoolean, ftInteger, ftMemo, ftBlob, ftCursor };

// One parameter place of a statement (each occurrence of a name is its own).
class TParam {
 public:
  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return data_type_; }
  bool IsEmpty() const { return empty_; }
  const std::string& Text() const { return text_; }
  double Number() const { return number_; }

  void BindText(const std::string& text) { data_type_ = TFieldType::ftString; text_ = text; empty_ = false; }
  void BindDateTime(double value) { data_type_ = TFieldType::ftDateTime; number_ = value; empty_ = false; }
  void BindDate(double value) { data_type_ = TFieldType::ftDate; number_ = value; empty_ = false; }
  void BindFloat(double value) { data_type_ = TFieldType::ftFloat; number_ = value; empty_ = false; }
  void SetType(TFieldType type) { data_type_ = type; }
  void Clear() { empty_ = true; }

 private:
  friend class TAdsQuery;
  friend TParam MakeStoredParam(const std::string& name, TFieldType type);
  std::string name_;
  TFieldType data_type_ = TFieldType::ftUnknown;
  bool empty_ = true;
  std::string text_;
  double number_ = 0;
};

class TAdsQuery : public TAdsDataSet {
 public:
  TAdsQuery(TComponent* owner, std::string name);
  ~TAdsQuery() override;

  // Each change closes the query, checks the text with the engine and
  // rebuilds Params (entries keep the type and value of the first previous
  // entry of the same name).
  void ClearSql();
  void AddSqlLine(const std::string& line);
  void SetSqlText(const std::string& text);
  // The lines joined with CR LF.
  std::string SqlText() const;
  const std::vector<std::string>& SqlLines() const { return sql_; }

  // Stored description of a form: sets the lines and the parameter list
  // without scanning.
  void LoadStored(const std::vector<std::string>& lines, const std::vector<TParam>& params);

  // First entry of that name (case-insensitive); EDatabaseError
  // "<name>: Parameter '<param>' not found".
  TParam& ParamNamed(const std::string& name);
  std::vector<TParam>& Params() { return params_; }

  void SetTablePassword(const std::string& table, const std::string& password);

  // The engine statement the query runs (0 before the first open, and after
  // a failure that released it).
  ADSHANDLE StatementHandle() const { return statement_; }

  void SetReadAllColumns(bool on) { read_all_columns_ = on; }
  void SetRequestLive(bool on) { request_live_ = on; }
  // Read the result in windows instead of storing it whole (AdsStmtSetStreamed),
  // from the next open on: memory bounded by a window, the cursor read
  // forward. A statement the engine cannot stream runs as without it.
  void SetStreamed(bool on) { streamed_ = on; }
  bool Streamed() const { return streamed_; }

  // Queues an open of the query with its parameters as they are now
  // bound (AdsStmtQueueExecution): a later open with the same values may
  // then find its rows already read, and on a server the opens queued
  // before an open are read in one request with it. The rows are the same
  // either way. False when the engine keeps nothing for it (table files,
  // where an open costs no round trip); raises what the statement's
  // preparation or binding raises.
  bool QueueOpen();

 protected:
  ADSHANDLE CreateHandle() override;
  void ReleaseHandle() override;

 private:
  friend class TAdsConnection;
  ADSHANDLE EnsureStatement();
  // The statement with the query's options, its text prepared and its
  // parameters bound as they are now: what an open or a queued open runs.
  ADSHANDLE PrepareBound();
  // The options every table of the system is opened with, then the query's
  // own: read-only unless live on a writable connection, updates not
  // constrained, all columns read or only those the statement names, the
  // result streamed or stored whole.
  void SetStatementOptions(ADSHANDLE statement) const;
  // Binds `param` at `position` (1-based) as its DataType says; an empty
  // parameter is bound as empty whatever its type.
  void BindParam(ADSHANDLE statement, UNSIGNED16 position, const TParam& param) const;
  // The Julian day of a date parameter's value; a layer error when the
  // engine cannot take it.
  int32_t JulianDayOfParam(const TParam& param) const;
  void ForgetStatement() {
    statement_ = 0;
    statement_connection_ = 0;
  }
  void Rescan();

  std::vector<std::string> sql_;
  std::vector<TParam> params_;
  ADSHANDLE statement_ = 0;
  // The engine connection the statement was made on: a statement is only
  // reused on that connection (a changed DatabaseName gets a new one).
  ADSHANDLE statement_connection_ = 0;
  bool read_all_columns_ = false;
  bool request_live_ = false;
  bool streamed_ = false;
  bool constrained_ = false;
};

// Makes a stored parameter entry (name and type, empty value) for LoadStored.
TParam MakeStoredParam(const std::string& name, TFieldType type);

#endif  // KDX_DATA_QUERY_H_
