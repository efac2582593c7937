// SQL texts resolved against the server's catalogue and given the natural
// order of their tables.
#include "engine/server_sql.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "engine/errors.h"
#include "engine/pg_codes.h"
#include "engine/sqlite_support.h"
#include "engine/sql_codes.h"
#include "util/ascii.h"

namespace engine {
namespace {

enum class Kind { kWord, kQuoted, kString, kNumber, kParam, kPunct, kSpace };

struct Token {
  Kind kind;
  size_t begin;
  size_t end;
  std::string value;  // a word in lower case, a quoted name unescaped, a punctuation's text
};

// Words that are never taken for a table's or a column's name.
const std::set<std::string>& SqlWords() {
  static const std::set<std::string> kWords = {
      "all",    "and",     "any",   "as",       "asc",     "at",        "between", "by",     "case",
      "cast",   "collate", "cross", "desc",     "distinct", "else",     "end",     "escape", "except",
      "exists", "extract", "false", "fetch",    "filter",  "first",     "for",     "from",   "full",
      "group",  "having",  "ilike", "in",       "inner",   "intersect", "interval", "is",    "join",
      "last",   "lateral", "left",  "like",     "limit",   "natural",   "next",    "not",    "null",
      "nulls",  "offset",  "on",    "only",     "or",      "order",     "outer",   "over",   "partition",
      "right",  "row",     "rows",  "select",   "similar", "some",      "then",    "true",   "union",
      "using",  "when",    "where", "window",   "with",    "within",    "zone"};
  return kWords;
}

// Words that end a FROM clause.
bool EndsFrom(const std::string& word) {
  static const std::set<std::string> kEnders = {"where",  "group",  "having", "window",    "order",  "limit",
                                                "offset", "fetch",  "for",    "union",     "except", "intersect",
                                                "returning"};
  return kEnders.count(word) != 0;
}

bool IsJoinWord(const std::string& word) {
  static const std::set<std::string> kJoin = {"inner", "left", "right", "full", "outer", "cross", "natural"};
  return kJoin.count(word) != 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}
bool IsIdentPart(unsigned char c) { return IsIdentStart(c) || IsDigit(static_cast<char>(c)) || c == '$'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The end of the string literal whose opening quote is at `at`.
size_t StringEnd(const std::string& s, size_t at, bool backslashes) {
  size_t i = at + 1;
  while (i < s.size()) {
    if (backslashes && s[i] == '\\') {
      i += 2;
    } else if (s[i] == '\'') {
      if (i + 1 < s.size() && s[i + 1] == '\'') {
        i += 2;
      } else {
        return i + 1;
      }
    } else {
      ++i;
    }
  }
  return s.size();
}

// The end of the block comment at `i` ("/*"); block comments nest.
size_t BlockCommentEnd(const std::string& s, size_t i) {
  const size_t n = s.size();
  int depth = 0;
  while (i < n) {
    if (s[i] == '/' && i + 1 < n && s[i + 1] == '*') {
      ++depth;
      i += 2;
    } else if (s[i] == '*' && i + 1 < n && s[i + 1] == '/') {
      i += 2;
      if (--depth == 0) break;
    } else {
      ++i;
    }
  }
  return i;
}

// The end of the quoted name at `i` (a '"'); `name` gets its text.
size_t QuotedNameEnd(const std::string& s, size_t i, std::string* name) {
  const size_t n = s.size();
  for (++i; i < n; ++i) {
    if (s[i] != '"') {
      *name += s[i];
    } else if (i + 1 < n && s[i + 1] == '"') {
      *name += '"';
      ++i;
    } else {
      return i + 1;
    }
  }
  return i;
}

// The end of the number at `i`: digits and points, then an exponent.
size_t NumberEnd(const std::string& s, size_t i) {
  const size_t n = s.size();
  while (i < n && (IsDigit(s[i]) || s[i] == '.')) ++i;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < n && IsDigit(s[j])) {
      for (i = j; i < n && IsDigit(s[i]);) ++i;
    }
  }
  return i;
}

// The end of a dollar-quoted string at `i` ("$tag$...$tag$"), or npos when
// the '$' at `i` opens none.
size_t DollarStringEnd(const std::string& s, size_t i) {
  const size_t n = s.size();
  size_t j = i + 1;
  while (j < n && s[j] != '$' && IsIdentPart(static_cast<unsigned char>(s[j]))) ++j;
  if (j >= n || s[j] != '$') return std::string::npos;
  const std::string tag = s.substr(i, j - i + 1);
  const size_t close = s.find(tag, j + 1);
  return close == std::string::npos ? n : close + tag.size();
}

std::vector<Token> Lex(const std::string& s) {
  std::vector<Token> out;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const size_t start = i;
    const unsigned char c = static_cast<unsigned char>(s[i]);
    Kind kind = Kind::kPunct;
    std::string value;
    if (IsBlank(static_cast<char>(c))) {
      while (i < n && IsBlank(s[i])) ++i;
      kind = Kind::kSpace;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
      kind = Kind::kSpace;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      i = BlockCommentEnd(s, i);
      kind = Kind::kSpace;
    } else if (c == '\'') {
      i = StringEnd(s, i, false);
      kind = Kind::kString;
    } else if ((c == 'e' || c == 'E') && i + 1 < n && s[i + 1] == '\'') {
      i = StringEnd(s, i + 1, true);
      kind = Kind::kString;
    } else if ((c == 'b' || c == 'B' || c == 'x' || c == 'X' || c == 'n' || c == 'N') && i + 1 < n &&
               s[i + 1] == '\'') {
      i = StringEnd(s, i + 1, false);
      kind = Kind::kString;
    } else if (c == '"') {
      i = QuotedNameEnd(s, i, &value);
      kind = Kind::kQuoted;
    } else if (c == '$' && i + 1 < n && IsDigit(s[i + 1])) {
      for (++i; i < n && IsDigit(s[i]);) ++i;
      kind = Kind::kParam;
    } else if (c == '$' && DollarStringEnd(s, i) != std::string::npos) {
      i = DollarStringEnd(s, i);
      kind = Kind::kString;
    } else if (IsDigit(static_cast<char>(c)) || (c == '.' && i + 1 < n && IsDigit(s[i + 1]))) {
      i = NumberEnd(s, i);
      kind = Kind::kNumber;
    } else if (IsIdentStart(c)) {
      while (i < n && IsIdentPart(static_cast<unsigned char>(s[i]))) ++i;
      kind = Kind::kWord;
      value = ToLowerAscii(s.substr(start, i - start));
    } else if (c == ':' && i + 1 < n && s[i + 1] == ':') {
      i += 2;
      value = "::";
    } else {
      ++i;
      value = std::string(1, static_cast<char>(c));
    }
    out.push_back({kind, start, i, std::move(value)});
  }
  return out;
}

enum class Role { kNone, kTable, kAlias, kQualifier, kQualifiedColumn, kColumn };

struct FromEntry {
  size_t token = 0;  // index into the significant tokens
  bool exact = false;
  std::string name;  // as written: a word in lower case, a quoted name as quoted
  int alias = -1;    // significant token of its alias
  int depth = 0;
  const PgTable* table = nullptr;
};

// What a paren level of the text is doing.
struct Level {
  bool select = false;
  bool in_from = false;
  bool expect_table = false;
  bool alias_possible = false;
  bool names_skipped = false;  // the column list of an alias
  int entry = -1;              // the FROM entry an alias would belong to
  bool paren_item = false;     // a parenthesised FROM item opened the level above
};

class Resolver {
 public:
  Resolver(const std::string& text, const ServerTableLookup& lookup, const std::string& server)
      : text_(text), lookup_(lookup), server_(server), tokens_(Lex(text)) {
    for (size_t i = 0; i < tokens_.size(); ++i) {
      if (tokens_[i].kind != Kind::kSpace) sig_.push_back(i);
    }
    roles_.assign(sig_.size(), Role::kNone);
    replacement_.assign(sig_.size(), std::nullopt);
  }

  Status Run(ServerSqlText* out) {
    Classify();
    for (FromEntry& entry : entries_) {
      Status rc = lookup_(entry.name, entry.exact, &entry.table);
      if (rc.code() == AE_KDX_TABLE_NOT_FOUND) {
        entry.table = nullptr;  // a view, a WITH query, a function: kept as written
      } else if (!rc.ok()) {
        return rc;
      } else if (Status order = RequireOrder(*entry.table, server_); !order.ok()) {
        return order;
      }
    }
    if (Status rc = Rewrite(); !rc.ok()) return rc;
    std::map<size_t, std::string> insertions;
    PlaceNulls(&insertions);
    out->resolved = Emit(insertions);
    out->ordered = out->resolved;
    size_t at = 0;
    std::string insertion;
    if (OrderInsertion(&at, &insertion)) {
      insertions[at] += insertion;
      out->ordered = Emit(insertions);
    }
    return Status();
  }

 private:
  const Token& Sig(size_t k) const { return tokens_[sig_[k]]; }
  bool IsPunct(size_t k, const char* p) const { return k < sig_.size() && Sig(k).kind == Kind::kPunct && Sig(k).value == p; }
  bool IsWord(size_t k, const char* w) const { return k < sig_.size() && Sig(k).kind == Kind::kWord && Sig(k).value == w; }
  bool IsName(size_t k) const { return k < sig_.size() && (Sig(k).kind == Kind::kWord || Sig(k).kind == Kind::kQuoted); }
  std::string Raw(size_t k) const { return text_.substr(Sig(k).begin, Sig(k).end - Sig(k).begin); }
  std::string Final(size_t k) const { return replacement_[k] ? *replacement_[k] : Raw(k); }

  // Pass one: which word is a table, an alias, a qualifier or a column.
  void Classify() {
    std::vector<Level> levels(1);
    for (size_t k = 0; k < sig_.size(); ++k) {
      if (Parenthesis(k, &levels)) continue;
      const Token& t = Sig(k);
      Level& level = levels.back();
      if (t.kind == Kind::kPunct && t.value == "," && level.in_from) {
        level.expect_table = true;
        level.alias_possible = false;
        continue;
      }
      if (t.kind == Kind::kWord && ClauseWord(t.value, &level)) continue;
      if (level.in_from && level.expect_table && IsName(k)) {
        FromItem(&k, static_cast<int>(levels.size()) - 1, &level);
        continue;
      }
      if (level.in_from && level.alias_possible && Alias(k, &level)) continue;
      if (!IsName(k) || level.names_skipped) continue;
      ClassifyName(k);
    }
  }

  // Opens or closes a level at a parenthesis `k`; false for any other token.
  bool Parenthesis(size_t k, std::vector<Level>* levels) {
    if (IsPunct(k, "(")) {
      Level& level = levels->back();
      Level inner;
      inner.names_skipped = level.names_skipped || (level.alias_possible && level.entry == -2);
      inner.paren_item = level.in_from && level.expect_table;
      if (inner.paren_item) level.expect_table = false;
      level.alias_possible = false;
      levels->push_back(inner);
      return true;
    }
    if (!IsPunct(k, ")")) return false;
    const bool item = levels->back().paren_item;
    if (levels->size() > 1) levels->pop_back();
    if (item) {
      levels->back().alias_possible = true;
      levels->back().entry = -1;
    }
    return true;
  }

  // A word that starts or ends a clause of `level`, or joins its FROM items:
  // true when it is one (and changes what is expected next).
  static bool ClauseWord(const std::string& w, Level* level) {
    if (w == "select") {
      level->select = true;
      level->in_from = false;
      return true;
    }
    if (w == "from" && level->select) {
      level->in_from = true;
      level->expect_table = true;
      level->alias_possible = false;
      return true;
    }
    if (!level->in_from) return false;
    if (w == "join") {
      level->expect_table = true;
      level->alias_possible = false;
      return true;
    }
    if (IsJoinWord(w) || w == "on" || w == "using") {
      level->alias_possible = false;
      return true;
    }
    if (EndsFrom(w)) {
      level->in_from = level->expect_table = level->alias_possible = false;
      return true;
    }
    return level->expect_table && (w == "only" || w == "lateral");
  }

  // The FROM item whose name is at `*k` (a table of the statement, a
  // function or schema.table, the last two kept as written), at `depth`.
  void FromItem(size_t* k, int depth, Level* level) {
    level->expect_table = false;
    if (IsPunct(*k + 1, "(")) return;  // a function in FROM
    if (IsPunct(*k + 1, ".")) {         // schema.table: kept as written
      *k += IsName(*k + 2) ? 2 : 1;
      level->alias_possible = true;
      level->entry = -1;
      return;
    }
    const Token& t = Sig(*k);
    FromEntry entry;
    entry.token = *k;
    entry.exact = t.kind == Kind::kQuoted;
    entry.name = t.value;
    entry.depth = depth;
    roles_[*k] = Role::kTable;
    entries_.push_back(entry);
    level->alias_possible = true;
    level->entry = static_cast<int>(entries_.size()) - 1;
  }

  // Where an alias may follow a FROM item: true when `k` is "AS" or the
  // alias; otherwise no alias may follow any more.
  bool Alias(size_t k, Level* level) {
    if (IsWord(k, "as")) return true;
    const Token& t = Sig(k);
    if (IsName(k) && !(t.kind == Kind::kWord && SqlWords().count(t.value) != 0)) {
      roles_[k] = Role::kAlias;
      if (level->entry >= 0) entries_[static_cast<size_t>(level->entry)].alias = static_cast<int>(k);
      level->alias_possible = IsPunct(k + 1, "(");
      level->entry = level->alias_possible ? -2 : -1;  // -2: the column list of the alias follows
      return true;
    }
    level->alias_possible = false;
    return false;
  }

  void ClassifyName(size_t k) {
    const Token& t = Sig(k);
    const bool after_dot = k >= 2 && IsPunct(k - 1, ".") && IsName(k - 2);
    const bool before_dot = IsPunct(k + 1, ".");
    if (after_dot) {
      // schema.table.column: only the last two are the statement's own names.
      if (k >= 4 && IsPunct(k - 3, ".")) {
        roles_[k - 2] = Role::kNone;
        return;
      }
      if (before_dot) return;
      if (roles_[k - 2] == Role::kQualifier) roles_[k] = Role::kQualifiedColumn;
      return;
    }
    if (before_dot) {
      if (IsName(k + 2) || IsPunct(k + 2, "*")) roles_[k] = Role::kQualifier;
      return;
    }
    if (t.kind != Kind::kWord || SqlWords().count(t.value) != 0) return;
    const bool typed = k >= 1 && (IsPunct(k - 1, "::") || IsWord(k - 1, "as"));
    const bool function = IsPunct(k + 1, "(");
    const bool literal = (k >= 1 && Sig(k - 1).kind == Kind::kString) ||
                         (k + 1 < sig_.size() && Sig(k + 1).kind == Kind::kString);
    const bool extracted = k >= 2 && IsPunct(k - 1, "(") && IsWord(k - 2, "extract");
    if (!typed && !function && !literal && !extracted) roles_[k] = Role::kColumn;
  }

  // The FROM entry a qualifier names: by its alias, else by its table.
  const FromEntry* EntryFor(size_t qualifier) const {
    const Token& q = Sig(qualifier);
    for (const FromEntry& entry : entries_) {
      if (entry.alias >= 0 && Sig(static_cast<size_t>(entry.alias)).value == q.value &&
          Sig(static_cast<size_t>(entry.alias)).kind == q.kind) {
        return &entry;
      }
    }
    for (const FromEntry& entry : entries_) {
      if (entry.alias >= 0) continue;
      const bool same = q.kind == Kind::kQuoted ? (entry.table != nullptr ? entry.table->name == q.value : entry.name == q.value)
                                               : (entry.table != nullptr ? EqualsNoCase(entry.table->name, q.value)
                                                                         : entry.name == q.value);
      if (same) return &entry;
    }
    return nullptr;
  }

  // The spelling column `k` (an unquoted word) takes among `tables`.
  Status ResolveColumn(size_t k, const std::vector<const PgTable*>& tables) {
    const std::string& folded = Sig(k).value;
    std::set<std::string> spellings;
    for (const PgTable* table : tables) {
      if (table->hidden_attnum != 0 && folded == kOrderColumn) return Status();
      for (const PgColumn& column : table->columns) {
        if (column.name == folded) return Status();  // the server finds it as written
        if (EqualsNoCase(column.name, folded)) spellings.insert(column.name);
      }
    }
    if (spellings.size() > 1) {
      return Status(AE_KDX_PG_AMBIGUOUS, "Column " + Raw(k) + " of an SQL statement on " + server_ +
                                               ": its tables hold both " + *spellings.begin() + " and " +
                                               *std::next(spellings.begin()) +
                                               ", whose names differ only in letter case");
    }
    if (spellings.size() == 1) replacement_[k] = QuoteIdentifier(*spellings.begin());
    return Status();
  }

  // Pass two: the new spellings.
  Status Rewrite() {
    std::vector<const PgTable*> all;
    for (const FromEntry& entry : entries_) {
      if (entry.table != nullptr) all.push_back(entry.table);
      if (entry.table != nullptr && !entry.exact && entry.table->name != entry.name) {
        replacement_[entry.token] = QuoteIdentifier(entry.table->name);
      }
    }
    for (size_t k = 0; k < sig_.size(); ++k) {
      switch (roles_[k]) {
        case Role::kQualifier: {
          const FromEntry* entry = EntryFor(k);
          if (entry != nullptr && entry->alias < 0 && entry->table != nullptr && Sig(k).kind == Kind::kWord &&
              entry->table->name != Sig(k).value) {
            replacement_[k] = QuoteIdentifier(entry->table->name);
          }
          break;
        }
        case Role::kQualifiedColumn: {
          const FromEntry* entry = EntryFor(k - 2);
          if (entry != nullptr && entry->table != nullptr && Sig(k).kind == Kind::kWord) {
            if (Status rc = ResolveColumn(k, {entry->table}); !rc.ok()) return rc;
          }
          break;
        }
        case Role::kColumn:
          if (Status rc = ResolveColumn(k, all); !rc.ok()) return rc;
          break;
        default: break;
      }
    }
    return Status();
  }

  // Where the natural order goes (before significant token `*at`, or at the
  // end when *at is past the last) and what goes there; false when the
  // statement's rows cannot be given it.
  bool OrderInsertion(size_t* at, std::string* insertion) const {
    if (sig_.empty() || !(IsWord(0, "select") || IsWord(0, "with"))) return false;
    size_t end = sig_.size();
    while (end > 0 && IsPunct(end - 1, ";")) --end;
    int depth = 0;
    bool main_select = false;  // the top level's SELECT has been seen
    bool ordered = false;
    size_t insert = end;
    for (size_t k = 0; k < end; ++k) {
      if (IsPunct(k, "(")) ++depth;
      if (IsPunct(k, ")")) --depth;
      if (depth != 0 || Sig(k).kind != Kind::kWord) {
        if (depth == 0 && IsPunct(k, ";")) return false;  // more than one statement
        continue;
      }
      const std::string& w = Sig(k).value;
      if (w == "union" || w == "intersect" || w == "except") return false;
      if (w == "select" && !main_select) {
        main_select = true;
        if (IsWord(k + 1, "distinct")) return false;
      }
      if (w == "group" && IsWord(k + 1, "by")) return false;
      if (w == "order" && IsWord(k + 1, "by")) ordered = true;
      if (main_select && insert == end && (w == "limit" || w == "offset" || w == "fetch" || w == "for")) insert = k;
    }
    std::string keys;
    for (const FromEntry& entry : entries_) {
      if (entry.depth != 0 || entry.table == nullptr) continue;
      const std::string reference = entry.alias >= 0 ? Raw(static_cast<size_t>(entry.alias)) : Final(entry.token);
      keys += (keys.empty() ? "" : ", ") + OrderByList(*entry.table, reference + ".");
    }
    if (keys.empty()) return false;
    *at = insert;
    *insertion = (ordered ? ", " : "ORDER BY ") + keys;
    return true;
  }

  // Where the NULLs of each item of the top level's ORDER BY go, unless
  // the item says: first for an ascending item, last for a descending one,
  // as table files sort NULL before every value (the server sorts it after).
  // `*insertions` gets the text to put before the significant token after
  // each item.
  void PlaceNulls(std::map<size_t, std::string>* insertions) const {
    size_t end = sig_.size();
    while (end > 0 && IsPunct(end - 1, ";")) --end;
    size_t k = 0;
    for (int depth = 0; k < end && !(depth == 0 && IsWord(k, "order") && IsWord(k + 1, "by")); ++k) {
      depth += IsPunct(k, "(") ? 1 : IsPunct(k, ")") ? -1 : 0;
    }
    if (k >= end) return;
    size_t item = k + 2;
    bool placed = false, descending = false;
    int depth = 0;
    for (size_t j = item;; ++j) {
      const bool stop = j >= end || (depth == 0 && (IsWord(j, "limit") || IsWord(j, "offset") ||
                                                    IsWord(j, "fetch") || IsWord(j, "for") || IsPunct(j, ")")));
      if (stop || (depth == 0 && IsPunct(j, ","))) {
        if (j > item && !placed) (*insertions)[j] += descending ? "NULLS LAST" : "NULLS FIRST";
        if (stop) return;
        item = j + 1;
        placed = descending = false;
        continue;
      }
      if (IsPunct(j, "(")) ++depth;
      if (IsPunct(j, ")")) --depth;
      if (depth != 0) continue;
      placed = placed || IsWord(j, "nulls");
      descending = IsWord(j, "desc");
    }
  }

  // The text with the replacements, and each of `insertions` before its
  // significant token, or after the last one but the text's closing
  // semicolons when it is not before that.
  std::string Emit(const std::map<size_t, std::string>& insertions) const {
    size_t last = sig_.size();
    while (last > 0 && IsPunct(last - 1, ";")) --last;
    std::string tail;
    for (auto it = insertions.lower_bound(last); it != insertions.end(); ++it) tail += it->second;
    const bool glued = !tail.empty() && tail[0] == ',';
    std::string out;
    size_t k = 0;
    for (size_t i = 0; i < tokens_.size(); ++i) {
      const bool significant = k < sig_.size() && sig_[k] == i;
      const auto inserted = significant && k < last ? insertions.find(k) : insertions.end();
      if (inserted != insertions.end()) {
        if (!out.empty() && !IsBlank(out.back())) out += ' ';
        out += inserted->second + " ";
      }
      if (significant && replacement_[k]) {
        out += *replacement_[k];
      } else {
        out.append(text_, tokens_[i].begin, tokens_[i].end - tokens_[i].begin);
      }
      if (significant) {
        if (!tail.empty() && k + 1 == last) out += (glued ? "" : " ") + tail;
        ++k;
      }
    }
    return out;
  }

  const std::string& text_;
  const ServerTableLookup& lookup_;
  const std::string& server_;
  std::vector<Token> tokens_;
  std::vector<size_t> sig_;
  std::vector<Role> roles_;
  std::vector<std::optional<std::string>> replacement_;
  std::vector<FromEntry> entries_;
};

}  // namespace

Status ResolveServerSql(const std::string& text, const ServerTableLookup& lookup, const std::string& server,
                            ServerSqlText* out) {
  return Resolver(text, lookup, server).Run(out);
}

}  // namespace engine
