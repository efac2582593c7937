// Reading the server's catalogue: table names, columns and index tags.
#include "engine/pg_catalog.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "engine/errors.h"
#include "engine/pg_codes.h"
#include "engine/pg_session.h"
#include "engine/sqlite_support.h"
#include "util/ascii.h"

namespace engine {
namespace {

constexpr char kTablesSql[] =
    "SELECT c.oid, n.nspname, c.relname, s.pos FROM pg_catalog.pg_class c "
    "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
    "JOIN unnest(pg_catalog.current_schemas(false)) WITH ORDINALITY AS s(name, pos) ON s.name = n.nspname "
    "WHERE c.relkind IN ('r', 'p') ORDER BY s.pos, c.relname";

constexpr char kTableByOidSql[] =
    "SELECT c.oid, n.nspname, c.relname, 0 FROM pg_catalog.pg_class c "
    "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace WHERE c.oid = $1::oid";

// A domain stands for its base type; a column filled from a sequence it owns
// (identity, or serial's automatic dependency) is an autoincrement.
constexpr char kColumnsSql[] =
    "SELECT a.attname, a.attnum, "
    "CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END, "
    "CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod END, "
    "pg_catalog.format_type(a.atttypid, a.atttypmod), "
    "a.attidentity <> '' OR EXISTS (SELECT 1 FROM pg_catalog.pg_depend d "
    "JOIN pg_catalog.pg_class q ON q.oid = d.objid AND q.relkind = 'S' "
    "WHERE d.classid = 'pg_catalog.pg_class'::regclass AND d.refclassid = 'pg_catalog.pg_class'::regclass "
    "AND d.refobjid = a.attrelid AND d.refobjsubid = a.attnum AND d.deptype IN ('a', 'i')), "
    "a.attnotnull "
    "FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_type t ON t.oid = a.atttypid "
    "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum";

constexpr char kIndexesSql[] =
    "SELECT c.relname, i.indisunique, i.indnkeyatts, i.indkey, i.indoption, "
    "i.indpred IS NOT NULL, i.indexprs IS NOT NULL, am.amname, i.indisprimary, i.indisvalid, "
    "NOT EXISTS (SELECT 1 FROM unnest(i.indcollation::pg_catalog.oid[], i.indkey::pg_catalog.int2[]) AS k(coll, attnum) "
    "LEFT JOIN pg_catalog.pg_collation co ON co.oid = k.coll "
    "LEFT JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
    "WHERE k.coll <> 0 AND (a.attcollation IS DISTINCT FROM k.coll OR NOT COALESCE(CASE WHEN k.coll = 100 "
    "THEN (SELECT COALESCE(to_jsonb(d) ->> 'datlocprovider', 'c') = 'c' AND d.datcollate IN ($2, $3, $4, $5) "
    "FROM pg_catalog.pg_database d WHERE d.datname = pg_catalog.current_database()) "
    "ELSE co.collprovider = 'c' AND co.collcollate IN ($2, $3, $4, $5) END, false))) "
    "FROM pg_catalog.pg_index i JOIN pg_catalog.pg_class c ON c.oid = i.indexrelid "
    "JOIN pg_catalog.pg_am am ON am.oid = c.relam WHERE i.indrelid = $1::oid ORDER BY i.indexrelid";

// Bit of pg_index.indoption for a descending key column.
constexpr int kIndexOptionDesc = 1;

std::string BareName(const std::string& given) {
  const size_t slash = given.find_last_of("/\\");
  std::string name = slash == std::string::npos ? given : given.substr(slash + 1);
  if (name.size() > 4 && EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".adt")) {
    name.resize(name.size() - 4);
  }
  return name;
}

std::vector<int> Int2Vector(const char* text) {
  std::vector<int> values;
  std::istringstream in(text);
  int value;
  while (in >> value) values.push_back(value);
  return values;
}

bool IsTrue(const PGresult* r, int row, int column) { return PQgetvalue(r, row, column)[0] == 't'; }

// Runs catalogue query `sql` (prepared once per session) with `parameters`.
Status CatalogQuery(PgSession& session, const char* sql, const std::vector<const char*>& parameters,
                        const std::string& context, PgResultPtr* result) {
  const PgPrepared* prepared = nullptr;
  if (Status rc = session.PrepareOnce(sql, AE_KDX_PG_SERVER, context, &prepared); !rc.ok()) return rc;
  return session.ExecPrepared(*prepared, parameters, AE_KDX_PG_SERVER, context, result);
}

}  // namespace

Status PgCatalog::LoadNames(const std::string& wanted) {
  if (names_loaded_) return Status();
  PgResultPtr r;
  const std::string context = "reading the list of tables" + (wanted.empty() ? "" : ", looking for table " + wanted);
  if (Status rc = CatalogQuery(*session_, kTablesSql, {}, context, &r); !rc.ok()) return rc;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    names_.push_back({static_cast<uint32_t>(std::strtoul(PQgetvalue(r.get(), i, 0), nullptr, 10)),
                      PQgetvalue(r.get(), i, 1), PQgetvalue(r.get(), i, 2), std::atoi(PQgetvalue(r.get(), i, 3))});
  }
  names_loaded_ = true;
  return Status();
}

Status PgCatalog::TableNames(std::vector<std::string>* names) {
  if (Status rc = LoadNames(); !rc.ok()) return rc;
  names->clear();
  for (const Name& name : names_) {
    bool hidden = false;  // by a table of an earlier schema
    for (const Name& other : names_) {
      hidden = hidden || (other.path_position < name.path_position && EqualsNoCase(other.name, name.name));
    }
    if (!hidden) names->push_back(name.name);
  }
  std::sort(names->begin(), names->end());
  names->erase(std::unique(names->begin(), names->end()), names->end());
  return Status();
}

Status PgCatalog::FindTable(const std::string& given, const PgTable** table) {
  if (Status rc = FindStatementTable(BareName(given), false, table); !rc.ok()) return rc;
  if ((*table)->refused_code != 0) return Status((*table)->refused_code, (*table)->refused_text);
  return Status();
}

Status PgCatalog::FindStatementTable(const std::string& bare, bool exact, const PgTable** table) {
  if (Status rc = LoadNames(bare); !rc.ok()) return rc;
  std::vector<const Name*> matches;
  for (const Name& name : names_) {
    if (exact ? name.name != bare : !EqualsNoCase(name.name, bare)) continue;
    if (!matches.empty() && matches[0]->path_position != name.path_position) break;  // a later schema
    matches.push_back(&name);
  }
  if (matches.empty()) {
    // Only the table's own name: a path in front of it may be the URI itself.
    return Status(AE_KDX_TABLE_NOT_FOUND, "Table '" + bare + "' not found on " + session_->name() +
                                                " (in the schemas of its search path)");
  }
  if (matches.size() > 1) {
    return Status(AE_KDX_PG_AMBIGUOUS, "Table '" + bare + "' on " + session_->name() + ": schema " +
                                             matches[0]->schema + " holds both " + matches[0]->name + " and " +
                                             matches[1]->name + ", whose names differ only in letter case");
  }
  return Describe(*matches[0], table);
}

Status RequireOrder(const PgTable& table, const std::string& server) {
  if (!table.order.empty()) return Status();
  const std::string fix =
      table.hidden_attnum != 0
          ? "ALTER TABLE " + table.qualified + " ADD PRIMARY KEY (" + kOrderColumn + ")"
          : "ALTER TABLE " + table.qualified + " ADD COLUMN " + kOrderColumn +
                " bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
  return Status(AE_KDX_PG_NO_ORDER,
                  "Table " + table.name + " on " + server +
                      " has no stable row order (no primary key, and no unique index on NOT NULL columns), so the "
                      "order of its rows would change with every update: give it one, e.g. " + fix +
                      " (the engine does not list a column named " + kOrderColumn + ")");
}

std::string OrderByList(const PgTable& table, const std::string& qualifier) {
  std::string list;
  for (const PgOrderColumn& column : table.order) {
    list += (list.empty() ? "" : ", ") + qualifier + QuoteIdentifier(column.name) + (column.descending ? " DESC" : "");
  }
  return list;
}

void PgCatalog::Refuse(PgTable* table, UNSIGNED32 code, const std::string& text) {
  if (table->refused_code != 0) return;
  table->refused_code = code;
  table->refused_text = text;
}

Status PgCatalog::TableByOid(uint32_t oid, const PgTable** table) {
  auto found = tables_.find(oid);
  if (found != tables_.end()) {
    *table = found->second.get();
    return Status();
  }
  PgResultPtr r;
  const std::string oid_text = std::to_string(oid);
  const std::string context = "looking up table number " + oid_text;
  if (Status rc = CatalogQuery(*session_, kTableByOidSql, {oid_text.c_str()}, context, &r); !rc.ok()) return rc;
  if (PQntuples(r.get()) == 0) {
    return Status(AE_KDX_TABLE_NOT_FOUND, "Table number " + oid_text + " not found on " + session_->name());
  }
  return Describe({oid, PQgetvalue(r.get(), 0, 1), PQgetvalue(r.get(), 0, 2), 0}, table);
}

Status PgCatalog::Describe(const Name& name, const PgTable** table) {
  auto found = tables_.find(name.oid);
  if (found != tables_.end()) {
    *table = found->second.get();
    return Status();
  }
  auto described = std::make_unique<PgTable>();
  described->oid = name.oid;
  described->schema = name.schema;
  described->name = name.name;
  described->qualified = QuoteIdentifier(name.schema) + "." + QuoteIdentifier(name.name);
  if (Status rc = LoadColumns(described.get()); !rc.ok()) return rc;
  if (Status rc = LoadIndexes(described.get()); !rc.ok()) return rc;
  *table = described.get();
  tables_[name.oid] = std::move(described);
  return Status();
}

Status PgCatalog::LoadColumns(PgTable* table) {
  PgResultPtr r;
  const std::string oid_text = std::to_string(table->oid);
  const std::string context = "reading the columns of table " + table->name;
  if (Status rc = CatalogQuery(*session_, kColumnsSql, {oid_text.c_str()}, context, &r); !rc.ok()) return rc;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    PgColumn column;
    column.name = PQgetvalue(r.get(), i, 0);
    column.attnum = std::atoi(PQgetvalue(r.get(), i, 1));
    column.not_null = IsTrue(r.get(), i, 6);
    if (EqualsNoCase(column.name, kOrderColumn)) {
      table->hidden_attnum = column.attnum;
      table->hidden_not_null = column.not_null;
      continue;
    }
    const auto type = static_cast<uint32_t>(std::strtoul(PQgetvalue(r.get(), i, 2), nullptr, 10));
    column.server_type = PQgetvalue(r.get(), i, 4);
    const PgTypeMapping mapping = MapServerType(type, std::atoi(PQgetvalue(r.get(), i, 3)), IsTrue(r.get(), i, 5),
                                                session_->max_char_bytes());
    if (mapping.declared.empty()) {
      Refuse(table, AE_KDX_BAD_COLUMN_TYPE,
             "Table " + table->name + " on " + session_->name() + ", column " + column.name + ": type " +
                 column.server_type + " is refused (" + mapping.why + ")");
    }
    column.declared = mapping.declared;
    column.form = mapping.form;
    column.select = QuoteIdentifier(column.name);
    // Money's own text follows the locale; its numeric value does not.
    if (mapping.form == PgValueForm::kMoneyText) {
      column.select += "::numeric";
      column.form = PgValueForm::kExactNumber;
    }
    table->columns.push_back(std::move(column));
  }
  return Status();
}

namespace {

// The first `keys` columns of an index (`attnums`, `options` as the catalogue
// gives them) as a key of the table's natural order; false when one is not a
// NOT NULL column. `on_hidden`: whether one is the engine's own order column.
bool OrderKey(const PgTable& table, int keys, const std::vector<int>& attnums, const std::vector<int>& options,
              std::vector<PgOrderColumn>* key, bool* on_hidden) {
  bool keyed = true;
  for (int k = 0; k < keys && k < static_cast<int>(attnums.size()); ++k) {
    const bool desc = k < static_cast<int>(options.size()) && (options[k] & kIndexOptionDesc) != 0;
    if (attnums[k] != 0 && attnums[k] == table.hidden_attnum) {
      *on_hidden = true;
      keyed = keyed && table.hidden_not_null;
      key->push_back({kOrderColumn, desc});
      continue;
    }
    const PgColumn* column = nullptr;
    for (const PgColumn& c : table.columns) {
      if (c.attnum == attnums[k]) column = &c;
    }
    keyed = keyed && column != nullptr && column->not_null;
    if (column != nullptr) key->push_back({column->name, desc});
  }
  return keyed;
}

}  // namespace

Status PgCatalog::LoadIndexes(PgTable* table) {
  PgResultPtr r;
  const std::string oid_text = std::to_string(table->oid);
  const std::string context = "reading the indexes of table " + table->name;
  // The locales whose order of text is the order of its bytes.
  const std::vector<const char*> parameters = {oid_text.c_str(), "C", "POSIX", "C.UTF-8", "C.utf8"};
  if (Status rc = CatalogQuery(*session_, kIndexesSql, parameters, context, &r); !rc.ok()) return rc;
  const std::string prefix = table->name + ".";
  bool order_from_primary = false;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    PgIndex index;
    index.server_name = PQgetvalue(r.get(), i, 0);
    const bool meant_as_tag = index.server_name.size() > prefix.size() &&
                              EqualsNoCase(std::string_view(index.server_name).substr(0, prefix.size()), prefix);
    index.tag = meant_as_tag ? index.server_name.substr(prefix.size()) : index.server_name;
    index.unique = IsTrue(r.get(), i, 1);
    const int keys = std::atoi(PQgetvalue(r.get(), i, 2));
    const std::vector<int> attnums = Int2Vector(PQgetvalue(r.get(), i, 3));
    const std::vector<int> options = Int2Vector(PQgetvalue(r.get(), i, 4));
    const bool partial = IsTrue(r.get(), i, 5);
    const bool expression = IsTrue(r.get(), i, 6);
    const bool btree = std::string(PQgetvalue(r.get(), i, 7)) == "btree";
    const bool primary = IsTrue(r.get(), i, 8);
    const bool valid = IsTrue(r.get(), i, 9);
    index.byte_order = IsTrue(r.get(), i, 10);

    // A key of the natural order: every key column a NOT NULL column.
    std::vector<PgOrderColumn> key;
    bool on_hidden = false;
    const bool keyed = OrderKey(*table, keys, attnums, options, &key, &on_hidden) && index.unique && valid &&
                       btree && !partial && !expression && keys > 0;
    if (keyed && (primary || (!order_from_primary && (table->order.empty() || index.server_name < table->order_index)))) {
      table->order = std::move(key);
      table->order_index = index.server_name;
      order_from_primary = primary;
    }

    std::string refusal;
    if (partial) refusal = "a partial index (CREATE INDEX ... WHERE) cannot be a tag";
    if (expression) refusal = "an index on an expression cannot be a tag";
    if (!btree) refusal = std::string("an index of method ") + PQgetvalue(r.get(), i, 7) + " cannot be a tag (only btree)";
    if (on_hidden) refusal = std::string("an index on ") + kOrderColumn + " cannot be a tag";
    for (int k = 0; k < keys && k < static_cast<int>(attnums.size()) && refusal.empty(); ++k) {
      for (size_t c = 0; c < table->columns.size(); ++c) {
        if (table->columns[c].attnum == attnums[k]) index.segments.push_back(static_cast<int>(c));
      }
      const bool desc = k < static_cast<int>(options.size()) && (options[k] & kIndexOptionDesc) != 0;
      index.descending.push_back(desc);
    }
    if (refusal.empty() && index.segments.size() != index.descending.size()) {
      refusal = "an index on an expression cannot be a tag";  // a key column 0 stands for an expression
    }
    if (!refusal.empty()) {
      if (!meant_as_tag) continue;  // an index of the HR application's own, or the engine's order key
      Refuse(table, AE_KDX_BAD_INDEX,
             "Table " + table->name + " on " + session_->name() + ", index " + index.server_name + ": " + refusal);
      continue;
    }
    bool twin = false;
    for (const PgIndex& other : table->indexes) {
      if (EqualsNoCase(other.tag, index.tag)) {
        Refuse(table, AE_KDX_PG_AMBIGUOUS,
               "Table " + table->name + " on " + session_->name() + ": indexes " + other.server_name + " and " +
                   index.server_name + " give tags that differ only in letter case");
        twin = true;
      }
    }
    if (!twin) table->indexes.push_back(std::move(index));
  }
  return Status();
}

}  // namespace engine
