// TAdsDataSet: the common base of tables and queries. A dataset is closed or
// open; while open it has a current record (or stands at its end), walks it in
// the order of its active index, seeks keys on that index, locates records by
// column value and reads columns by name. Datasets never edit: the only column
// writes go into the key buffer of a seek.
//
// Not thread-safe: one dataset belongs to the thread that made it.
#ifndef KDX_DATA_DATASET_H_
#define KDX_DATA_DATASET_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "data/component.h"
#include "data/errors.h"
#include "engine/ads.h"

class TAdsConnection;
class TAdsDataSet;

// Column kinds the layer decodes (from the engine type code).
enum class TFieldKind { Boolean, Float, SmallInt, Date, Text, Memo, Binary, Integer, Time, DateTime, AutoInc, Bytes, Currency };

// One column of an open dataset. Reads decode the current record's raw bytes;
// a reference stays valid until the dataset closes.
class TField {
 public:
  const std::string& Name() const { return name_; }
  TFieldKind Kind() const { return kind_; }
  uint16_t EngineType() const { return engine_type_; }
  uint32_t Width() const { return width_; }
  uint16_t Decimals() const { return decimals_; }
  uint32_t Offset() const { return offset_; }

  bool IsEmpty() const;
  std::string ReadText() const;
  double ReadDateTime() const;  // days since 30 December 1899
  double ReadFloat() const;
  int64_t ReadCurrency() const;  // units of 1/10000
  int32_t ReadInt() const;

 private:
  friend class TAdsDataSet;
  // `value` itself, or ENumberOutOfRange when no amount can be it.
  double CheckedAmount(double value) const;
  // This column's bytes in the current record, read whole first when the
  // record was read without it.
  const uint8_t* Bytes() const;

  TAdsDataSet* dataset_ = nullptr;
  std::string name_;
  TFieldKind kind_ = TFieldKind::Text;
  uint16_t engine_type_ = 0;
  uint32_t width_ = 0;
  uint16_t decimals_ = 0;
  uint32_t offset_ = 0;
  uint16_t number_ = 0;  // 1-based engine column number
};

// A typed value of a seek key: text, 32-bit integer, or floating-point
// (date-time values are floating-point).
struct KeyValue {
  std::variant<std::string, int32_t, double> value;
  KeyValue(std::string v) : value(std::move(v)) {}
  KeyValue(const char* v) : value(std::string(v)) {}
  KeyValue(int32_t v) : value(v) {}
  KeyValue(double v) : value(v) {}
};

// A value of LocateValue: empty, text, number, logical, or a date, time or
// date-time (days since 30 December 1899).
struct LocateItem {
  enum class Type { Empty, Text, Number, Logical, Date, Time, DateTime };
  Type type = Type::Empty;
  std::string text;
  double number = 0;
  bool logical = false;
  static LocateItem Text(std::string t) { LocateItem i; i.type = Type::Text; i.text = std::move(t); return i; }
};

struct LocateOptions {
  bool case_insensitive = false;
  bool partial_key = false;
};

struct TIndexDef {
  std::string name;
  std::string fields;  // segment column names joined by ";", upper-cased
  bool unique = false;
  bool descending = false;
};

class TAdsDataSet : public TComponent {
 public:
  using Event = std::function<void(TAdsDataSet&)>;

  TAdsDataSet(TComponent* owner, std::string name);
  ~TAdsDataSet() override;

  // Resolves the connection by name among the registered connections (same
  // owner first), else the ADS.INI alias in the program folder, else the text
  // is itself the folder. Refused on an open dataset.
  void SetDatabaseName(const std::string& name);
  const std::string& DatabaseName() const { return database_name_; }
  TAdsConnection* Connection() const { return connection_; }
  // The folder table names are resolved in (no trailing separator).
  std::string Folder() const;

  void SetIndexFieldNames(const std::string& names);  // trims; clears IndexName
  const std::string& IndexFieldNames() const { return index_field_names_; }
  void SetIndexName(const std::string& name);  // clears IndexFieldNames
  const std::string& IndexName() const { return index_name_; }
  const std::vector<TIndexDef>& IndexDefs() const { return index_defs_; }

  Event BeforeOpen;
  Event AfterOpen;

  void OpenDataSet();
  void CloseDataSet();
  bool IsActive() const;
  void GoFirst();
  void GoNext();
  void GoLast();
  bool AtEof() const { return eof_; }
  bool AtBof() const { return bof_; }

  // Case-insensitive; EDatabaseError "<name>: Field '<column>' not found".
  TField& ColumnByName(const std::string& column);
  const std::vector<TField>& Fields() const { return fields_; }

  // Exact seek on the active index with 1..n leading values. On a miss the
  // position is restored and the result is false.
  [[nodiscard]] bool SeekKey(const std::vector<KeyValue>& values);
  // Soft seek on the active index: stands on the first record whose key is
  // at or after the values (the first record for no values). False, at the
  // end, when there is none.
  [[nodiscard]] bool SeekAtOrAfter(const std::vector<KeyValue>& values);
  // Tells the engine that SeekKey(values) will come, so that a table read
  // in windows from a server reads its rows with another window's request.
  // Position and record stay. False where nothing is kept (AdsQueueSeek).
  bool QueueSeekKey(const std::vector<KeyValue>& values);
  // Finds the first record whose columns (";"-separated) equal the values.
  // On a miss the current record stays current and the result is false.
  [[nodiscard]] bool LocateValue(const std::string& columns, const std::vector<LocateItem>& values,
                                 LocateOptions options = {});

  // Nestable; no effect on data or position.
  void DisableControls() { ++controls_disabled_; }
  void EnableControls() { if (controls_disabled_ > 0) --controls_disabled_; }

  // Until called with no fields, records are read with only `fields` of
  // this dataset (and the key columns of its indexes) filled in: for a walk
  // reading a few columns of many records. A read of any other column of
  // such a record reads the record again whole, so every read gives the
  // stored value either way.
  void SetReadColumns(const std::vector<const TField*>& fields);

  // The raw record of the current row (empty when there is none). While
  // SetReadColumns is in force only its columns are filled in.
  const std::vector<uint8_t>& RecordBuffer() const { return record_; }
  bool HasCurrentRecord() const { return has_record_; }

  // Builds an EADSDatabaseError (or the plain form while another database
  // error is in progress in this thread) from the engine's last error; the
  // column of a column failure is the one the engine's detail names, else
  // `column`.
  [[noreturn]] void RaiseEngineError(uint32_t result, const std::string& column = "") const;
  // Passes when `result` is 0; otherwise RaiseEngineError, also while
  // another database error exists in this thread (cleanup that must not
  // raise over an error already propagating catches what it raises).
  void CheckEngine(uint32_t result) const;
  // Layer-detected error with code 5121 and `text`.
  [[noreturn]] void RaiseLayerError(const std::string& text) const;
  // Generic dataset-base error: "<name>: <text>".
  [[noreturn]] void RaiseGenericError(const std::string& text) const;

 protected:
  // Makes the engine handle (table open, or query execution).
  virtual ADSHANDLE CreateHandle() = 0;
  virtual void ReleaseHandle();
  virtual std::string TableNameForErrors() const { return ""; }

  ADSHANDLE TableHandle() const { return table_; }
  ADSHANDLE OrderHandle() const { return order_; }
  // Re-reads the current record after the engine moved (used by EnableEncryption).
  void Resync();
  void SetConnection(TAdsConnection* connection);
  // Connects the connection when needed and gives its handle; layer errors
  // "The DatabaseName property has not been assigned a value." (with
  // `need_name`) or "Internal Error: invalid connection handle.".
  ADSHANDLE ConnectionHandleForOpen(bool need_name);
  // Engine table type of TableType (3 ADT, 2 CDX, 1 NTX).
  uint16_t EngineTableType() const { return table_type_; }
  void SetEngineTableType(uint16_t type) { table_type_ = type; }
  // Raises the database error for an engine failure whose code and text
  // were captured before further engine calls.
  [[noreturn]] void RaiseCapturedError(uint32_t code, const std::string& text) const;
  // Whether the engine says the cursor stands at its beginning / end.
  bool EngineAtBof() const;
  bool EngineAtEof() const;

 private:
  friend class TField;
  friend class TAdsConnection;
  enum class IndexSelection { None, ByName, ByFields };

  void CompleteOpen();
  // Closes the dataset after its open failed (in the open or in AfterOpen),
  // passing over a failure of the close: the open's failure is the one
  // being raised.
  void CloseAfterFailedOpen();
  // On a dictionary connection: a table without an index of its own takes
  // the dictionary's default index ("ADS_DEFAULT"), and one set to it drops
  // it when the dictionary names none.
  void ApplyDictionaryDefaultIndex(ADSHANDLE connection);
  void ReadIndexDefs();
  void SelectIndex();
  void ChangeIndexSelection(std::string fields, std::string name, IndexSelection selection);
  // Reads the engine's current record into the record buffer; false (and no
  // current record) when the engine stands at its end.
  [[nodiscard]] bool FetchCurrent();
  // Copies the record the engine stands on (known not to be at its end).
  void ReadRecord();
  // Reads the current record again with every column (see SetReadColumns).
  void ReadWholeRecord();
  // Whether the current record holds column `number` (1-based).
  bool RecordHolds(uint16_t number) const {
    return !record_partial_ || (number >= 1 && number <= record_columns_.size() && record_columns_[number - 1]);
  }
  // Column values the engine reads itself (memo, binary) come from the
  // engine's position: after GoNext ran past the end or a seek missed, the
  // engine is put back on the record that is still current.
  void PutEngineOnCurrentRecord();
  // As PutEngineOnCurrentRecord, giving the engine's answer instead of
  // raising it.
  [[nodiscard]] UNSIGNED32 ReturnEngineToCurrentRecord();
  void CheckActive() const;
  // After a missed seek: the record that was current stays current. In the
  // middle of the table the engine is put back lazily (the next move is
  // usually another seek, which needs no return); at either end at once.
  void RestoreAfterMiss(bool was_eof, bool was_bof);
  // The raw key of `values` on the active index, for AdsSeek.
  void BuildSeekKey(const std::vector<KeyValue>& values, uint8_t* key, UNSIGNED16* key_length);
  // Splits IndexFieldNames (or the field list of the IndexName entry) into
  // the key column names of SeekKey.
  void ComputeKeyNames();
  void ForgetOpenState();
  void Detach();
  // A DatabaseName that found no connection component when it was set (the
  // component was made later) is looked up again before the first use.
  void ResolveLateConnection();
  int FindFieldIndex(std::string_view column) const;
  // Writes `value` into column `field` of `buffer` (a raw record) in the
  // column's encoding; gives the mark of the key buffer.
  uint16_t EncodeKeyValue(const TField& field, const KeyValue& value, uint8_t* buffer) const;
  // The parts of EncodeKeyValue, writing at `at` (the column's bytes): a
  // number in the encoding of any column but a character one, and a text in
  // a character column or, read as a date, time or number, in another.
  void EncodeKeyNumber(const TField& field, double number, uint8_t* at) const;
  uint16_t EncodeKeyText(const TField& field, const std::string& text, uint8_t* at) const;
  void EncodeLocateValue(const TField& field, const LocateItem& value, uint8_t* buffer) const;
  std::string FilterTerm(const TField& field, const LocateItem& value, bool case_insensitive) const;
  [[nodiscard]] bool LocateWithIndex(const std::vector<int>& columns, const LocateOptions& options, bool* used_index);
  [[nodiscard]] bool LocateWithFilter(const std::vector<int>& columns, const std::vector<LocateItem>& values,
                                      const LocateOptions& options);
  EADSDatabaseError MakeError(uint32_t code, const std::string& text, const std::string& column) const;

  std::string database_name_;
  TAdsConnection* connection_ = nullptr;
  std::unique_ptr<TAdsConnection> own_connection_;  // for a folder or an alias
  uint16_t table_type_ = 3;
  std::string index_field_names_;
  std::string index_name_;
  IndexSelection selection_ = IndexSelection::None;
  std::vector<TIndexDef> index_defs_;
  std::vector<ADSHANDLE> index_handles_;  // parallel to index_defs_
  std::vector<std::string> key_names_;
  int active_index_ = -1;            // entry of index_defs_ that orders the dataset
  std::vector<int> order_segments_;  // column of each segment of the active index
  std::vector<TField> fields_;
  std::vector<uint8_t> record_;
  std::vector<uint8_t> key_buffer_;
  std::vector<uint16_t> key_marks_;
  std::vector<uint8_t> scratch_;
  ADSHANDLE table_ = 0;
  ADSHANDLE order_ = 0;
  uint32_t record_number_ = 0;  // bookmark of the current record
  bool eof_ = true;
  bool bof_ = true;
  bool has_record_ = false;
  // The engine does not stand on the current record: GoNext ran past the
  // end, or a missed seek left it where the seek ended. It is put back only
  // when something needs the engine's own position.
  bool engine_off_record_ = false;
  // Columns records are read with, by column number - 1, and their numbers
  // (SetReadColumns); empty: whole records. `record_partial_`: the current
  // record holds only `record_columns_`.
  std::vector<uint8_t> read_columns_;  // bytes, not bits: copied for every record read
  std::vector<UNSIGNED16> read_numbers_;
  std::vector<uint8_t> record_columns_;
  std::vector<ADS_FIELD_DESCRIPTION> described_;  // kept for its room between opens
  bool record_partial_ = false;
  int controls_disabled_ = 0;
};

#endif  // KDX_DATA_DATASET_H_
