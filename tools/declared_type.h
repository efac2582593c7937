// The conversion of a user's text to the value a column stores, and the check
// of a stored value against its column. Shared by `kdx-db import` (which
// converts CSV fields) and `kdx-db check` (which checks stored values).
//
// What a declared type means, which texts are dates, times and timestamps,
// and which stored values a column accepts are the engine's own definitions
// (engine/schema.h: ParseDeclaredType, ParseIsoDate, the column-type table,
// StoredMisfit), so that the tool accepts exactly what the program reads.
// This file adds only the user's side: the texts a CSV field may hold, and
// the messages.
#ifndef KDX_TOOLS_DECLARED_TYPE_H_
#define KDX_TOOLS_DECLARED_TYPE_H_

#include <string>
#include <string_view>

#include "engine/schema.h"

// Parses a declared type such as "char(12)", "NUMERIC(7, 2)" or "Date" with
// the engine's parser. false for a type the engine refuses, with `*why`
// giving the engine's reason followed by the types a column may have.
[[nodiscard]] bool ParseColumnType(const std::string& declared, engine::ColumnType* type, std::string* why);

// The value to store for the text a user gave: text, a whole number or a real
// number. An empty text stores NULL.
using StoredValue = engine::StoredValue;

// Converts a user's text: dates as YYYY-MM-DD or DD/MM/YYYY, times as HH:MM or
// HH:MM:SS[.sss], logicals as Y/N, T/F, TRUE/FALSE, 1/0 (any case), numbers
// with "." as the decimal point. false with `*why` (such as "'31/02/2010' is
// not a valid date") when the text does not fit the column.
[[nodiscard]] bool ConvertUserValue(const engine::ColumnType& type, std::string_view text, StoredValue* value,
                                    std::string* why);

// Checks a stored value against its column; false with `*why` when the
// engine would refuse it when reading the record (a date that is not a date,
// text in a number column, a number wider than its NUMERIC width, a whole
// number out of range), and also when it would be changed silently on the way
// (trailing blanks or too many characters in a CHAR column, too many in a
// VARCHAR column).
[[nodiscard]] bool CheckStoredValue(const engine::ColumnType& type, const StoredValue& value, std::string* why);

// "YYYY-MM-DD" of a valid date, from either accepted form; false otherwise.
[[nodiscard]] bool NormalizeDate(std::string_view text, std::string* iso);

#endif  // KDX_TOOLS_DECLARED_TYPE_H_
