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

namespace engine {

class PgSession;

struct PgColumn {
  std::string name;
  int attnum = 0;          // the server's attribute number
  std::string declared;    // engine declared type ("CHAR(12)")
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
};

struct PgTable {
  uint32_t oid = 0;
  std::string schema;
  std::string name;       // as the server spells it
  std::string qualified;  // "schema"."name", quoted for SQL
  std::vector<PgColumn> columns;
  std::vector<PgIndex> indexes;  // in the order they were created
};

class PgCatalog {
 public:
  explicit PgCatalog(PgSession* session) : session_(session) {}

  // The table `given` names (a bare name or a path). 0 and `*table` (valid
  // for the life of the catalogue), or 6004 naming the table and the server,
  // 6205, 6007 naming table, column and type, 6009 naming the index.
  UNSIGNED32 FindTable(const std::string& given, const PgTable** table);
  // The table with server OID `oid` (a statement's source table, from
  // PQftable), wherever it is; errors as FindTable.
  UNSIGNED32 TableByOid(uint32_t oid, const PgTable** table);
  // The names of the tables FindTable can find, as the server spells them:
  // each name once (the first schema of the search path that holds it), in
  // name order.
  UNSIGNED32 TableNames(std::vector<std::string>* names);

 private:
  struct Name {
    uint32_t oid = 0;
    std::string schema;
    std::string name;
    int path_position = 0;
  };
  UNSIGNED32 LoadNames();
  UNSIGNED32 Describe(const Name& name, const PgTable** table);
  UNSIGNED32 LoadColumns(PgTable* table);
  UNSIGNED32 LoadIndexes(PgTable* table);

  PgSession* session_;
  bool names_loaded_ = false;
  std::vector<Name> names_;  // tables of the search path, in path order
  std::map<uint32_t, std::unique_ptr<PgTable>> tables_;
};

}  // namespace engine

#endif  // KDX_ENGINE_PG_CATALOG_H_
