// Named-parameter scan and the rewrite to positional placeholders.
#include "engine/sql_params.h"

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }
bool EndsName(char c) { return c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';'; }

}  // namespace

std::vector<SqlParamPlace> ScanSqlParams(const std::string& text) {
  std::vector<SqlParamPlace> places;
  bool in_literal = false;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (IsQuote(c)) {
      in_literal = !in_literal;
      ++i;
      continue;
    }
    if (c != ':' || in_literal) {
      ++i;
      continue;
    }
    if (i + 1 < n && text[i + 1] == ':') {
      i += 2;
      continue;
    }
    SqlParamPlace place;
    place.offset = i;
    size_t j = i + 1;
    if (j < n && IsQuote(text[j])) {
      const char quote = text[j];
      const size_t close = text.find(quote, j + 1);
      if (close == std::string::npos) {
        place.name = text.substr(j + 1);
        j = n;
      } else {
        place.name = text.substr(j + 1, close - j - 1);
        j = close + 1;
      }
    } else {
      while (j < n && !EndsName(text[j])) ++j;
      place.name = text.substr(i + 1, j - i - 1);
    }
    place.length = j - i;
    places.push_back(std::move(place));
    i = j;
  }
  return places;
}

std::string ToPositionalSql(const std::string& text, const std::vector<SqlParamPlace>& places) {
  std::string out;
  out.reserve(text.size() + places.size() * 4);
  size_t at = 0;
  for (size_t k = 0; k < places.size(); ++k) {
    const SqlParamPlace& place = places[k];
    out.append(text, at, place.offset - at);
    // A blank on each side keeps the placeholder a token of its own
    // whatever surrounds it.
    out += " ?" + std::to_string(k + 1) + " ";
    at = place.offset + place.length;
  }
  out.append(text, at, std::string::npos);
  return out;
}
