// The one rule for the values a column accepts, applied where rows are
// encoded: a stored value (a buffered row's cell, a statement's result) is
// turned into the raw record format by its column's row of the column-type
// table (schema.h), or refused with the reason. StoredMisfit (schema.h),
// which kdx-db checks and imports with, applies the same rule.
#ifndef KDX_ENGINE_STORED_VALUES_H_
#define KDX_ENGINE_STORED_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/schema.h"

namespace engine {

// A stored value that does not own its bytes: SQLite's storage class
// (SQLITE_INTEGER 1, SQLITE_FLOAT 2, SQLITE_TEXT 3, SQLITE_BLOB 4,
// SQLITE_NULL 5) and its value.
struct StoredCell {
  int type = 5;
  int64_t integer = 0;
  double real = 0;
  const char* bytes = "";
  size_t size = 0;
};

// The text a number stands for in a text column ("%lld", "%.15g"); a text's
// or a BLOB's own bytes; "" for NULL.
std::string StoredText(const StoredCell& cell);

// Writes `cell` in the raw record format of a column of `type` at `out`
// (type.width bytes; `column_number`, 1-based, goes into a block reference):
// kNone, or why the engine cannot read the value (`out` is then undefined).
// NULL writes the type's empty value.
[[nodiscard]] Misfit EncodeStored(const ColumnType& type, UNSIGNED32 column_number, const StoredCell& cell, uint8_t* out);

// The engine's text for a value it cannot read (after `shown`, the value as
// messages quote it): "is not a valid date (YYYY-MM-DD)" and the like.
std::string MisfitText(Misfit misfit, const ColumnType& type, const std::string& shown);

}  // namespace engine

#endif  // KDX_ENGINE_STORED_VALUES_H_
