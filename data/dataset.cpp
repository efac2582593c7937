#include "data/dataset.h"

#include <cmath>
#include <cstring>

#include "data/connection.h"
#include "data/engine_error.h"
#include "data/program_folder.h"
#include "data/time_of_day.h"
#include "engine/record_format.h"
#include "engine/schema.h"
#include "platform/ini_file.h"
#include "util/ascii.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/number_format.h"

namespace {

constexpr UNSIGNED16 kMaxIndexes = 50;
constexpr uint16_t kNoValue = 0xFFFF;
constexpr UNSIGNED16 kRawKey = 1;
constexpr UNSIGNED16 kSeekNearest = 1;
constexpr UNSIGNED16 kSeekExact = 2;
constexpr UNSIGNED16 kAofOptions = 2;
// Column names taken from the engine's error detail are cut to this length.
constexpr size_t kColumnNameLimit = 900;

constexpr char kClosedDataSet[] = "Cannot perform this operation on a closed dataset";
constexpr char kOpenDataSet[] = "Cannot perform this operation on an open dataset";

std::string Trim(std::string_view text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  return std::string(text.substr(b, e - b));
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string name = Trim(std::string_view(text).substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

TFieldKind KindOf(UNSIGNED16 type, uint32_t width, UNSIGNED16 decimals, bool* known) {
  *known = true;
  switch (type) {
    case ADS_LOGICAL: return TFieldKind::Boolean;
    case ADS_NUMERIC: return decimals == 0 && width <= 4 ? TFieldKind::SmallInt : TFieldKind::Float;
    case ADS_DATE: case ADS_COMPACTDATE: return TFieldKind::Date;
    case ADS_STRING: return TFieldKind::Text;
    case ADS_MEMO: case ADS_VARCHAR: return TFieldKind::Memo;
    case ADS_BINARY: case ADS_IMAGE: return TFieldKind::Binary;
    case ADS_DOUBLE: return TFieldKind::Float;
    case ADS_INTEGER: return TFieldKind::Integer;
    case ADS_SHORTINT: return TFieldKind::SmallInt;
    case ADS_TIME: return TFieldKind::Time;
    case ADS_TIMESTAMP: return TFieldKind::DateTime;
    case ADS_AUTOINC: return TFieldKind::AutoInc;
    case ADS_RAW: return TFieldKind::Bytes;
    case ADS_CURDOUBLE: return TFieldKind::Currency;
    default: *known = false; return TFieldKind::Bytes;
  }
}

// A text value inside a filter expression: double-quoted, each double quote
// inside it closing the literal and joined back with Chr(34).
std::string QuoteForFilter(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') {
      out += "\"+ Chr(34) + \"";
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction, connection and folder

TAdsDataSet::TAdsDataSet(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

TAdsDataSet::~TAdsDataSet() {
  try {
    CloseDataSet();
  } catch (const std::exception&) {
    // A destructor cannot raise; the engine drops the handle with its
    // connection in any case.
  }
  Detach();
}

void TAdsDataSet::Detach() {
  if (connection_ != nullptr) connection_->DetachDataSet(this);
  connection_ = nullptr;
  own_connection_.reset();
}

void TAdsDataSet::SetConnection(TAdsConnection* connection) {
  if (connection == connection_) return;
  if (connection_ != nullptr) connection_->DetachDataSet(this);
  if (own_connection_ && own_connection_.get() != connection) own_connection_.reset();
  connection_ = connection;
  if (connection_ != nullptr) connection_->AttachDataSet(this);
}

void TAdsDataSet::SetDatabaseName(const std::string& name) {
  if (IsActive()) RaiseLayerError(kOpenDataSet);
  Detach();
  database_name_ = name;
  table_type_ = 3;
  if (name.empty()) return;
  if (TAdsConnection* found = TAdsConnection::FindForDataSet(name, Owner())) {
    SetConnection(found);
    return;
  }
  std::string folder = name;
  if (name.find_first_of("\\/") == std::string::npos) {
    const std::string ini = data_internal::ProgramFolder() + "ADS.INI";
    const std::string alias = ReadProfileString(ini, "Databases", name, "");
    if (!alias.empty()) {
      folder = alias;
      const size_t semi = alias.rfind(';');
      if (semi != std::string::npos) {
        const std::string suffix = ToUpperAscii(Trim(std::string_view(alias).substr(semi + 1)));
        folder = alias.substr(0, semi);
        if (suffix == "N") table_type_ = 1;
        if (suffix == "C") table_type_ = 2;
      }
    }
  }
  own_connection_.reset(new TAdsConnection(TAdsConnection::Unregistered{}, folder));
  connection_ = own_connection_.get();
  connection_->AttachDataSet(this);
}

void TAdsDataSet::ResolveLateConnection() {
  if (!own_connection_ || IsActive() || own_connection_->IsConnected()) return;
  if (TAdsConnection* found = TAdsConnection::FindForDataSet(database_name_, Owner())) {
    Detach();
    table_type_ = 3;
    SetConnection(found);
  }
}

std::string TAdsDataSet::Folder() const {
  if (connection_ == nullptr) return "";
  std::string folder = connection_->ConnectionFolder();
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

ADSHANDLE TAdsDataSet::ConnectionHandleForOpen(bool need_name) {
  ResolveLateConnection();
  if (need_name && database_name_.empty()) RaiseLayerError("The DatabaseName property has not been assigned a value.");
  ADSHANDLE handle = connection_ != nullptr ? connection_->ConnectOnDemand() : 0;
  if (handle == 0) RaiseLayerError("Internal Error: invalid connection handle.");
  return handle;
}

// ---------------------------------------------------------------------------
// Errors

EADSDatabaseError TAdsDataSet::MakeError(uint32_t code, const std::string& text, const std::string& column) const {
  EADSDatabaseError::Details details;
  details.code = code;
  if (DatabaseErrorInProgress()) return EADSDatabaseError(text, details);
  details.component_name = Name();
  details.owner_name = Owner() != nullptr ? Owner()->Name() : "";
  details.database_name = database_name_;
  details.folder = Folder();
  details.table_name = TableNameForErrors();
  details.column_name = column;
  const std::string message = Name().empty() ? text : Name() + ": " + text;
  return EADSDatabaseError(message, std::move(details));
}

void TAdsDataSet::RaiseEngineError(uint32_t result, const std::string& column) const {
  const data_internal::EngineError error = data_internal::LastEngineError();
  const uint32_t code = error.code != 0 ? error.code : result;
  std::string column_name = column;
  // The column a column failure concerns comes from the engine's detail.
  const bool column_failure =
      code == AE_COLUMN_NOT_FOUND || code == AE_COLUMN_TYPE_MISMATCH || code == AE_COLUMN_VALUE_INVALID;
  if (column_failure && !error.detail.column.empty()) column_name = error.detail.column.substr(0, kColumnNameLimit);
  throw MakeError(code, error.text, column_name);
}

void TAdsDataSet::RaiseLayerError(const std::string& text) const {
  throw MakeError(AE_INTERNAL_LAYER_ERROR, text, "");
}

void TAdsDataSet::RaiseGenericError(const std::string& text) const {
  throw EDatabaseError(Name().empty() ? text : Name() + ": " + text);
}

void TAdsDataSet::CheckEngine(uint32_t result) const {
  if (result != AE_SUCCESS) RaiseEngineError(result);
}

void TAdsDataSet::CheckActive() const {
  if (!IsActive()) RaiseGenericError(kClosedDataSet);
}

// ---------------------------------------------------------------------------
// Index selection

void TAdsDataSet::SetIndexFieldNames(const std::string& names) {
  std::string fields = Trim(names);
  const IndexSelection selection = fields.empty() ? IndexSelection::None : IndexSelection::ByFields;
  ChangeIndexSelection(std::move(fields), "", selection);
}

void TAdsDataSet::SetIndexName(const std::string& name) {
  ChangeIndexSelection("", name, name.empty() ? IndexSelection::None : IndexSelection::ByName);
}

// On an open dataset the new index is selected at once and the position read
// again; when the selection fails the previous setting is restored.
void TAdsDataSet::ChangeIndexSelection(std::string fields, std::string name, IndexSelection selection) {
  const std::string old_fields = index_field_names_;
  const std::string old_name = index_name_;
  const IndexSelection old_selection = selection_;
  index_field_names_ = std::move(fields);
  index_name_ = std::move(name);
  selection_ = selection;
  if (!IsActive()) {
    ComputeKeyNames();
    return;
  }
  try {
    SelectIndex();
  } catch (...) {
    index_field_names_ = old_fields;
    index_name_ = old_name;
    selection_ = old_selection;
    throw;
  }
  Resync();
}

void TAdsDataSet::ReadIndexDefs() {
  std::vector<ADSHANDLE> handles;
  CheckEngine(AdsGetAllIndexes(table_, kMaxIndexes, &handles));
  if (handles.size() > kMaxIndexes) handles.resize(kMaxIndexes);
  std::vector<TIndexDef> defs;
  defs.reserve(handles.size());
  for (ADSHANDLE h : handles) {
    TIndexDef def;
    CheckEngine(AdsGetIndexName(h, &def.name));
    UNSIGNED16 segments = 0;
    CheckEngine(AdsGetNumSegments(h, &segments));
    for (UNSIGNED16 s = 0; s < segments; ++s) {
      std::string column;
      CheckEngine(AdsGetSegmentFieldname(h, s, &column));
      if (s > 0) def.fields += ';';
      def.fields += column;
    }
    def.fields = ToUpperAscii(def.fields);
    UNSIGNED16 flag = 0;
    CheckEngine(AdsIsIndexDescending(h, &flag));
    def.descending = flag != 0;
    flag = 0;
    CheckEngine(AdsIsIndexUnique(h, &flag));
    def.unique = flag != 0;
    defs.push_back(std::move(def));
  }
  index_defs_ = std::move(defs);
  index_handles_ = std::move(handles);
}

void TAdsDataSet::SelectIndex() {
  int chosen = -1;
  switch (selection_) {
    case IndexSelection::None:
      order_ = table_;
      active_index_ = -1;
      order_segments_.clear();
      ComputeKeyNames();
      return;
    case IndexSelection::ByFields: {
      const std::string wanted = ToUpperAscii(index_field_names_);
      // An exact match wins over an earlier index that merely starts with
      // the columns; descending indexes take part in neither pass.
      for (size_t i = 0; i < index_defs_.size() && chosen < 0; ++i) {
        if (!index_defs_[i].descending && index_defs_[i].fields == wanted) chosen = static_cast<int>(i);
      }
      for (size_t i = 0; i < index_defs_.size() && chosen < 0; ++i) {
        const std::string& f = index_defs_[i].fields;
        if (!index_defs_[i].descending && f.size() > wanted.size() && f.compare(0, wanted.size(), wanted) == 0 &&
            f[wanted.size()] == ';') {
          chosen = static_cast<int>(i);
        }
      }
      if (chosen < 0) RaiseLayerError("Not a valid index field name:" + index_field_names_);
      break;
    }
    case IndexSelection::ByName:
      for (size_t i = 0; i < index_defs_.size() && chosen < 0; ++i) {
        if (EqualsNoCase(index_defs_[i].name, index_name_)) chosen = static_cast<int>(i);
      }
      break;
  }
  const std::string& tag = chosen >= 0 ? index_defs_[static_cast<size_t>(chosen)].name : index_name_;
  ADSHANDLE order = 0;
  const UNSIGNED32 result = AdsGetIndexHandle(table_, tag, &order);
  if (result != AE_SUCCESS) RaiseEngineError(result);
  if (chosen < 0) {
    // A tag the list does not hold under that name ("ADS_DEFAULT"): find
    // the entry by the name the engine gives the index.
    std::string real_name;
    if (AdsGetIndexName(order, &real_name) == AE_SUCCESS) {
      for (size_t i = 0; i < index_defs_.size() && chosen < 0; ++i) {
        if (EqualsNoCase(index_defs_[i].name, real_name)) chosen = static_cast<int>(i);
      }
    }
  }
  order_ = order;
  active_index_ = chosen;
  order_segments_.clear();
  if (chosen >= 0) {
    for (const std::string& column : SplitNames(index_defs_[static_cast<size_t>(chosen)].fields)) {
      order_segments_.push_back(FindFieldIndex(column));
    }
  }
  ComputeKeyNames();
}

void TAdsDataSet::ComputeKeyNames() {
  key_names_.clear();
  if (selection_ == IndexSelection::ByFields) {
    key_names_ = SplitNames(index_field_names_);
  } else if (selection_ == IndexSelection::ByName && active_index_ >= 0 && IsActive()) {
    key_names_ = SplitNames(index_defs_[static_cast<size_t>(active_index_)].fields);
  } else if (selection_ == IndexSelection::ByName) {
    for (const TIndexDef& def : index_defs_) {
      if (EqualsNoCase(def.name, index_name_)) {
        key_names_ = SplitNames(def.fields);
        break;
      }
    }
  }
}

void TAdsDataSet::ApplyDictionaryDefaultIndex(ADSHANDLE connection) {
  std::string tag;
  if (AdsGetDefaultIndex(connection, TableNameForErrors(), &tag) != AE_SUCCESS) return;
  // Only a table that chose no index takes the default: an IndexFieldNames
  // or IndexName of its own is what its seeks are written against.
  if (!tag.empty() && selection_ == IndexSelection::None) {
    index_name_ = "ADS_DEFAULT";
    selection_ = IndexSelection::ByName;
  } else if (tag.empty() && selection_ == IndexSelection::ByName && EqualsNoCase(index_name_, "ADS_DEFAULT")) {
    index_name_.clear();
    selection_ = IndexSelection::None;
  }
  ComputeKeyNames();
}

// ---------------------------------------------------------------------------
// Open and close

bool TAdsDataSet::IsActive() const { return table_ != 0; }

void TAdsDataSet::OpenDataSet() {
  if (IsActive()) return;
  ResolveLateConnection();
  if (BeforeOpen) BeforeOpen(*this);
  if (table_ != 0) RaiseLayerError("Table is already open.");
  try {
    const ADSHANDLE handle = CreateHandle();
    if (handle == 0) RaiseLayerError("Internal Error: invalid connection handle.");
    table_ = handle;
    CompleteOpen();
  } catch (...) {
    if (table_ != 0) CloseAfterFailedOpen();
    ForgetOpenState();
    throw;
  }
  if (AfterOpen) {
    try {
      AfterOpen(*this);
    } catch (...) {
      CloseAfterFailedOpen();
      throw;
    }
  }
}

void TAdsDataSet::CloseAfterFailedOpen() {
  try {
    CloseDataSet();
  } catch (const EDatabaseError&) {
    // The open's own failure is the one to report, and it is propagating:
    // a close that fails as well adds nothing to it, and the dataset is
    // closed either way.
  }
}

void TAdsDataSet::CompleteOpen() {
  UNSIGNED32 length = 0;
  CheckEngine(AdsGetRecordLength(table_, &length));
  record_.assign(length, 0);
  key_buffer_.assign(length, 0);
  scratch_.assign(length, 0);

  // One call for every column: a query opened once per record it reads
  // (the leave transactions) describes its columns each time.
  std::vector<ADS_FIELD_DESCRIPTION>& described = described_;
  CheckEngine(AdsGetFieldDescriptions(table_, &described));
  fields_.clear();
  fields_.reserve(described.size());
  for (size_t n = 0; n < described.size(); ++n) {
    TField field;
    field.dataset_ = this;
    field.number_ = static_cast<UNSIGNED16>(n + 1);
    const UNSIGNED16 type = described[n].type;
    const UNSIGNED32 width = described[n].length;
    const UNSIGNED16 decimals = type == ADS_NUMERIC ? described[n].decimals : 0;
    field.name_ = described[n].name;
    if (field.name_.size() > 128) field.name_.resize(128);
    const UNSIGNED32 offset = described[n].offset;
    bool known = false;
    field.kind_ = KindOf(type, width, decimals, &known);
    if (!known) continue;
    // A column that does not lie inside the record would make every read
    // touch memory outside the buffer: refuse the open instead.
    const uint32_t needed = type == ADS_LOGICAL ? 1u : width;
    if (static_cast<uint64_t>(offset) + needed > length) {
      RaiseLayerError("Column " + field.name_ + " lies outside the record (offset " + std::to_string(offset) +
                      ", width " + std::to_string(width) + ", record length " + std::to_string(length) + ")");
    }
    field.engine_type_ = type;
    field.width_ = width;
    field.decimals_ = decimals;
    field.offset_ = offset;
    fields_.push_back(std::move(field));
  }
  key_marks_.assign(fields_.size(), kNoValue);

  ReadIndexDefs();
  SelectIndex();

  // A sealed table stands at its end until the AfterOpen hook gives its
  // password (TAdsTable::EnableEncryption); every later read of a table
  // still sealed fails with the engine's text.
  const UNSIGNED32 top = AdsGotoTop(order_);
  if (top == AE_KDX_TABLE_SEALED) {
    has_record_ = false;
    eof_ = true;
  } else {
    CheckEngine(top);
    eof_ = !FetchCurrent();
  }
  bof_ = true;
}

void TAdsDataSet::ReleaseHandle() {
  if (table_ != 0) CheckEngine(AdsCloseTable(table_));
}

void TAdsDataSet::ForgetOpenState() {
  table_ = 0;
  order_ = 0;
  active_index_ = -1;
  order_segments_.clear();
  index_handles_.clear();
  fields_.clear();
  key_marks_.clear();
  has_record_ = false;
  read_columns_.clear();
  read_numbers_.clear();
  record_partial_ = false;
  engine_off_record_ = false;
  eof_ = true;
  bof_ = true;
  record_number_ = 0;
}

void TAdsDataSet::CloseDataSet() {
  if (!IsActive()) return;
  try {
    ReleaseHandle();
  } catch (...) {
    ForgetOpenState();
    throw;
  }
  ForgetOpenState();
}

// ---------------------------------------------------------------------------
// Moving

bool TAdsDataSet::EngineAtEof() const {
  UNSIGNED16 at = 1;
  CheckEngine(AdsAtEOF(table_, &at));
  return at != 0;
}

bool TAdsDataSet::EngineAtBof() const {
  UNSIGNED16 at = 1;
  CheckEngine(AdsAtBOF(table_, &at));
  return at != 0;
}

bool TAdsDataSet::FetchCurrent() {
  if (EngineAtEof()) {
    has_record_ = false;
    record_partial_ = false;
    engine_off_record_ = false;
    return false;
  }
  ReadRecord();
  return true;
}

void TAdsDataSet::ReadRecord() {
  UNSIGNED32 length = static_cast<UNSIGNED32>(record_.size());
  record_partial_ = false;
  CheckEngine(AdsGetRecord(table_, record_.data(), &length));
  CheckEngine(AdsGetBookmark60(order_, &record_number_));
  has_record_ = true;
  record_partial_ = !read_numbers_.empty();
  if (record_partial_) record_columns_ = read_columns_;
  engine_off_record_ = false;
}

void TAdsDataSet::ReadWholeRecord() {
  if (!has_record_ || !record_partial_) return;
  PutEngineOnCurrentRecord();
  // The engine gives whole records only while it reads whole rows.
  const std::vector<UNSIGNED16> numbers = std::move(read_numbers_);
  read_numbers_.clear();
  CheckEngine(AdsSetReadColumns(table_, nullptr, 0));
  ReadRecord();
  if (!numbers.empty()) {
    CheckEngine(AdsSetReadColumns(table_, numbers.data(), static_cast<UNSIGNED16>(numbers.size())));
    read_numbers_ = numbers;
  }
}

void TAdsDataSet::SetReadColumns(const std::vector<const TField*>& fields) {
  CheckActive();
  std::vector<uint8_t> columns;
  std::vector<UNSIGNED16> numbers;
  if (!fields.empty()) {
    columns.assign(fields_.size(), 0);
    for (const TField* field : fields) {
      if (field == nullptr || field->dataset_ != this) RaiseGenericError("a column of another dataset cannot be read");
      if (columns[field->number_ - 1u] == 0) numbers.push_back(field->number_);
      columns[field->number_ - 1u] = 1;
    }
  }
  CheckEngine(AdsSetReadColumns(table_, numbers.empty() ? nullptr : numbers.data(),
                                static_cast<UNSIGNED16>(numbers.size())));
  read_numbers_ = std::move(numbers);
  read_columns_ = std::move(columns);  // the current record keeps what it was read with
}

UNSIGNED32 TAdsDataSet::ReturnEngineToCurrentRecord() {
  if (!engine_off_record_ || !has_record_) return AE_SUCCESS;
  const UNSIGNED32 result = AdsGotoRecord(table_, record_number_);
  if (result == AE_SUCCESS) engine_off_record_ = false;
  return result;
}

void TAdsDataSet::PutEngineOnCurrentRecord() { CheckEngine(ReturnEngineToCurrentRecord()); }

void TAdsDataSet::GoFirst() {
  CheckActive();
  CheckEngine(AdsGotoTop(order_));
  eof_ = !FetchCurrent();
  bof_ = true;
}

void TAdsDataSet::GoNext() {
  CheckActive();
  if (eof_) {
    // At the end without a record: nothing to move past, but a table still
    // sealed (see CompleteOpen) must not pass for an empty one.
    if (!has_record_) CheckEngine(AdsSkip(order_, 1));
    return;
  }
  // Back from where a missed seek left the engine. A record removed since
  // then leaves the dataset on its last record, as an immediate return would
  // have.
  const UNSIGNED32 returned = ReturnEngineToCurrentRecord();
  if (returned == AE_INVALID_RECORD_NUMBER) {
    GoLast();
    return;
  }
  CheckEngine(returned);
  CheckEngine(AdsSkip(order_, 1));
  bof_ = false;
  // Past the last record the end flag is set and the last record stays
  // current (its bytes are still in the record buffer).
  if (EngineAtEof()) {
    eof_ = true;
    engine_off_record_ = true;
    return;
  }
  ReadRecord();
}

void TAdsDataSet::GoLast() {
  CheckActive();
  CheckEngine(AdsGotoBottom(order_));
  const bool found = FetchCurrent();
  eof_ = true;
  bof_ = !found;
}

void TAdsDataSet::Resync() {
  if (!IsActive()) return;
  if (has_record_) {
    const UNSIGNED32 result = AdsGotoRecord(table_, record_number_);
    if (result == AE_INVALID_RECORD_NUMBER) {
      GoFirst();
      return;
    }
    CheckEngine(result);
    const bool was_eof = eof_;
    if (!FetchCurrent()) {
      GoFirst();
      return;
    }
    eof_ = was_eof;
  } else {
    GoFirst();
  }
}

// ---------------------------------------------------------------------------
// Columns

int TAdsDataSet::FindFieldIndex(std::string_view column) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (EqualsNoCase(fields_[i].name_, column)) return static_cast<int>(i);
  }
  return -1;
}

TField& TAdsDataSet::ColumnByName(const std::string& column) {
  const int i = FindFieldIndex(column);
  if (i < 0) RaiseGenericError("Field '" + column + "' not found");
  return fields_[static_cast<size_t>(i)];
}

// ---------------------------------------------------------------------------
// SeekKey

namespace {

// Writes `text` into a character column of `width` bytes at `at`; gives the
// mark of the key buffer (the text bytes written, below kNoValue).
uint16_t PutKeyText(const std::string& text, uint32_t width, uint8_t* at) {
  return static_cast<uint16_t>(std::min<size_t>(record_format::PutCharacter(text, width, at), kNoValue - 1));
}

}  // namespace

void TAdsDataSet::EncodeKeyNumber(const TField& field, double number, uint8_t* at) const {
  namespace rf = record_format;
  switch (field.engine_type_) {
    case ADS_NUMERIC: {
      // A text wider than the column (or an infinity or NaN) is refused
      // before anything is written.
      const std::string text = rf::NumericText(number, field.decimals_);
      if (text.find_first_of("eEn") != std::string::npos || !rf::PutNumericText(text, field.width_, at)) {
        RaiseLayerError("Numeric out of range.");
      }
      break;
    }
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
      rf::PutDouble(at, number);
      break;
    case ADS_INTEGER:
    case ADS_AUTOINC: {
      const double r = std::nearbyint(number);
      if (!(r >= -2147483648.0 && r <= 2147483647.0)) RaiseLayerError("Numeric out of range.");
      rf::Put32(at, static_cast<uint32_t>(static_cast<int32_t>(r)));
      break;
    }
    case ADS_SHORTINT: {
      const double r = std::nearbyint(number);
      if (!(r >= -32768.0 && r <= 32767.0)) RaiseLayerError("Numeric out of range.");
      rf::Put16(at, static_cast<uint16_t>(static_cast<int16_t>(r)));
      break;
    }
    case ADS_DATE:
      rf::PutDate(DateToJulianDay(number), at);
      break;
    case ADS_TIMESTAMP:
      rf::PutTimestamp(DateToJulianDay(number), data_internal::MillisecondsOfDay(number), at);
      break;
    case ADS_TIME:
      rf::PutTime(data_internal::MillisecondsOfDay(number), at);
      break;
    case ADS_LOGICAL:
      rf::PutLogical(number != 0, at);
      break;
    case ADS_STRING:
      PutKeyText(FormatGeneral(number), field.width_, at);
      break;
    default:
      throw EDatabaseError("Cannot access field '" + field.name_ + "' as type Float");
  }
}

uint16_t TAdsDataSet::EncodeKeyText(const TField& field, const std::string& text, uint8_t* at) const {
  switch (field.engine_type_) {
    case ADS_STRING:
      return PutKeyText(text, field.width_, at);
    case ADS_LOGICAL:
      at[0] = text.empty() ? ' ' : static_cast<uint8_t>(text[0]);
      return 1;
    case ADS_DATE:
    case ADS_TIMESTAMP:
    case ADS_TIME: {
      TDateTime when = 0;
      if (!TryTextToDateTime(text, &when)) throw EDatabaseError("'" + text + "' is not a valid date and time");
      EncodeKeyNumber(field, when, at);
      return 1;
    }
    default: {
      double number = 0;
      if (!TryTextToFloat(text, &number)) throw EDatabaseError("'" + text + "' is not a valid floating point value");
      EncodeKeyNumber(field, number, at);
      return 1;
    }
  }
}

uint16_t TAdsDataSet::EncodeKeyValue(const TField& field, const KeyValue& value, uint8_t* buffer) const {
  // Memo, VARCHAR and binary columns keep their values outside the record,
  // so they have no key bytes to fill.
  if (record_format::IsBlockType(field.engine_type_)) {
    throw EDatabaseError("Field '" + field.name_ + "' of type " + engine::TypeName(field.engine_type_) +
                         " cannot be sought");
  }
  uint8_t* at = buffer + field.offset_;
  if (const auto* text = std::get_if<std::string>(&value.value)) return EncodeKeyText(field, *text, at);
  // A character column takes a number as its text.
  if (const auto* integer = std::get_if<int32_t>(&value.value)) {
    if (field.engine_type_ == ADS_STRING) return PutKeyText(std::to_string(*integer), field.width_, at);
    EncodeKeyNumber(field, static_cast<double>(*integer), at);
    return 1;
  }
  const double number = std::get<double>(value.value);
  if (field.engine_type_ == ADS_STRING) return PutKeyText(FormatGeneral(number), field.width_, at);
  // A floating-point value written into a date column keeps its whole days.
  EncodeKeyNumber(field, number, at);
  return 1;
}

bool TAdsDataSet::SeekKey(const std::vector<KeyValue>& values) {
  CheckActive();
  if (key_names_.empty()) RaiseLayerError("No parseable expressions in setting key fields");
  if (values.size() > key_names_.size()) RaiseLayerError("Too many values given for current index");
  if (values.empty()) return false;
  uint8_t key[ADS_MAX_KEY_LENGTH];
  UNSIGNED16 key_length = ADS_MAX_KEY_LENGTH;
  BuildSeekKey(values, key, &key_length);

  const bool was_eof = eof_;
  const bool was_bof = bof_;
  UNSIGNED16 found = 0;
  CheckEngine(AdsSeek(order_, key, key_length, kRawKey, kSeekExact, &found));
  if (found != 0 && FetchCurrent()) {
    eof_ = false;
    bof_ = false;
    return true;
  }
  RestoreAfterMiss(was_eof, was_bof);
  return false;
}

bool TAdsDataSet::QueueSeekKey(const std::vector<KeyValue>& values) {
  CheckActive();
  if (key_names_.empty() || values.empty() || values.size() > key_names_.size()) return false;
  uint8_t key[ADS_MAX_KEY_LENGTH];
  UNSIGNED16 key_length = ADS_MAX_KEY_LENGTH;
  BuildSeekKey(values, key, &key_length);
  UNSIGNED16 queued = 0;
  CheckEngine(AdsQueueSeek(order_, key, key_length, &queued));
  return queued != 0;
}

bool TAdsDataSet::SeekAtOrAfter(const std::vector<KeyValue>& values) {
  CheckActive();
  if (key_names_.empty()) RaiseLayerError("No parseable expressions in setting key fields");
  if (values.size() > key_names_.size()) RaiseLayerError("Too many values given for current index");
  if (values.empty()) {
    GoFirst();
    return !eof_;
  }
  uint8_t key[ADS_MAX_KEY_LENGTH];
  UNSIGNED16 key_length = ADS_MAX_KEY_LENGTH;
  BuildSeekKey(values, key, &key_length);
  UNSIGNED16 found = 0;
  CheckEngine(AdsSeek(order_, key, key_length, kRawKey, kSeekNearest, &found));
  bof_ = false;
  eof_ = !FetchCurrent();
  return !eof_;
}

void TAdsDataSet::BuildSeekKey(const std::vector<KeyValue>& values, uint8_t* key, UNSIGNED16* key_length) {

  const UNSIGNED32 length = static_cast<UNSIGNED32>(key_buffer_.size());
  CheckEngine(AdsGetNullRecord(table_, key_buffer_.data(), length));
  std::fill(key_marks_.begin(), key_marks_.end(), kNoValue);
  for (size_t i = values.size(); i-- > 0;) {
    const int column = FindFieldIndex(key_names_[i]);
    if (column < 0) RaiseGenericError("Field '" + key_names_[i] + "' not found");
    const TField& field = fields_[static_cast<size_t>(column)];
    key_marks_[static_cast<size_t>(column)] = EncodeKeyValue(field, values[i], key_buffer_.data());
  }

  CheckEngine(AdsInitRawKey(order_));
  for (int column : order_segments_) {
    if (column < 0 || key_marks_[static_cast<size_t>(column)] == kNoValue) continue;
    const TField& field = fields_[static_cast<size_t>(column)];
    const uint8_t* bytes = key_buffer_.data() + field.offset_;
    if (field.engine_type_ == ADS_STRING) {
      CheckEngine(AdsSetField(order_, field.name_, bytes, field.width_));
    } else {
      CheckEngine(AdsSetFieldRaw(order_, field.name_, bytes, field.width_));
    }
  }
  CheckEngine(AdsBuildRawKey(order_, key, key_length));
}

void TAdsDataSet::RestoreAfterMiss(bool was_eof, bool was_bof) {
  if (was_eof) {
    GoLast();
    return;
  }
  if (was_bof || !has_record_) {
    GoFirst();
    return;
  }
  // The record buffer still holds the current record; the engine returns
  // to it before the next relative move or engine-read column.
  engine_off_record_ = true;
  eof_ = false;
  bof_ = false;
}

// ---------------------------------------------------------------------------
// LocateValue

void TAdsDataSet::EncodeLocateValue(const TField& field, const LocateItem& value, uint8_t* buffer) const {
  switch (value.type) {
    case LocateItem::Type::Empty:
      return;  // the cleared record already holds the empty value
    case LocateItem::Type::Text:
      EncodeKeyValue(field, KeyValue(value.text), buffer);
      return;
    case LocateItem::Type::Logical:
      EncodeKeyValue(field, KeyValue(value.logical ? 1.0 : 0.0), buffer);
      return;
    case LocateItem::Type::Number:
    case LocateItem::Type::Date:
    case LocateItem::Type::Time:
    case LocateItem::Type::DateTime:
      EncodeKeyValue(field, KeyValue(value.number), buffer);
      return;
  }
}

std::string TAdsDataSet::FilterTerm(const TField& field, const LocateItem& value, bool case_insensitive) const {
  if (value.type == LocateItem::Type::Empty) return "(empty(" + field.name_ + "))";
  // The literal takes the form of the column's kind, the value converted to
  // it as the index path converts it when it writes the key: a number
  // located in a character column is compared as its text, a text in a
  // numeric or date column as the number or date it reads as.
  const bool is_text = value.type == LocateItem::Type::Text;
  auto as_number = [&] {
    if (!is_text) return value.type == LocateItem::Type::Logical ? (value.logical ? 1.0 : 0.0) : value.number;
    double number = 0;
    if (!TryTextToFloat(value.text, &number)) {
      throw EDatabaseError("'" + value.text + "' is not a valid floating point value");
    }
    return number;
  };
  std::string literal;
  switch (field.kind_) {
    case TFieldKind::Text:
    case TFieldKind::Memo:
    case TFieldKind::Binary:
    case TFieldKind::Bytes:
      literal = QuoteForFilter(is_text ? value.text : FormatGeneral(as_number()));
      break;
    case TFieldKind::Boolean: {
      bool on = value.logical;
      if (is_text) {
        on = !value.text.empty() && std::strchr("1TYty", value.text[0]) != nullptr;
      } else if (value.type != LocateItem::Type::Logical) {
        on = value.number != 0;
      }
      literal = on ? ".TRUE." : ".FALSE.";
      break;
    }
    case TFieldKind::Date:
    case TFieldKind::Time:
    case TFieldKind::DateTime: {
      TDateTime when = value.number;
      if (is_text && !TryTextToDateTime(value.text, &when)) {
        throw EDatabaseError("'" + value.text + "' is not a valid date and time");
      }
      // Dates are written in the engine's own date format ("c" is the
      // century, written here as part of a four-digit year).
      std::string engine_format;
      if (AdsGetDateFormat(&engine_format) != AE_SUCCESS || engine_format.empty()) engine_format = "MM/dd/ccyy";
      std::string pattern;
      for (char c : engine_format) {
        if (c == 'c' || c == 'C') {
          pattern += 'y';
        } else if (c == '/' || c == '-' || c == '.' || c == ' ') {
          pattern += '"';
          pattern += c;
          pattern += '"';
        } else {
          pattern += c;
        }
      }
      if (field.kind_ == TFieldKind::Date) {
        literal = "ctod(" + QuoteForFilter(FormatDateTime(pattern, when)) + ")";
      } else if (field.kind_ == TFieldKind::Time) {
        literal = "ctot(" + QuoteForFilter(FormatDateTime("hh:nn:ss", when)) + ")";
      } else {
        literal = "ctots(" + QuoteForFilter(FormatDateTime(pattern + " hh:nn:ss", when)) + ")";
      }
      break;
    }
    default:
      literal = FormatGeneral(as_number());
      break;
  }
  if (case_insensitive) return "(UPPER(" + field.name_ + ")=UPPER(" + literal + "))";
  return "(" + field.name_ + "=" + literal + ")";
}

bool TAdsDataSet::LocateWithIndex(const std::vector<int>& columns, const LocateOptions& options, bool* used_index) {
  *used_index = false;
  // Whether an index carries a scope, a condition or a custom flag, which
  // would hide records from a seek on it.
  auto restricted = [&](ADSHANDLE h) {
    std::string text;
    UNSIGNED32 r = AdsGetScope(h, 1, &text);
    if (r == AE_SUCCESS && !text.empty()) return true;
    text.clear();
    r = AdsGetScope(h, 2, &text);
    if (r == AE_SUCCESS && !text.empty()) return true;
    text.clear();
    if (AdsGetIndexCondition(h, &text) == AE_SUCCESS && !text.empty()) return true;
    UNSIGNED16 custom = 0;
    return AdsIsIndexCustom(h, &custom) == AE_SUCCESS && custom != 0;
  };
  std::vector<size_t> candidates;
  if (active_index_ >= 0 &&
      (index_defs_[static_cast<size_t>(active_index_)].unique || restricted(order_))) {
    candidates.push_back(static_cast<size_t>(active_index_));
  } else {
    for (size_t i = 0; i < index_defs_.size(); ++i) candidates.push_back(i);
  }
  int chosen = -1;
  for (size_t i : candidates) {
    const TIndexDef& def = index_defs_[i];
    if (def.descending) continue;  // a nearest seek there would not find the first match
    const std::vector<std::string> segments = SplitNames(def.fields);
    if (segments.size() < columns.size()) continue;
    bool matches = true;
    for (size_t s = 0; s < columns.size() && matches; ++s) {
      bool listed = false;
      for (int c : columns) {
        if (EqualsNoCase(fields_[static_cast<size_t>(c)].name_, segments[s])) listed = true;
      }
      matches = listed;
    }
    if (!matches) continue;
    const ADSHANDLE h = static_cast<int>(i) == active_index_ ? order_ : index_handles_[i];
    if (restricted(h)) continue;
    chosen = static_cast<int>(i);
    break;
  }
  if (chosen < 0) return false;
  *used_index = true;
  const ADSHANDLE index = chosen == active_index_ ? order_ : index_handles_[static_cast<size_t>(chosen)];
  CheckEngine(AdsInitRawKey(index));
  for (size_t k = 0; k < columns.size(); ++k) {
    const TField& field = fields_[static_cast<size_t>(columns[k])];
    const uint8_t* bytes = scratch_.data() + field.offset_;
    uint32_t width = field.width_;
    if (field.engine_type_ == ADS_STRING) {
      if (options.partial_key && k + 1 == columns.size()) {
        while (width > 0 && (bytes[width - 1] == ' ' || bytes[width - 1] == 0)) --width;
      }
      CheckEngine(AdsSetField(index, field.name_, bytes, width));
    } else {
      CheckEngine(AdsSetFieldRaw(index, field.name_, bytes, width));
    }
  }
  uint8_t key[ADS_MAX_KEY_LENGTH];
  UNSIGNED16 key_length = ADS_MAX_KEY_LENGTH;
  CheckEngine(AdsBuildRawKey(index, key, &key_length));
  UNSIGNED16 found = 0;
  CheckEngine(AdsSeek(index, key, key_length, kRawKey, kSeekNearest, &found));
  if (found == 0) return false;
  if (index != order_) {
    // The found record becomes current in the dataset's own order.
    UNSIGNED32 bookmark = 0;
    CheckEngine(AdsGetBookmark(index, &bookmark));
    CheckEngine(AdsGotoBookmark(order_, bookmark));
  }
  return FetchCurrent();
}

bool TAdsDataSet::LocateWithFilter(const std::vector<int>& columns, const std::vector<LocateItem>& values,
                                   const LocateOptions& options) {
  std::string text;
  for (size_t k = 0; k < columns.size(); ++k) {
    if (k > 0) text += " AND ";
    text += FilterTerm(fields_[static_cast<size_t>(columns[k])], values[k], options.case_insensitive);
  }
  // A filter already on the table is kept.
  std::string old_filter;
  bool had_filter = false;
  {
    std::vector<char> buffer(256);
    for (;;) {
      UNSIGNED16 length = static_cast<UNSIGNED16>(buffer.size());
      const UNSIGNED32 r = AdsGetAOF(table_, buffer.data(), &length);
      if (r == AE_INSUFFICIENT_BUFFER && buffer.size() < 65535 && length > buffer.size()) {
        buffer.assign(length + 1u, 0);
        continue;
      }
      if (r == AE_SUCCESS) {
        old_filter.assign(buffer.data(), std::min<size_t>(length, buffer.size()));
        const size_t nul = old_filter.find('\0');
        if (nul != std::string::npos) old_filter.resize(nul);
        had_filter = !old_filter.empty();
      } else if (r != AE_NO_FILTER && r != AE_NO_CURRENT_RECORD) {
        CheckEngine(r);
      }
      break;
    }
  }
  if (had_filter) text += " AND (" + old_filter + ")";
  UNSIGNED16 old_exact = 0;
  CheckEngine(AdsGetExact22(table_, &old_exact));

  bool found = false;
  UNSIGNED32 bookmark = 0;
  // Only used while the locate's own failure propagates: that failure is
  // the one to report, so the results of the restoring calls are passed
  // over (a successful locate checks them below).
  auto restore = [&] {
    static_cast<void>(AdsSetExact22(table_, old_exact));
    static_cast<void>(had_filter ? AdsSetAOF(table_, old_filter, kAofOptions) : AdsClearAOF(table_));
  };
  try {
    CheckEngine(AdsSetExact22(table_, options.partial_key ? 0 : 1));
    CheckEngine(AdsSetAOF(table_, text, kAofOptions));
    CheckEngine(AdsGotoTop(order_));
    found = !EngineAtEof();
    if (found) CheckEngine(AdsGetBookmark(order_, &bookmark));
  } catch (...) {
    restore();
    throw;
  }
  // A table left under the locate's filter would hide records from every
  // later walk: a failed restore is an error, not a quiet success.
  CheckEngine(AdsSetExact22(table_, old_exact));
  CheckEngine(had_filter ? AdsSetAOF(table_, old_filter, kAofOptions) : AdsClearAOF(table_));
  if (!found) return false;
  CheckEngine(AdsGotoBookmark(order_, bookmark));
  return FetchCurrent();
}

bool TAdsDataSet::LocateValue(const std::string& columns, const std::vector<LocateItem>& values,
                              LocateOptions options) {
  CheckActive();
  std::vector<int> located;
  for (const std::string& name : SplitNames(columns)) {
    const int column = FindFieldIndex(name);
    if (column < 0) RaiseGenericError("Field '" + name + "' not found");
    located.push_back(column);
  }
  if (located.empty() || located.size() != values.size()) {
    RaiseGenericError("LocateValue needs one value for each of the columns '" + columns + "' (" +
                      std::to_string(values.size()) + " given)");
  }
  const bool was_eof = eof_;
  const bool was_bof = bof_;
  const bool had_record = has_record_;
  const uint32_t record = record_number_;

  UNSIGNED32 length = static_cast<UNSIGNED32>(scratch_.size());
  CheckEngine(AdsClearRecordBuffer(table_, scratch_.data(), length));
  if (!options.case_insensitive) {
    for (size_t k = 0; k < located.size(); ++k) {
      EncodeLocateValue(fields_[static_cast<size_t>(located[k])], values[k], scratch_.data());
    }
  }

  bool found = false;
  bool used_index = false;
  if (!options.case_insensitive) found = LocateWithIndex(located, options, &used_index);
  if (!used_index) found = LocateWithFilter(located, values, options);
  if (found) {
    eof_ = false;
    bof_ = false;
    return true;
  }
  // Not found: the record that was current stays current.
  if (!had_record) {
    GoFirst();
    return false;
  }
  const UNSIGNED32 r = AdsGotoBookmark(order_, record);
  if (r == AE_INVALID_RECORD_NUMBER) {
    GoLast();
    return false;
  }
  CheckEngine(r);
  // The bookmark was just reached, so the engine stands on the record; the
  // end flags are the ones from before the locate.
  static_cast<void>(FetchCurrent());
  eof_ = was_eof;
  bof_ = was_bof;
  return false;
}

void TAdsDataSet::RaiseCapturedError(uint32_t code, const std::string& text) const {
  throw MakeError(code, text, "");
}
