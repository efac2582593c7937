// Server column types to engine declared types.
#include "engine/pg_types.h"

#include <algorithm>

#include "engine/schema.h"

namespace engine {
namespace {

// The length, precision and scale inside a type modifier: the server stores
// them offset by the size of its varlena header.
constexpr int32_t kVarHeaderSize = 4;

// The precision and scale of MONEY when it is written as numeric.
constexpr int kMoneyPrecision = 19;
constexpr int kMoneyScale = 4;

PgTypeMapping Declared(std::string declared, PgValueForm form) {
  PgTypeMapping mapping;
  std::string why;
  ColumnType parsed;
  if (!ParseDeclaredType(declared, &parsed, &why)) {
    mapping.form = form;
    mapping.why = why;
    return mapping;
  }
  mapping.declared = std::move(declared);
  mapping.form = form;
  return mapping;
}

// The declared type named by the column-type table's row of `type`.
PgTypeMapping Declared(UNSIGNED16 type, PgValueForm form) { return Declared(TypeName(type), form); }

PgTypeMapping Refused(PgValueForm form, std::string why) {
  PgTypeMapping mapping;
  mapping.form = form;
  mapping.why = std::move(why);
  return mapping;
}

PgTypeMapping MapNumeric(int32_t typmod) {
  if (typmod < kVarHeaderSize) {
    return Refused(PgValueForm::kExactNumber,
                   "numeric without a precision has no fixed width (declare it numeric(w,d))");
  }
  const int32_t bits = typmod - kVarHeaderSize;
  const int precision = (bits >> 16) & 0xFFFF;
  // The scale is an 11-bit signed field (a negative scale rounds to tens).
  const int scale = ((bits & 0x7FF) ^ 1024) - 1024;
  if (precision == kMoneyPrecision && scale == kMoneyScale) return Declared(ADS_CURDOUBLE, PgValueForm::kExactNumber);
  if (scale < 0 || scale > precision) {
    return Refused(PgValueForm::kExactNumber, "numeric(" + std::to_string(precision) + "," + std::to_string(scale) +
                                                  ") has a scale outside 0 to its precision");
  }
  return Declared(TypeName(ADS_NUMERIC) + "(" + std::to_string(precision) + "," + std::to_string(scale) + ")",
                  PgValueForm::kExactNumber);
}

PgTypeMapping MapSized(UNSIGNED16 engine_type, const char* server_name, int32_t typmod, int char_bytes,
                       PgValueForm form) {
  if (typmod < kVarHeaderSize) {
    return Refused(form, std::string(server_name) + " without a length has no fixed width");
  }
  const int64_t characters = typmod - kVarHeaderSize;
  const int64_t bytes = characters * std::max(char_bytes, 1);
  if (bytes > static_cast<int64_t>(kMaxCharWidth)) {
    return Refused(form, std::string(server_name) + "(" + std::to_string(characters) + ") takes up to " +
                             std::to_string(bytes) + " bytes in the database's encoding, more than the engine's " +
                             std::to_string(kMaxCharWidth));
  }
  return Declared(TypeName(engine_type) + "(" + std::to_string(bytes) + ")", form);
}

}  // namespace

PgTypeMapping MapServerType(uint32_t type_oid, int32_t typmod, bool serial, int char_bytes) {
  switch (type_oid) {
    case pg_oid::kBool: return Declared(ADS_LOGICAL, PgValueForm::kLogical);
    case pg_oid::kNumeric: return MapNumeric(typmod);
    case pg_oid::kMoney: return Declared(ADS_CURDOUBLE, PgValueForm::kMoneyText);
    case pg_oid::kDate: return Declared(ADS_DATE, PgValueForm::kDate);
    case pg_oid::kBpchar: return MapSized(ADS_STRING, "character", typmod, char_bytes, PgValueForm::kCharacter);
    case pg_oid::kVarchar:
      return typmod < kVarHeaderSize ? Declared(ADS_MEMO, PgValueForm::kText)
                                     : MapSized(ADS_VARCHAR, "character varying", typmod, char_bytes, PgValueForm::kText);
    case pg_oid::kText: return Declared(ADS_MEMO, PgValueForm::kText);
    case pg_oid::kBytea: return Declared(ADS_BINARY, PgValueForm::kBytea);
    case pg_oid::kFloat8: return Declared(ADS_DOUBLE, PgValueForm::kReal);
    case pg_oid::kInt2: return Declared(serial ? ADS_AUTOINC : ADS_SHORTINT, PgValueForm::kInteger);
    case pg_oid::kInt4: return Declared(serial ? ADS_AUTOINC : ADS_INTEGER, PgValueForm::kInteger);
    case pg_oid::kInt8:
      return serial ? Declared(ADS_AUTOINC, PgValueForm::kInteger)
                    : Refused(PgValueForm::kInteger, "bigint is wider than the engine's INTEGER");
    case pg_oid::kTime: return Declared(ADS_TIME, PgValueForm::kTime);
    case pg_oid::kTimestamp: return Declared(ADS_TIMESTAMP, PgValueForm::kTimestamp);
    case pg_oid::kFloat4:
      return Refused(PgValueForm::kReal, "real (single precision) is not an engine type (use double precision)");
    case pg_oid::kTimestamptz:
      return Refused(PgValueForm::kText, "timestamp with time zone is not an engine type (use timestamp)");
    case pg_oid::kTimetz:
      return Refused(PgValueForm::kText, "time with time zone is not an engine type (use time)");
    default: return Refused(PgValueForm::kText, "the type is not one the engine maps");
  }
}

}  // namespace engine
