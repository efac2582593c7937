// The declared column types of the storage format, and the conversion of a
// user's text to the value a column stores. Shared by `kdx-db import` (which
// converts CSV fields) and `kdx-db check` (which checks stored values).
//
// Stored forms: LOGICAL 0/1; NUMERIC(w,d), DOUBLE, MONEY numbers; INTEGER,
// SHORTINT, AUTOINC whole numbers; DATE 'YYYY-MM-DD'; TIME 'HH:MM:SS' or with
// '.sss'; TIMESTAMP 'YYYY-MM-DD HH:MM:SS' or with '.sss'; CHAR(n) text of at
// most n characters without trailing blanks; VARCHAR(n) text of at most n
// characters; MEMO any text; BLOB, BINARY, IMAGE, RAW(n) bytes. NULL is the
// empty value of every type.
#ifndef KDX_TOOLS_DECLARED_TYPE_H_
#define KDX_TOOLS_DECLARED_TYPE_H_

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3_value;

enum class ColumnKind {
  kLogical, kNumeric, kDate, kChar, kMemo, kBinary, kImage, kVarChar, kDouble,
  kInteger, kShortInt, kTime, kTimestamp, kAutoInc, kRaw, kMoney
};

struct DeclaredType {
  ColumnKind kind = ColumnKind::kMemo;
  int width = 0;     // n of CHAR(n), VARCHAR(n), RAW(n); w of NUMERIC(w,d); 0 when not given
  int decimals = 0;  // d of NUMERIC(w,d)
};

// Parses a declared type such as "char(12)", "NUMERIC(7, 2)" or "Date"
// (case-insensitive). false for a type outside the storage format, with
// `*why` saying what is accepted.
bool ParseDeclaredType(std::string_view text, DeclaredType* type, std::string* why);

// The value to store for the text a user gave: text, a whole number or a real
// number. An empty text stores NULL.
struct StoredValue {
  enum class Kind { kNull, kText, kInteger, kReal } kind = Kind::kNull;
  std::string text;
  int64_t integer = 0;
  double real = 0;
};

// Converts a user's text: dates as YYYY-MM-DD or DD/MM/YYYY, times as HH:MM or
// HH:MM:SS[.sss], logicals as Y/N, T/F, TRUE/FALSE, 1/0 (any case), numbers
// with "." as the decimal point. false with `*why` (such as "'31/02/2010' is
// not a valid date") when the text does not fit the column.
bool ConvertUserValue(const DeclaredType& type, std::string_view text, StoredValue* value, std::string* why);

// Checks a stored value against its column; false with `*why` when it does not
// fit (a date that is not a date, text in a number column, a number wider than
// its NUMERIC width, trailing blanks or too many characters in a CHAR column).
bool CheckStoredValue(const DeclaredType& type, sqlite3_value* value, std::string* why);

// "YYYY-MM-DD" of a valid date, from either accepted form; false otherwise.
bool NormalizeDate(std::string_view text, std::string* iso);

#endif  // KDX_TOOLS_DECLARED_TYPE_H_
