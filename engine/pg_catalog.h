// The tables of a PostgreSQL server as the engine sees them: found by name
// the way table files are found, with engine column types (pg_types.h) and
// index tags. Owned by whoever owns the session; one catalogue per session.
//
// Names: the last component of a given name after "/" or "\" is used, a
// ".adt" extension (any case) dropped, and matched without regard to case
// among the ordinary and partitioned tables of the session's schema search
// path; the first schema of the path holding a match wins. Two tables of
// that schema whose names differ only in case are an error (6205).
//
// Index tags: an index named "<table>.<tag>" (the table's name matched
// without regard to case) is the tag <tag>; any other index keeps its whole
// name as tag. Its key columns are the key segments in order; it is unique
// when the server's index is, and a segment is descending when the server's
// is. Expression indexes, partial indexes and indexes of another method than
// btree are skipped, unless named "<table>.<tag>" (meant for the engine),
// which makes the table fail to open (6009). The server's collation does not
// matter: the engine orders text by its bytes, as on table files.
//
// Natural order: a server table has no order of its own (an UPDATE that
// changes nothing moves a row), so the engine reads it in the order of its
// key: the primary key, else the unique index on NOT NULL columns (btree,
// valid, neither partial nor on an expression) whose name sorts first. A
// table without either has no stable order and is refused where it is read
// (6206). A column named kdx_order (any case) is the engine's own, for
// giving a table such a key: it is never listed as a column, nor is an index
// on it a tag.
//
// What the catalogue has read is kept for the life of the session (the
// server's catalogue queries are prepared once per session).
#ifndef KDX_ENGINE_PG_CATALOG_H_
#define KDX_ENGINE_PG_CATALOG_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ads.h"
#include "engine/pg_types.h"
#include "engine/status.h"

namespace engine {

class PgSession;

// The name of the column the engine keeps to itself.
inline constexpr char kOrderColumn[] = "kdx_order";

struct PgColumn {
  std::string name;
  int attnum = 0;          // the server's attribute number
  bool not_null = false;
  std::string declared;    // engine declared type ("CHAR(12)"); "" for a refused type
  std::string server_type; // as the server writes it ("character(12)")
  PgValueForm form = PgValueForm::kText;  // of the value as `select` reads it
  std::string select;      // what a read selects: the quoted name (money cast to numeric)
};

struct PgIndex {
  std::string tag;
  std::string server_name;
  std::vector<int> segments;  // 0-based positions in PgTable::columns
  std::vector<bool> descending;
  bool unique = false;
  // Every text key column sorts by the bytes of its text (collation C,
  // POSIX or C.UTF-8), as the engine's indexes do, in the column's own
  // collation as in the index's.
  bool byte_order = false;
};

struct PgOrderColumn {
  std::string name;  // as the server spells it
  bool descending = false;
};

struct PgTable {
  uint32_t oid = 0;
  std::string schema;
  std::string name;       // as the server spells it
  std::string qualified;  // "schema"."name", quoted for SQL
  std::vector<PgColumn> columns;  // without kdx_order
  std::vector<PgIndex> indexes;   // in the order they were created
  // The key of the natural order (empty: none), the index it comes from.
  std::vector<PgOrderColumn> order;
  std::string order_index;
  int hidden_attnum = 0;  // of kdx_order; 0 when the table has none
  bool hidden_not_null = false;
  // Why the engine cannot open the table (a column type, an index meant as
  // a tag): the error code and text, 0 when it can.
  UNSIGNED32 refused_code = 0;
  std::string refused_text;
};

// 0 when `table` has a stable natural order, else 6206 naming the table
// and `server` and saying what to add.
Status RequireOrder(const PgTable& table, const std::string& server);

// "ORDER BY" items of the natural order of `table`, each column prefixed by
// `qualifier` ("" or "x." with x quoted): "x."a", x."b" DESC".
std::string OrderByList(const PgTable& table, const std::string& qualifier);

class PgCatalog {
 public:
  explicit PgCatalog(PgSession* session) : session_(session) {}

  // The table `given` names (a bare name or a path). 0 and `*table` (valid
  // for the life of the catalogue), or 6004 naming the table and the server,
  // 6205, 6007 naming table, column and type, 6009 naming the index.
  Status FindTable(const std::string& given, const PgTable** table);
  // The table an SQL text names: `exact` for a quoted name (matched as
  // written), else without regard to case as FindTable does. Unlike
  // FindTable, a column type or index the engine refuses does not refuse
  // the table. 6004 (not found), 6205.
  Status FindStatementTable(const std::string& name, bool exact, const PgTable** table);
  // The table with server OID `oid` (a statement's source table, from
  // PQftable), wherever it is; errors as FindStatementTable.
  Status TableByOid(uint32_t oid, const PgTable** table);
  // The names of the tables FindTable can find, as the server spells them:
  // each name once (the first schema of the search path that holds it), in
  // name order.
  Status TableNames(std::vector<std::string>* names);

 private:
  struct Name {
    uint32_t oid = 0;
    std::string schema;
    std::string name;
    int path_position = 0;
  };
  // `wanted`: the table looked for, for messages ("" when none).
  Status LoadNames(const std::string& wanted = "");
  Status Describe(const Name& name, const PgTable** table);
  // Sets the table's refusal, once.
  void Refuse(PgTable* table, UNSIGNED32 code, const std::string& text);
  Status LoadColumns(PgTable* table);
  Status LoadIndexes(PgTable* table);

  PgSession* session_;
  bool names_loaded_ = false;
  std::vector<Name> names_;  // tables of the search path, in path order
  std::map<uint32_t, std::unique_ptr<PgTable>> tables_;
};

}  // namespace engine

#endif  // KDX_ENGINE_PG_CATALOG_H_
