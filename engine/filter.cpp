// Compiles filter expressions into SQL conditions with bound parameters.
#include "engine/filter.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "engine/date_text.h"
#include "engine/errors.h"
#include "util/ascii.h"

namespace engine {

// ---- the compiler ---------------------------------------------------------------------

namespace {

enum class Tok { kEnd, kLParen, kRParen, kString, kNumber, kIdent, kOp, kPlus, kComma, kDotWord };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // string contents, identifier, operator, or upper-cased dot word
  size_t position = 0;
};

enum class LitKind { kText, kNumber, kDate, kTime, kTimestamp, kLogical };

struct Literal {
  LitKind kind = LitKind::kText;
  std::string text;
  double number = 0;
  int64_t julian = 0;  // 0: the empty date
  uint32_t ms = 0;
  bool logical = false;
};

// One side of a comparison: a column (possibly under UPPER) or a literal.
struct Operand {
  bool is_column = false;
  int column = -1;
  bool upper = false;
  Literal literal;
};

bool ParseClockTime(std::string text, uint32_t* ms) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  bool pm = false, am = false;
  std::string upper = ToUpperAscii(text);
  if (upper.size() > 2 && (upper.ends_with("PM") || upper.ends_with("AM"))) {
    pm = upper.ends_with("PM");
    am = !pm;
    text = text.substr(0, text.size() - 2);
    while (!text.empty() && text.back() == ' ') text.pop_back();
  }
  int h = 0, m = 0, s = 0, milli = 0;
  int fields[4] = {0, 0, 0, 0};
  int count = 0;
  size_t i = 0;
  while (i < text.size() && count < 4) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    int v = 0;
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      if (++digits > 3) return false;
      v = v * 10 + (text[i] - '0');
      ++i;
    }
    fields[count++] = v;
    if (i < text.size()) {
      char sep = text[i];
      if (!((sep == ':' && count < 3) || (sep == '.' && count == 3))) return false;
      ++i;
      if (i == text.size()) return false;
    }
  }
  if (i != text.size() || count < 2) return false;
  h = fields[0];
  m = fields[1];
  s = fields[2];
  milli = fields[3];
  if (am || pm) {
    if (h < 1 || h > 12) return false;
    if (pm && h != 12) h += 12;
    if (am && h == 12) h = 0;
  }
  if (h > 23 || m > 59 || s > 59 || milli > 999) return false;
  *ms = static_cast<uint32_t>(((h * 60 + m) * 60 + s) * 1000 + milli);
  return true;
}

std::string TimestampText(int64_t julian, uint32_t ms) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u.%03u", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return FormatIsoDate(julian) + " " + buffer;
}

std::string TimeText(uint32_t ms) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u.%03u", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return buffer;
}

}  // namespace

class FilterCompiler {
 public:
  FilterCompiler(const std::string& text, const std::vector<ColumnInfo>& columns, bool exact,
                 const std::string& table, const std::string& date_format)
      : text_(text), columns_(columns), exact_(exact), table_(table), date_format_(date_format) {}

  Status Run(FilterProgram* program) {
    program_ = program;
    if (Status lexed = Lex(); !lexed.ok()) return lexed;
    std::string sql;
    if (Status parsed = Or(&sql, 0); !parsed.ok()) return parsed;
    if (Peek().kind != Tok::kEnd) return Error("unexpected '" + Peek().text + "'");
    program->where_ = sql;
    return Status();
  }

 private:
  static constexpr int kMaxDepth = 200;

  // "Table <table>, filter '<text>': <what>".
  Status Failure(UNSIGNED32 code, const std::string& what) const {
    return Status(code, "Table " + table_ + ", filter '" + text_ + "': " + what).WithTable(table_);
  }
  Status Error(const std::string& what) {
    size_t at = pos_ < tokens_.size() ? tokens_[pos_].position : text_.size();
    return Failure(AE_KDX_FILTER_SYNTAX, what + " (at character " + std::to_string(at + 1) + ")");
  }
  Status ColumnError(UNSIGNED32 code, int column, const std::string& what) {
    const std::string& name = columns_[static_cast<size_t>(column)].name;
    return Failure(code, "column \"" + name + "\" " + what).WithColumn(name);
  }

  Status Lex() {
    size_t i = 0;
    while (i < text_.size()) {
      const char c = text_[i];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++i;
        continue;
      }
      Token token;
      token.position = i;
      if (Status read = ReadToken(&i, &token); !read.ok()) return read;
      tokens_.push_back(token);
    }
    Token end;
    end.kind = Tok::kEnd;
    end.position = text_.size();
    tokens_.push_back(end);
    return Status();
  }

  // Reads the token at `*i` (no blank) and moves `*i` past it.
  Status ReadToken(size_t* i, Token* token) {
    const char c = text_[*i];
    const Tok punctuation = c == '(' ? Tok::kLParen : c == ')' ? Tok::kRParen : c == '+' ? Tok::kPlus
                            : c == ',' ? Tok::kComma : Tok::kEnd;
    if (punctuation != Tok::kEnd) {
      token->kind = punctuation;
      token->text = std::string(1, c);
      ++*i;
      return Status();
    }
    if (c == '"' || c == '\'') return ReadQuoted(i, token);
    if (c == '[') return ReadBracketed(i, token);
    if (c == '=' || c == '<' || c == '>' || c == '!' || c == '#' || c == '$') {
      ReadOperator(i, token);
      return Status();
    }
    if (c == '.' && *i + 1 < text_.size() && std::isalpha(static_cast<unsigned char>(text_[*i + 1]))) {
      return ReadDotWord(i, token);
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' ||
        (c == '-' && *i + 1 < text_.size() &&
         (std::isdigit(static_cast<unsigned char>(text_[*i + 1])) || text_[*i + 1] == '.'))) {
      ReadNumber(i, token);
      return Status();
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80) {
      ReadName(i, token);
      return Status();
    }
    pos_ = tokens_.size();
    return Failure(AE_KDX_FILTER_SYNTAX,
                   "unexpected character '" + std::string(1, c) + "' at character " + std::to_string(*i + 1));
  }

  // "text" or 'text'.
  Status ReadQuoted(size_t* i, Token* token) {
    const size_t end = text_.find(text_[*i], *i + 1);
    if (end == std::string::npos) {
      pos_ = tokens_.size();
      return Failure(AE_KDX_FILTER_SYNTAX,
                     "a quoted text starting at character " + std::to_string(*i + 1) + " is not closed");
    }
    token->kind = Tok::kString;
    token->text = text_.substr(*i + 1, end - *i - 1);
    *i = end + 1;
    return Status();
  }

  // [column name].
  Status ReadBracketed(size_t* i, Token* token) {
    const size_t end = text_.find(']', *i + 1);
    if (end == std::string::npos) return Failure(AE_KDX_FILTER_SYNTAX, "'[' is not closed");
    token->kind = Tok::kIdent;
    token->text = text_.substr(*i + 1, end - *i - 1);
    *i = end + 1;
    return Status();
  }

  void ReadOperator(size_t* i, Token* token) {
    token->kind = Tok::kOp;
    const std::string two = text_.substr(*i, 2);
    if (two == "==" || two == "<>" || two == "!=" || two == "<=" || two == ">=") {
      token->text = two;
      *i += 2;
    } else {
      token->text = std::string(1, text_[*i]);
      ++*i;
    }
  }

  // .T., .AND. and the like, upper-cased.
  Status ReadDotWord(size_t* i, Token* token) {
    const size_t end = text_.find('.', *i + 1);
    if (end == std::string::npos) return Failure(AE_KDX_FILTER_SYNTAX, "'.' word not closed");
    token->kind = Tok::kDotWord;
    token->text = ToUpperAscii(text_.substr(*i, end - *i + 1));
    *i = end + 1;
    return Status();
  }

  void ReadNumber(size_t* i, Token* token) {
    size_t end = *i + 1;
    while (end < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[end])) || text_[end] == '.')) ++end;
    token->kind = Tok::kNumber;
    token->text = text_.substr(*i, end - *i);
    *i = end;
  }

  static bool IsNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
  }

  void ReadName(size_t* i, Token* token) {
    size_t end = *i + 1;
    while (end < text_.size() && IsNameCharacter(text_[end])) ++end;
    token->kind = Tok::kIdent;
    token->text = text_.substr(*i, end - *i);
    *i = end;
    // A column name with blanks ("Field Name") is taken whole when the
    // table has such a column.
    for (const ColumnInfo& column : columns_) {
      const std::string& name = column.name;
      if (name.size() > token->text.size() && name.find(' ') != std::string::npos &&
          *i - token->text.size() + name.size() <= text_.size() &&
          EqualsNoCase(text_.substr(token->position, name.size()), name)) {
        const size_t after = token->position + name.size();
        if (after == text_.size() ||
            !(std::isalnum(static_cast<unsigned char>(text_[after])) || text_[after] == '_')) {
          token->text = text_.substr(token->position, name.size());
          *i = after;
          break;
        }
      }
    }
  }

  const Token& Peek(size_t ahead = 0) const {
    size_t at = pos_ + ahead;
    return at < tokens_.size() ? tokens_[at] : tokens_.back();
  }
  bool IsWord(const Token& token, const char* word) const {
    return (token.kind == Tok::kIdent || token.kind == Tok::kDotWord) && EqualsNoCase(token.text, word);
  }
  Status Expect(Tok kind, const char* what) {
    if (Peek().kind != kind) return Error(std::string("expected ") + what);
    ++pos_;
    return Status();
  }

  std::string Param(const SqlValue& value) {
    program_->parameters_.push_back(value);
    return "?" + std::to_string(program_->parameters_.size());
  }

  Status Or(std::string* sql, int depth) {
    if (depth > kMaxDepth) return Error("the expression is nested too deeply");
    std::string left;
    if (Status rc = And(&left, depth + 1); !rc.ok()) return rc;
    while (IsWord(Peek(), "OR") || IsWord(Peek(), ".OR.")) {
      ++pos_;
      std::string right;
      if (Status rc = And(&right, depth + 1); !rc.ok()) return rc;
      left = "(" + left + " OR " + right + ")";
    }
    *sql = left;
    return Status();
  }

  Status And(std::string* sql, int depth) {
    std::string left;
    if (Status rc = Not(&left, depth + 1); !rc.ok()) return rc;
    while (IsWord(Peek(), "AND") || IsWord(Peek(), ".AND.")) {
      ++pos_;
      std::string right;
      if (Status rc = Not(&right, depth + 1); !rc.ok()) return rc;
      left = "(" + left + " AND " + right + ")";
    }
    *sql = left;
    return Status();
  }

  Status Not(std::string* sql, int depth) {
    if (depth > kMaxDepth) return Error("the expression is nested too deeply");
    if (IsWord(Peek(), "NOT") || IsWord(Peek(), ".NOT.") || (Peek().kind == Tok::kOp && Peek().text == "!")) {
      ++pos_;
      std::string inner;
      if (Status rc = Not(&inner, depth + 1); !rc.ok()) return rc;
      *sql = "(NOT " + inner + ")";
      return Status();
    }
    return Primary(sql, depth + 1);
  }

  Status Primary(std::string* sql, int depth) {
    if (Peek().kind == Tok::kLParen) {
      ++pos_;
      if (Status rc = Or(sql, depth + 1); !rc.ok()) return rc;
      return Expect(Tok::kRParen, "')'");
    }
    if (IsWord(Peek(), "EMPTY") && Peek(1).kind == Tok::kLParen) {
      pos_ += 2;
      int column;
      if (Status rc = ColumnRef(&column); !rc.ok()) return rc;
      if (Status rc = Expect(Tok::kRParen, "')' after the column of empty()"); !rc.ok()) return rc;
      *sql = EmptyTest(column);
      return Status();
    }
    Operand left;
    if (Status rc = ParseOperand(&left, depth + 1); !rc.ok()) return rc;
    if (Peek().kind != Tok::kOp) {
      // A logical column alone is a condition.
      if (left.is_column && columns_[static_cast<size_t>(left.column)].type.type == ADS_LOGICAL && !left.upper) {
        *sql = "(ifnull(" + ColumnSql(left.column) + ", 0) <> 0)";
        return Status();
      }
      if (!left.is_column && left.literal.kind == LitKind::kLogical) {
        *sql = left.literal.logical ? "1" : "0";
        return Status();
      }
      return Error("expected a comparison");
    }
    std::string op = Peek().text;
    if (op == "!" || op == "$") return Error("operator '" + op + "' is not supported");
    ++pos_;
    Operand right;
    if (Status rc = ParseOperand(&right, depth + 1); !rc.ok()) return rc;
    if (!left.is_column && right.is_column) {
      std::swap(left, right);
      if (op == "<") op = ">";
      else if (op == ">") op = "<";
      else if (op == "<=") op = ">=";
      else if (op == ">=") op = "<=";
    }
    if (!left.is_column || right.is_column) return Error("a comparison needs one column and one value");
    return Compare(left, op, right.literal, right.upper, sql);
  }

  Status ColumnRef(int* column) {
    const Token& token = Peek();
    if (token.kind != Tok::kIdent) return Error("expected a column name");
    *column = FindColumn(token.text);
    if (*column < 0) {
      return Failure(AE_COLUMN_NOT_FOUND, "column \"" + token.text + "\" not found").WithColumn(token.text);
    }
    ++pos_;
    return Status();
  }

  int FindColumn(const std::string& name) const {
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (EqualsNoCase(columns_[i].name, name)) return static_cast<int>(i);
    }
    return -1;
  }

  std::string ColumnSql(int column) const { return QuoteIdentifier(columns_[static_cast<size_t>(column)].name); }

  std::string EmptyTest(int column) const {
    std::string c = ColumnSql(column);
    switch (columns_[static_cast<size_t>(column)].type.type) {
      case ADS_STRING:
      case ADS_MEMO:
      case ADS_VARCHAR: return "(ifnull(rtrim(" + c + "), '') = '')";
      case ADS_BINARY:
      case ADS_IMAGE:
      case ADS_RAW: return "(ifnull(length(" + c + "), 0) = 0)";
      case ADS_LOGICAL:
      case ADS_NUMERIC:
      case ADS_DOUBLE:
      case ADS_CURDOUBLE:
      case ADS_INTEGER:
      case ADS_SHORTINT:
      case ADS_AUTOINC: return "(ifnull(" + c + ", 0) = 0)";
      default: return "(" + c + " IS NULL)";
    }
  }

  Status ParseOperand(Operand* operand, int depth) {
    if (depth > kMaxDepth) return Error("the expression is nested too deeply");
    if (IsWord(Peek(), "UPPER") && Peek(1).kind == Tok::kLParen) {
      pos_ += 2;
      if (Status rc = ParseOperand(operand, depth + 1); !rc.ok()) return rc;
      if (Status rc = Expect(Tok::kRParen, "')' after UPPER("); !rc.ok()) return rc;
      operand->upper = true;
      if (!operand->is_column) {
        if (operand->literal.kind != LitKind::kText) return Error("UPPER() needs a text");
        operand->literal.text = ToUpperAscii(operand->literal.text);
      }
      return Status();
    }
    if (Peek().kind == Tok::kIdent && !IsFunction(Peek()) ) {
      operand->is_column = true;
      return ColumnRef(&operand->column);
    }
    operand->is_column = false;
    return ParseValue(&operand->literal, depth + 1);
  }

  bool IsFunction(const Token& token) const {
    if (Peek(1).kind != Tok::kLParen) return false;
    for (const char* name : {"CHR", "CTOD", "CTOT", "CTOTS", "UPPER", "EMPTY"}) {
      if (EqualsNoCase(token.text, name)) return true;
    }
    return false;
  }

  // value := term { '+' term }
  Status ParseValue(Literal* value, int depth) {
    if (Status rc = ParseTerm(value, depth + 1); !rc.ok()) return rc;
    while (Peek().kind == Tok::kPlus) {
      ++pos_;
      Literal next;
      if (Status rc = ParseTerm(&next, depth + 1); !rc.ok()) return rc;
      if (value->kind == LitKind::kText && next.kind == LitKind::kText) {
        value->text += next.text;
      } else if (value->kind == LitKind::kNumber && next.kind == LitKind::kNumber) {
        value->number += next.number;
      } else {
        return Error("'+' joins texts or numbers only");
      }
    }
    return Status();
  }

  Status ParseTerm(Literal* value, int depth) {
    if (depth > kMaxDepth) return Error("the expression is nested too deeply");
    const Token token = Peek();
    switch (token.kind) {
      case Tok::kString:
        ++pos_;
        value->kind = LitKind::kText;
        value->text = token.text;
        return Status();
      case Tok::kNumber: {
        ++pos_;
        char* end = nullptr;
        double d = std::strtod(token.text.c_str(), &end);
        if (end == nullptr || *end != '\0') return Error("'" + token.text + "' is not a number");
        value->kind = LitKind::kNumber;
        value->number = d;
        return Status();
      }
      case Tok::kDotWord:
        if (token.text == ".T." || token.text == ".TRUE." || token.text == ".F." || token.text == ".FALSE.") {
          ++pos_;
          value->kind = LitKind::kLogical;
          value->logical = token.text == ".T." || token.text == ".TRUE.";
          return Status();
        }
        return Error("unexpected '" + token.text + "'");
      case Tok::kLParen: {
        ++pos_;
        if (Status rc = ParseValue(value, depth + 1); !rc.ok()) return rc;
        return Expect(Tok::kRParen, "')'");
      }
      case Tok::kIdent: {
        if (Peek(1).kind != Tok::kLParen) return Error("expected a value");
        std::string name = ToUpperAscii(token.text);
        pos_ += 2;
        Literal argument;
        if (Status rc = ParseValue(&argument, depth + 1); !rc.ok()) return rc;
        if (Status rc = Expect(Tok::kRParen, ("')' after " + name + "(").c_str()); !rc.ok()) return rc;
        return ParseCall(name, argument, value);
      }
      default: return Error("expected a value");
    }
  }

  // The value of function `name` (upper case) applied to `argument`.
  Status ParseCall(const std::string& name, const Literal& argument, Literal* value) {
    if (name == "CHR") {
      if (argument.kind != LitKind::kNumber || argument.number < 0 || argument.number > 255 ||
          argument.number != static_cast<int>(argument.number)) {
        return Error("Chr() needs a whole number from 0 to 255");
      }
      value->kind = LitKind::kText;
      value->text = std::string(1, static_cast<char>(static_cast<int>(argument.number)));
      return Status();
    }
    if (argument.kind != LitKind::kText) return Error(name + "() needs a quoted text");
    std::string trimmed = argument.text;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.erase(0, 1);
    if (name == "CTOD") {
      value->kind = LitKind::kDate;
      if (trimmed.find_first_not_of("/-. ") == std::string::npos) return Status();  // the empty date
      if (!ParseDateWithFormat(trimmed, date_format_, &value->julian)) {
        return Error("'" + argument.text + "' is not a date in the format " + date_format_);
      }
      return Status();
    }
    if (name == "CTOT") {
      value->kind = LitKind::kTime;
      if (!ParseClockTime(trimmed, &value->ms)) return Error("'" + argument.text + "' is not a time");
      return Status();
    }
    if (name == "CTOTS") {
      value->kind = LitKind::kTimestamp;
      size_t space = trimmed.find(' ');
      std::string date = trimmed.substr(0, space);
      std::string time = space == std::string::npos ? "00:00:00" : trimmed.substr(space + 1);
      if (!ParseDateWithFormat(date, date_format_, &value->julian) || !ParseClockTime(time, &value->ms)) {
        return Error("'" + argument.text + "' is not a date and time in the format " + date_format_ + " HH:MM:SS");
      }
      return Status();
    }
    return Error("unknown function " + name + "()");
  }

  static std::string SqlOperator(const std::string& op) {
    if (op == "=" || op == "==") return "=";
    if (op == "<>" || op == "!=" || op == "#") return "<>";
    return op;
  }

  // The condition `column_side` `op` `value` (`value_upper`: the value was
  // written inside UPPER()).
  Status Compare(const Operand& column_side, const std::string& op, Literal value, bool value_upper,
                 std::string* sql) {
    const int column = column_side.column;
    const ColumnType& type = columns_[static_cast<size_t>(column)].type;
    const std::string c = ColumnSql(column);
    const std::string sop = SqlOperator(op);
    switch (type.type) {
      case ADS_STRING:
      case ADS_MEMO:
      case ADS_VARCHAR:
        if (value.kind != LitKind::kText) return ColumnError(AE_COLUMN_TYPE_MISMATCH, column, "holds text");
        *sql = TextCondition(c, op, value.text, column_side.upper || value_upper);
        return Status();
      case ADS_NUMERIC:
      case ADS_DOUBLE:
      case ADS_CURDOUBLE:
      case ADS_INTEGER:
      case ADS_SHORTINT:
      case ADS_AUTOINC:
        if (value.kind != LitKind::kNumber) return ColumnError(AE_COLUMN_TYPE_MISMATCH, column, "holds numbers");
        *sql = "(ifnull(" + c + ", 0) " + sop + " " + Param(SqlValue::Real(value.number)) + ")";
        return Status();
      case ADS_LOGICAL:
        if (value.kind != LitKind::kLogical) {
          return ColumnError(AE_COLUMN_TYPE_MISMATCH, column, "holds logical values (.T. or .F.)");
        }
        if (sop != "=" && sop != "<>") return Error("logical values compare with = and <> only");
        *sql = "(ifnull(" + c + ", 0) " + sop + " " + Param(SqlValue::Integer(value.logical ? 1 : 0)) + ")";
        return Status();
      case ADS_DATE:
      case ADS_TIMESTAMP:
      case ADS_TIME:
        return CompareDateTime(column, sop, value, sql);
      default:
        return ColumnError(AE_COLUMN_TYPE_MISMATCH, column, "of type " + TypeName(type.type) + " cannot be filtered");
    }
  }

  // The condition on the text column `c` (quoted): `op` with `text`, both
  // upper-cased when `upper`.
  std::string TextCondition(const std::string& c, const std::string& op, std::string text, bool upper) {
    const std::string sop = SqlOperator(op);
    std::string col = "rtrim(ifnull(" + c + ", ''))";
    if (upper) {
      col = "upper(" + col + ")";
      text = ToUpperAscii(text);
    }
    if (sop != "=" && sop != "<>") return "(" + col + " " + sop + " " + Param(SqlValue::Text(text)) + ")";
    std::string test;
    if (exact_ || op == "==") {
      while (!text.empty() && text.back() == ' ') text.pop_back();
      test = "(" + col + " = " + Param(SqlValue::Text(text)) + ")";
    } else {
      // Exact off: the column begins with the value (an empty value matches all).
      const std::string p = Param(SqlValue::Text(text));
      const std::string raw = upper ? "upper(ifnull(" + c + ", ''))" : "ifnull(" + c + ", '')";
      test = "(substr(" + raw + ", 1, length(" + p + ")) = " + p + ")";
    }
    return sop == "<>" ? "(NOT " + test + ")" : test;
  }

  // The condition on the date, date-time or time column `column`.
  Status CompareDateTime(int column, const std::string& sop, Literal value, std::string* sql) {
    const UNSIGNED16 type = columns_[static_cast<size_t>(column)].type.type;
    const std::string c = ColumnSql(column);
    if (type == ADS_DATE && value.kind == LitKind::kTimestamp) value.kind = LitKind::kDate;  // compared by day
    if (type == ADS_TIME) {
      if (value.kind != LitKind::kTime) return ColumnError(AE_COLUMN_TYPE_MISMATCH, column, "holds times");
      *sql = "(strftime('%H:%M:%f', " + c + ") " + sop + " " + Param(SqlValue::Text(TimeText(value.ms))) + ")";
      return Status();
    }
    if (value.kind == LitKind::kDate) {
      if (value.julian == 0 && (sop == "=" || sop == "<>")) {
        *sql = "(" + c + (sop == "=" ? " IS NULL)" : " IS NOT NULL)");
        return Status();
      }
      const std::string left = type == ADS_DATE ? c : "date(" + c + ")";
      *sql = "(" + left + " " + sop + " " + Param(SqlValue::Text(FormatIsoDate(value.julian))) + ")";
      return Status();
    }
    if (type == ADS_DATE) return ColumnError(AE_COLUMN_TYPE_MISMATCH, column, "holds dates");
    if (value.kind != LitKind::kTimestamp) {
      return ColumnError(AE_COLUMN_TYPE_MISMATCH, column, "holds dates and times");
    }
    *sql = "(strftime('%Y-%m-%d %H:%M:%f', " + c + ") " + sop + " " +
           Param(SqlValue::Text(TimestampText(value.julian, value.ms))) + ")";
    return Status();
  }

  const std::string& text_;
  const std::vector<ColumnInfo>& columns_;
  bool exact_;
  const std::string& table_;
  const std::string& date_format_;
  FilterProgram* program_ = nullptr;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

Status FilterProgram::Compile(const std::string& expression, const std::vector<ColumnInfo>& columns, bool exact,
                              const std::string& table, const std::string& date_format,
                              std::unique_ptr<FilterProgram>* out) {
  auto program = std::unique_ptr<FilterProgram>(new FilterProgram());
  FilterCompiler compiler(expression, columns, exact, table, date_format);
  if (Status compiled = compiler.Run(program.get()); !compiled.ok()) return compiled;
  *out = std::move(program);
  return Status();
}

}  // namespace engine
