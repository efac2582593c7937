// Fuzz target: the named-parameter scan, the rewrite to positional
// placeholders and the compared-column search on arbitrary statement texts.
// Every place must lie inside the text and start with ':'; places must be in
// order and not overlap; the rewrite must keep the text outside the places.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/sql_context.h"
#include "engine/sql_params.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<SqlParamPlace> places = ScanSqlParams(text);
  size_t end = 0;
  size_t kept = text.size();
  for (const SqlParamPlace& place : places) {
    if (place.offset < end || place.offset >= text.size() || text[place.offset] != ':') std::abort();
    if (place.length == 0 || place.offset + place.length > text.size()) std::abort();
    if (place.name.size() >= place.length) std::abort();
    end = place.offset + place.length;
    kept -= place.length;
  }
  const std::string positional = ToPositionalSql(text, places);
  size_t added = 0;
  for (size_t i = 0; i < places.size(); ++i) added += std::to_string(i + 1).size() + 3;
  if (positional.size() != kept + added) std::abort();
  const std::vector<ComparedColumn> columns = FindComparedColumns(positional, places.size());
  if (columns.size() != places.size()) std::abort();
  return 0;
}
