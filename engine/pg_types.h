// How PostgreSQL's own column types stand for the engine's declared types,
// and which conversion (pg_values.h) a value of each server type takes to its
// stored form. Pure functions: the catalogue (table columns) and server
// statements (result columns) both map types here, so a column has the same
// engine type whichever way it is read.
//
//   boolean LOGICAL          numeric(w,d) NUMERIC(w,d)   date DATE
//   char(n) CHAR(n x b)      varchar(n) VARCHAR(n x b)   text, varchar MEMO
//   bytea BLOB               double precision DOUBLE     integer INTEGER
//   smallint SHORTINT        time TIME                   timestamp TIMESTAMP
//   money, numeric(19,4) MONEY
//   smallint, integer or bigint filled from a sequence (identity, serial) AUTOINC
// A domain stands for its base type. The server counts char(n) and varchar(n)
// in characters, the engine CHAR and VARCHAR in bytes: b is the most bytes a
// character of the database's encoding takes (4 in UTF8), so that no value
// the server holds is ever cut. Everything else (bigint, real, numeric
// without a precision, char without a length, timestamptz, ...) has no
// faithful engine type.
#ifndef KDX_ENGINE_PG_TYPES_H_
#define KDX_ENGINE_PG_TYPES_H_

#include <cstdint>
#include <string>

namespace engine {

// The server's fixed type OIDs the engine knows.
namespace pg_oid {
constexpr uint32_t kBool = 16;
constexpr uint32_t kBytea = 17;
constexpr uint32_t kInt8 = 20;
constexpr uint32_t kInt2 = 21;
constexpr uint32_t kInt4 = 23;
constexpr uint32_t kText = 25;
constexpr uint32_t kFloat4 = 700;
constexpr uint32_t kFloat8 = 701;
constexpr uint32_t kMoney = 790;
constexpr uint32_t kBpchar = 1042;
constexpr uint32_t kVarchar = 1043;
constexpr uint32_t kDate = 1082;
constexpr uint32_t kTime = 1083;
constexpr uint32_t kTimestamp = 1114;
constexpr uint32_t kTimestamptz = 1184;
constexpr uint32_t kTimetz = 1266;
constexpr uint32_t kNumeric = 1700;
}  // namespace pg_oid

// The conversion a value in the server's text format takes (pg_values.h).
enum class PgValueForm {
  kLogical,     // 't' / 'f'                      -> INTEGER 1 / 0
  kInteger,     // whole number                   -> INTEGER
  kExactNumber, // numeric text                   -> INTEGER when integral and within int64, else REAL
  kMoneyText,   // money under lc_monetary 'C'    -> as kExactNumber
  kReal,        // double text                    -> REAL
  kDate,        // 'YYYY-MM-DD'                   -> TEXT as is
  kTime,        // 'HH:MM:SS[.ffffff]'            -> TEXT 'HH:MM:SS[.sss]'
  kTimestamp,   // date and time                  -> TEXT 'YYYY-MM-DD HH:MM:SS[.sss]'
  kCharacter,   // char(n), blank-padded          -> TEXT without trailing blanks
  kText,        // any other text                 -> TEXT as is
  kBytea,       // '\x' and hex digits            -> BLOB
};

struct PgTypeMapping {
  // The engine declared type ("NUMERIC(12,2)"), or "" when the server type
  // has no faithful engine type; `why` then says why.
  std::string declared;
  PgValueForm form = PgValueForm::kText;
  std::string why;
};

// The mapping of server type `type_oid` with type modifier `typmod` (-1 for
// none, as the catalogue and PQfmod give it). `serial` when the column takes
// its default from a sequence it owns (identity or serial). `char_bytes`:
// the most bytes a character of the database's encoding takes (b above).
PgTypeMapping MapServerType(uint32_t type_oid, int32_t typmod, bool serial, int char_bytes = 1);

}  // namespace engine

#endif  // KDX_ENGINE_PG_TYPES_H_
