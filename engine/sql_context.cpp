// A small SQL tokenizer and the search for the column each placeholder is
// compared with.
#include "engine/sql_context.h"

#include <cctype>

namespace {

enum class Kind { kIdent, kLiteral, kParam, kCompare, kOpen, kClose, kComma, kDot, kOther };

struct Token {
  Kind kind;
  std::string text;  // identifier without quotes; keyword upper-cased in `upper`
  std::string upper;
  size_t param = 0;  // 1-based position of a placeholder
  bool quoted = false;
};

bool IdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }
bool IdentPart(char c) { return IdentStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$'; }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::vector<Token> Tokenize(const std::string& sql) {
  std::vector<Token> tokens;
  size_t i = 0;
  const size_t n = sql.size();
  auto push = [&](Kind kind, std::string text, bool quoted = false) {
    Token t{kind, text, Upper(text), 0, quoted};
    tokens.push_back(std::move(t));
  };
  while (i < n) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t end = sql.find("*/", i + 2);
      i = end == std::string::npos ? n : end + 2;
    } else if (c == '\'' ) {
      size_t j = i + 1;
      while (j < n) {
        if (sql[j] == '\'') {
          if (j + 1 < n && sql[j + 1] == '\'') { j += 2; continue; }
          break;
        }
        ++j;
      }
      push(Kind::kLiteral, sql.substr(i, j + 1 - i));
      i = j + 1;
    } else if (c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::string text;
      size_t j = i + 1;
      while (j < n) {
        if (sql[j] == close) {
          if (close != ']' && j + 1 < n && sql[j + 1] == close) { text += close; j += 2; continue; }
          break;
        }
        text += sql[j++];
      }
      push(Kind::kIdent, text, true);
      i = j + 1;
    } else if (c == '?') {
      size_t j = i + 1;
      while (j < n && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      Token t{Kind::kParam, sql.substr(i, j - i), "", 0, false};
      if (j > i + 1 && j - i < 9) t.param = std::stoul(sql.substr(i + 1, j - i - 1));
      tokens.push_back(std::move(t));
      i = j;
    } else if (IdentStart(c)) {
      size_t j = i;
      while (j < n && IdentPart(sql[j])) ++j;
      push(Kind::kIdent, sql.substr(i, j - i));
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c)) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
      size_t j = i;
      while (j < n && (IdentPart(sql[j]) || sql[j] == '.' ||
                       ((sql[j] == '+' || sql[j] == '-') && (sql[j - 1] == 'e' || sql[j - 1] == 'E'))))
        ++j;
      push(Kind::kLiteral, sql.substr(i, j - i));
      i = j;
    } else if (c == '<' || c == '>' || c == '=' || c == '!') {
      size_t j = i + 1;
      if (j < n && (sql[j] == '=' || (c == '<' && sql[j] == '>'))) ++j;
      const std::string op = sql.substr(i, j - i);
      push(op == "!" || op == "<<" || op == ">>" ? Kind::kOther : Kind::kCompare, op);
      i = j;
    } else if (c == '(') { push(Kind::kOpen, "("); ++i; }
    else if (c == ')') { push(Kind::kClose, ")"); ++i; }
    else if (c == ',') { push(Kind::kComma, ","); ++i; }
    else if (c == '.') { push(Kind::kDot, "."); ++i; }
    else { push(Kind::kOther, std::string(1, c)); ++i; }
  }
  return tokens;
}

bool IsKeyword(const Token& t) {
  if (t.kind != Kind::kIdent || t.quoted) return false;
  static const char* const kKeywords[] = {"AND", "OR", "NOT", "IN", "BETWEEN", "WHERE", "SELECT", "FROM", "ON",
                                          "IS", "NULL", "LIKE", "CASE", "WHEN", "THEN", "ELSE", "END", "AS",
                                          "HAVING", "BY", "JOIN", "EXISTS", "ESCAPE", "GLOB", "SET", "VALUES"};
  for (const char* k : kKeywords)
    if (t.upper == k) return true;
  return false;
}

bool IsColumnName(const std::vector<Token>& t, long i) {
  return i >= 0 && i < static_cast<long>(t.size()) && t[i].kind == Kind::kIdent && !IsKeyword(t[i]);
}

// A column reference whose last token is at `end`, read leftwards.
bool ColumnEndingAt(const std::vector<Token>& t, long end, ComparedColumn* out) {
  if (!IsColumnName(t, end)) return false;
  // A function call's closing name is no column: "f(x) = ?1" ends in ")".
  out->column = t[end].text;
  out->qualifier.clear();
  if (end >= 2 && t[end - 1].kind == Kind::kDot && IsColumnName(t, end - 2)) out->qualifier = t[end - 2].text;
  return true;
}

// A column reference starting at `begin`, read rightwards; not a function call.
bool ColumnStartingAt(const std::vector<Token>& t, long begin, ComparedColumn* out) {
  const long n = static_cast<long>(t.size());
  if (!IsColumnName(t, begin)) return false;
  long last = begin;
  while (last + 2 < n && t[last + 1].kind == Kind::kDot && IsColumnName(t, last + 2)) last += 2;
  if (last + 1 < n && (t[last + 1].kind == Kind::kOpen || t[last + 1].kind == Kind::kDot)) return false;
  return ColumnEndingAt(t, last, out);
}

bool IsOperand(const Token& t) { return t.kind == Kind::kParam || t.kind == Kind::kLiteral || t.kind == Kind::kIdent; }

// Index of the token before BETWEEN/IN, skipping a NOT.
long BeforeKeyword(const std::vector<Token>& t, long keyword) {
  long k = keyword - 1;
  if (k >= 0 && t[k].kind == Kind::kIdent && !t[k].quoted && t[k].upper == "NOT") --k;
  return k;
}

bool IsWord(const std::vector<Token>& t, long i, const char* word) {
  return i >= 0 && i < static_cast<long>(t.size()) && t[i].kind == Kind::kIdent && !t[i].quoted && t[i].upper == word;
}

ComparedColumn Find(const std::vector<Token>& t, long k) {
  ComparedColumn out;
  const long n = static_cast<long>(t.size());
  // COL op ?N (the column must not be the end of a longer expression such as "a + COL").
  if (k >= 2 && t[k - 1].kind == Kind::kCompare && ColumnEndingAt(t, k - 2, &out)) {
    long before = k - 2 - (out.qualifier.empty() ? 0 : 2) - 1;
    if (before < 0 || t[before].kind != Kind::kOther) return out;
  }
  out = {};
  // ?N op COL
  if (k + 2 < n && t[k + 1].kind == Kind::kCompare && ColumnStartingAt(t, k + 2, &out)) return out;
  out = {};
  // COL [NOT] BETWEEN ?N AND x
  if (IsWord(t, k - 1, "BETWEEN") && ColumnEndingAt(t, BeforeKeyword(t, k - 1), &out)) return out;
  out = {};
  // COL [NOT] BETWEEN x AND ?N
  if (k >= 3 && IsWord(t, k - 1, "AND") && IsOperand(t[k - 2]) && IsWord(t, k - 3, "BETWEEN") &&
      ColumnEndingAt(t, BeforeKeyword(t, k - 3), &out))
    return out;
  out = {};
  // COL [NOT] IN (..., ?N, ...)
  long j = k - 1;
  while (j >= 0 && (t[j].kind == Kind::kComma || t[j].kind == Kind::kParam || t[j].kind == Kind::kLiteral)) --j;
  if (j >= 1 && t[j].kind == Kind::kOpen && IsWord(t, j - 1, "IN") && ColumnEndingAt(t, BeforeKeyword(t, j - 1), &out))
    return out;
  return {};
}

}  // namespace

std::vector<ComparedColumn> FindComparedColumns(const std::string& positional_sql, size_t count) {
  std::vector<ComparedColumn> columns(count);
  const std::vector<Token> tokens = Tokenize(positional_sql);
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.kind != Kind::kParam || t.param == 0 || t.param > count) continue;
    columns[t.param - 1] = Find(tokens, static_cast<long>(k));
  }
  return columns;
}
