// Decoding of a column of the current record from the dataset's raw record
// buffer, and the typed readers built on it.
#include <cmath>
#include <cstring>

#include "data/dataset.h"
#include "data/time_of_day.h"
#include "engine/record_format.h"
#include "util/date_format.h"
#include "util/date_time.h"
#include "util/number_format.h"

namespace {

namespace rf = record_format;
using data_internal::kMsPerDay;

[[noreturn]] void AccessError(const std::string& column, const char* type) {
  throw EDatabaseError("Cannot access field '" + column + "' as type " + type);
}

double JulianToDateTime(int32_t julian) { return static_cast<double>(julian) - kJulianDayOf18991230; }

// Decoded numeric value of a right-aligned decimal text of `width` bytes.
bool ParseNumericText(const uint8_t* p, uint32_t width, double* out) {
  return TryTextToFloat(rf::NumericColumnText(p, width), out);
}

}  // namespace

const uint8_t* TField::Bytes() const {
  if (!dataset_->RecordHolds(number_)) dataset_->ReadWholeRecord();
  return dataset_->record_.data() + offset_;
}

bool TField::IsEmpty() const {
  if (dataset_ == nullptr || !dataset_->has_record_) return true;
  const uint8_t* p = Bytes();
  if (rf::IsBlockType(engine_type_)) {
    // Only the engine can tell whether the value behind the reference is empty.
    UNSIGNED16 empty = 1;
    dataset_->PutEngineOnCurrentRecord();
    dataset_->CheckEngine(AdsIsEmpty(dataset_->table_, name_, &empty));
    return empty != 0;
  }
  switch (engine_type_) {
    case ADS_LOGICAL:
    case ADS_NUMERIC:
    case ADS_DATE:
    case ADS_STRING:
    case ADS_COMPACTDATE:
    case ADS_RAW:
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
    case ADS_INTEGER:
    case ADS_SHORTINT:
    case ADS_TIME:
    case ADS_TIMESTAMP:
    case ADS_AUTOINC:
      return rf::IsEmpty(engine_type_, width_, p);
    default:
      return true;
  }
}

namespace {

// The numeric value of a non-empty column of a number, date or time kind.
struct Decoded {
  bool is_integer = false;
  int64_t integer = 0;
  double number = 0;
};

}  // namespace

static std::string CharacterText(const uint8_t* p, uint32_t width) { return rf::CharacterText(p, width); }

static Decoded DecodeNumber(const TField& field, const uint8_t* p) {
  Decoded d;
  switch (field.EngineType()) {
    case ADS_NUMERIC: {
      double value = 0;
      if (!ParseNumericText(p, field.Width(), &value)) {
        throw EDatabaseError("Column '" + field.Name() + "' holds '" + CharacterText(p, field.Width()) +
                             "', which is not a number");
      }
      if (field.Kind() == TFieldKind::SmallInt) {
        d.is_integer = true;
        d.integer = static_cast<int16_t>(std::nearbyint(value));
      }
      d.number = value;
      break;
    }
    case ADS_DOUBLE:
    case ADS_CURDOUBLE:
      d.number = rf::GetDouble(p);
      break;
    case ADS_INTEGER:
      d.is_integer = true;
      d.integer = static_cast<int32_t>(rf::Get32(p));
      break;
    case ADS_SHORTINT:
      d.is_integer = true;
      d.integer = static_cast<int16_t>(rf::Get16(p));
      break;
    case ADS_AUTOINC:
      d.is_integer = true;
      d.integer = rf::Get32(p);
      break;
    case ADS_DATE:
      d.number = JulianToDateTime(static_cast<int32_t>(rf::Get32(p)));
      break;
    case ADS_COMPACTDATE: {
      // Bytes 1-2: big-endian word, year in its upper 15 bits; month from its
      // low bit and the upper 3 bits of byte 3; day in the low 5 bits.
      const unsigned word = (static_cast<unsigned>(p[0]) << 8) | p[1];
      const int year = static_cast<int>(word >> 1);
      const int month = static_cast<int>((word & 1u) * 8 + (p[2] >> 5));
      const int day = p[2] & 0x1F;
      TDateTime value = 0;
      if (!TryEncodeDate(year, month, day, &value)) {
        throw EDatabaseError("Column '" + field.Name() + "' holds an impossible date");
      }
      d.number = value;
      break;
    }
    case ADS_TIME:
      d.number = rf::Get32(p) / kMsPerDay;
      break;
    case ADS_TIMESTAMP:
      d.number = JulianToDateTime(static_cast<int32_t>(rf::Get32(p))) + rf::Get32(p + 4) / kMsPerDay;
      break;
    default:
      break;
  }
  if (d.is_integer) d.number = static_cast<double>(d.integer);
  return d;
}

double TField::CheckedAmount(double value) const {
  if (IsPlausibleAmount(value)) return value;
  throw ENumberOutOfRange(dataset_ != nullptr ? dataset_->Name() : std::string(), name_, FormatGeneral(value));
}

std::string TField::ReadText() const {
  const bool has_record = dataset_ != nullptr && dataset_->has_record_;
  if (!has_record) return "";
  const uint8_t* p = Bytes();
  if (kind_ == TFieldKind::Text) return CharacterText(p, width_);
  if (IsEmpty()) return "";
  switch (kind_) {
    case TFieldKind::Boolean: {
      const uint8_t c = p[0];
      const bool value = rf::LogicalValue(c);
      return value ? "True" : "False";
    }
    case TFieldKind::Memo:
    case TFieldKind::Binary: {
      std::string value;
      dataset_->PutEngineOnCurrentRecord();
      dataset_->CheckEngine(AdsGetField(dataset_->table_, name_, &value));
      return value;
    }
    case TFieldKind::Bytes:
      return std::string(reinterpret_cast<const char*>(p), width_);
    case TFieldKind::Date:
      return DateToText(DecodeNumber(*this, p).number);
    case TFieldKind::Time:
      return TimeToText(DecodeNumber(*this, p).number);
    case TFieldKind::DateTime:
      return DateTimeToText(DecodeNumber(*this, p).number);
    case TFieldKind::SmallInt:
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      return std::to_string(DecodeNumber(*this, p).integer);
    case TFieldKind::Float:
    case TFieldKind::Currency:
      return FormatGeneral(CheckedAmount(DecodeNumber(*this, p).number));
    case TFieldKind::Text:
      break;
  }
  return "";
}

double TField::ReadDateTime() const {
  if (kind_ == TFieldKind::Text) {
    const std::string text = ReadText();
    TDateTime value = 0;
    if (!TryTextToDateTime(text, &value)) throw EDatabaseError("'" + text + "' is not a valid date and time");
    return value;
  }
  if (IsEmpty()) return 0;
  switch (kind_) {
    case TFieldKind::Date:
    case TFieldKind::Time:
    case TFieldKind::DateTime:
      return DecodeNumber(*this, Bytes()).number;
    default:
      AccessError(name_, "DateTime");
  }
}

double TField::ReadFloat() const {
  if (kind_ == TFieldKind::Text) {
    const std::string text = ReadText();
    double value = 0;
    if (!TryTextToFloat(text, &value)) throw EDatabaseError("'" + text + "' is not a valid floating point value");
    return CheckedAmount(value);
  }
  if (IsEmpty()) return 0;
  switch (kind_) {
    case TFieldKind::Boolean:
    case TFieldKind::Memo:
    case TFieldKind::Binary:
    case TFieldKind::Bytes:
      AccessError(name_, "Float");
    default:
      return CheckedAmount(DecodeNumber(*this, Bytes()).number);
  }
}

int64_t TField::ReadCurrency() const {
  const double value = ReadFloat() * 10000.0;
  const double rounded = std::nearbyint(value);  // ties to even
  if (!std::isfinite(rounded) || std::fabs(rounded) >= 9.2e18) {
    throw EDatabaseError("'" + FormatGeneral(value / 10000.0) + "' is not a valid currency value");
  }
  return static_cast<int64_t>(rounded);
}

int32_t TField::ReadInt() const {
  if (kind_ == TFieldKind::Text) {
    const std::string text = ReadText();
    int32_t value = 0;
    if (!TryTextToInt(text, &value)) throw EDatabaseError("'" + text + "' is not a valid integer value");
    return value;
  }
  if (IsEmpty()) return 0;
  switch (kind_) {
    case TFieldKind::SmallInt:
    case TFieldKind::Integer:
    case TFieldKind::AutoInc:
      return static_cast<int32_t>(DecodeNumber(*this, Bytes()).integer);
    case TFieldKind::Float:
    case TFieldKind::Currency: {
      const double value = CheckedAmount(DecodeNumber(*this, Bytes()).number);
      const double rounded = std::nearbyint(value);  // ties to even
      if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        throw EDatabaseError("'" + FormatGeneral(value) + "' is not a valid integer value");
      }
      return static_cast<int32_t>(rounded);
    }
    default:
      AccessError(name_, "Integer");
  }
}
