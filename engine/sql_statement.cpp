// The parts of an SQL statement that do not depend on what runs it.
#include "engine/sql_statement.h"

#include "engine/errors.h"
#include "engine/schema.h"
#include "util/date_time.h"

namespace engine {
namespace {

constexpr int64_t kFirstJulian = 1721426;  // 1 January of year 1
constexpr int64_t kLastJulian = 5373484;   // 31 December 9999

}  // namespace

std::string PlaceText(const BoundValue& v, PlaceKind kind) {
  const uint32_t ms = static_cast<uint32_t>(v.milliseconds);
  switch (v.kind) {
    case BoundValue::Kind::kDate:
      return kind == PlaceKind::kTimestamp ? FormatIsoDate(v.julian) + " 00:00:00"
             : kind == PlaceKind::kTime    ? std::string("00:00:00")
                                           : FormatIsoDate(v.julian);
    case BoundValue::Kind::kTime:
      return FormatIsoTime(ms);
    case BoundValue::Kind::kTimestamp:
      return kind == PlaceKind::kDate   ? FormatIsoDate(v.julian)
             : kind == PlaceKind::kTime ? FormatIsoTime(ms)
                                        : FormatIsoDate(v.julian) + " " + FormatIsoTime(ms);
    default:
      return "";
  }
}

SqlStatement::~SqlStatement() {
  stores_->ReleaseToOpenCursors();
  stores_.reset();  // every cursor's recycler expires here
  if (connection_ != nullptr && handle_ != 0) connection_->RemoveChild(handle_);
}

std::string SqlStatement::Describe() const {
  std::string text = text_.size() > kQuotedTextLength ? text_.substr(0, kQuotedTextLength) + "..." : text_;
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return "SQL statement \"" + text + "\"";
}

Status SqlStatement::Prepare(const std::string& text) {
  if (prepared_ && text == text_) {
    Reuse();
    values_.assign(places_.size(), BoundValue());
    bound_.assign(places_.size(), false);
    return Status();
  }
  Forget();
  prepared_ = false;
  shape_.reset();
  text_ = text;
  places_ = ScanSqlParams(text);
  for (const SqlParamPlace& place : places_) {
    if (place.name.empty()) {
      return Status(AE_KDX_SQL_PARAMETER, Describe() + ": the ':' at offset " + std::to_string(place.offset) +
                                              " is followed by no parameter name");
    }
  }
  place_kinds_.assign(places_.size(), PlaceKind::kOther);
  if (Status prepared = PrepareText(); !prepared.ok()) return prepared;
  values_.assign(places_.size(), BoundValue());
  bound_.assign(places_.size(), false);
  prepared_ = true;
  return Status();
}

Status SqlStatement::Bind(UNSIGNED16 position, BoundValue value) {
  if (!prepared_) {
    return Status(AE_KDX_SQL_NOT_PREPARED, "SQL statement: a parameter is bound before AdsPrepareSQL");
  }
  if (position == 0 || position > places_.size()) {
    return Status(AE_KDX_SQL_PARAMETER, Describe() + ": parameter position " + std::to_string(position) +
                                            " is outside 1 to " + std::to_string(places_.size()));
  }
  const std::string& name = places_[position - 1].name;
  if ((value.kind == BoundValue::Kind::kDate || value.kind == BoundValue::Kind::kTimestamp) &&
      (value.julian < kFirstJulian || value.julian > kLastJulian)) {
    return Status(AE_KDX_SQL_PARAMETER, Describe() + ", parameter " + name + ": Julian day " +
                                            std::to_string(value.julian) + " is not a date of years 1 to 9999");
  }
  if ((value.kind == BoundValue::Kind::kTime || value.kind == BoundValue::Kind::kTimestamp) &&
      (value.milliseconds < 0 || value.milliseconds >= kMSecsPerDay)) {
    return Status(AE_KDX_SQL_PARAMETER, Describe() + ", parameter " + name + ": " +
                                            std::to_string(value.milliseconds) + " milliseconds is not a time of day");
  }
  values_[position - 1] = std::move(value);
  bound_[position - 1] = true;
  return Status();
}

Status SqlStatement::Execute(ADSHANDLE* cursor) {
  if (!prepared_) return Status(AE_KDX_SQL_NOT_PREPARED, "SQL statement: AdsExecuteSQL before AdsPrepareSQL");
  Status ran = Run(cursor);
  // 7209 is the code of a statement its server cannot run again: a failure
  // naming it makes this statement one the caller must replace.
  if (!ran.ok() && ran.text().find("7209") != std::string::npos) ran.WithUnusableStatement();
  return ran;
}

Status SqlStatement::Queue(bool* queued) {
  if (!prepared_) return Status(AE_KDX_SQL_NOT_PREPARED, "SQL statement: queued before AdsPrepareSQL");
  *queued = QueueBound();
  return Status();
}

Status SqlStatement::StoreRows(ResultRows& rows, ADSHANDLE* cursor) {
  const std::string describe = Describe();
  return ResultStores::Store(stores_, {*shape_, shape_generation_, connection_, describe}, rows, cursor);
}

void SqlStatement::SetShape(std::unique_ptr<ResultShape> shape) {
  shape_ = std::move(shape);
  ++shape_generation_;
}

}  // namespace engine
