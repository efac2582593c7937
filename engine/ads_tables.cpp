// Entry points for opening and closing tables, their structure and their
// indexes.
#include <sqlite3.h>

#include "engine/connection.h"
#include "engine/entry_points.h"
#include "engine/handles.h"
#include "engine/sealed_file.h"
#include "engine/sql_codes.h"
#include "engine/server_tables.h"
#include "engine/table_files.h"
#include "util/ascii.h"

using namespace engine;

namespace {

// Opens table `name` of connection `c` as AdsOpenTable resolves it: on a
// server, in a dictionary (a bare name), or as a free table file.
Status OpenNamedTable(EngineConnection* c, const std::string& name, std::unique_ptr<EngineTable>* opened) {
  const bool is_path = name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
  if (c->is_server()) return OpenServerTable(c, name, opened);
  if (c->is_dictionary() && !is_path) return OpenDictionaryTable(c, name, opened);
  std::string file;
  if (Status found = c->ResolveTableFile(name, &file); !found.ok()) return found;
  return OpenTableFile(c, file, opened);
}

}  // namespace

// ---- tables ---------------------------------------------------------------------------

UNSIGNED32 AdsOpenTable(ADSHANDLE connection, const std::string& name, const std::string& alias,
                        UNSIGNED16 table_type, UNSIGNED16 char_type, UNSIGNED16 lock_type, UNSIGNED32 rights,
                        UNSIGNED32 mode, ADSHANDLE* table) {
  EngineGuard guard(EngineMutex());
  (void)alias;
  (void)char_type;
  (void)lock_type;
  (void)rights;
  if (Status given = NeedPointer(table, "AdsOpenTable"); !given.ok()) return given;
  *table = 0;
  EngineConnection* c = nullptr;
  if (Status found = Lookup(connection, ADS_CONNECTION, &c); !found.ok()) return found;
  if (name.empty()) return Status(AE_KDX_TABLE_NOT_FOUND, "AdsOpenTable: no table name given");
  if (table_type > 3) {
    return Status(AE_KDX_INVALID_ARGUMENT, "Table '" + name + "': table type " + std::to_string(table_type) +
                                                 " is not one of 0 to 3");
  }
  if (mode > 3) {
    return Status(AE_KDX_INVALID_ARGUMENT, "Table '" + name + "': open mode " + std::to_string(mode) +
                                                 " is not one of 0 to 3");
  }
  std::unique_ptr<EngineTable> opened;
  if (Status done = OpenNamedTable(c, name, &opened); !done.ok()) return done;
  opened->set_open_options(mode | 2);  // the engine only ever reads
  return EngineTable::Register(std::move(opened), ADS_TABLE, table);
}

UNSIGNED32 AdsCloseTable(ADSHANDLE table) {
  EngineGuard guard(EngineMutex());
  UNSIGNED16 type = 0;
  if (!HandleRegistry::Get().TypeOf(table, &type) || (type != ADS_TABLE && type != ADS_CURSOR)) {
    return InvalidHandleError(table, ADS_TABLE);
  }
  HandleRegistry::Get().Destroy(table);
  return 0;
}

UNSIGNED32 AdsEnableEncryption(ADSHANDLE table, const std::string& password) {
  EngineGuard guard(EngineMutex());
  EngineTable* t = nullptr;
  if (Status found = Lookup(table, ADS_TABLE, &t); !found.ok()) return found;
  // Table passwords do not apply to a server's tables: the server's own
  // login guards them.
  if (t->connection() != nullptr && t->connection()->is_server()) return 0;
  if (!t->rows_hidden() || t->sealed_path().empty()) {
    return Status(AE_TABLE_NOT_ENCRYPTED, "Table " + t->display_name() + " is not encrypted or is already readable")
        .WithTable(t->display_name());
  }
  sqlite3* db = nullptr;
  if (Status opened = OpenSealedDatabase(t->sealed_path(), password, &db); !opened.ok()) {
    return Status(AE_KDX_SEALED_REFUSED, "Table " + t->display_name() + ": " + opened.text())
        .WithTable(t->display_name());
  }
  if (Status replaced = t->ReplaceDatabase(db, true); !replaced.ok()) return replaced;
  t->set_rows_hidden(false);
  return 0;
}

UNSIGNED32 AdsGetTableType(ADSHANDLE table, UNSIGNED16* type) {
  return WithTable(table, type, "AdsGetTableType", [&](EngineTable*) -> Status {
    *type = 3;  // every table reads as an ADT table
    return Status();
  });
}

UNSIGNED32 AdsGetTableOpenOptions(ADSHANDLE table, UNSIGNED32* options) {
  return WithTable(table, options, "AdsGetTableOpenOptions", [&](EngineTable* t) -> Status {
    *options = t->open_options();
    return Status();
  });
}

UNSIGNED32 AdsGetRecordCount(ADSHANDLE table, UNSIGNED16 filter_option, UNSIGNED32* count) {
  return WithTable(table, count, "AdsGetRecordCount", [&](EngineTable* t) -> Status {
    constexpr UNSIGNED16 kIgnoreFilters = 1;
    return t->RecordCount(filter_option != kIgnoreFilters, count);
  });
}

// ---- structure --------------------------------------------------------------------------

UNSIGNED32 AdsGetRecordLength(ADSHANDLE table, UNSIGNED32* length) {
  return WithTable(table, length, "AdsGetRecordLength", [&](EngineTable* t) -> Status {
    *length = t->record_length();
    return Status();
  });
}

UNSIGNED32 AdsGetNumFields(ADSHANDLE table, UNSIGNED16* count) {
  return WithTable(table, count, "AdsGetNumFields", [&](EngineTable* t) -> Status {
    *count = static_cast<UNSIGNED16>(t->columns().size());
    return Status();
  });
}

namespace {

template <class F>
UNSIGNED32 WithColumn(ADSHANDLE table, UNSIGNED16 field, const void* out, const char* function, F&& f) {
  return WithTable(table, out, function, [&](EngineTable* t) -> Status {
    const ColumnInfo* column = nullptr;
    if (Status found = t->ColumnByNumber(field, &column); !found.ok()) return found;
    f(*column);
    return Status();
  });
}

}  // namespace

UNSIGNED32 AdsGetFieldType(ADSHANDLE table, UNSIGNED16 field, UNSIGNED16* type) {
  return WithColumn(table, field, type, "AdsGetFieldType", [&](const ColumnInfo& c) { *type = c.type.type; });
}

UNSIGNED32 AdsGetFieldLength(ADSHANDLE table, UNSIGNED16 field, UNSIGNED32* length) {
  return WithColumn(table, field, length, "AdsGetFieldLength", [&](const ColumnInfo& c) { *length = c.type.width; });
}

UNSIGNED32 AdsGetFieldDecimals(ADSHANDLE table, UNSIGNED16 field, UNSIGNED16* decimals) {
  return WithColumn(table, field, decimals, "AdsGetFieldDecimals",
                    [&](const ColumnInfo& c) { *decimals = c.type.decimals; });
}

UNSIGNED32 AdsGetFieldName(ADSHANDLE table, UNSIGNED16 field, std::string* name) {
  return WithColumn(table, field, name, "AdsGetFieldName", [&](const ColumnInfo& c) { *name = c.name; });
}

UNSIGNED32 AdsGetFieldOffset(ADSHANDLE table, UNSIGNED16 field, UNSIGNED32* offset) {
  return WithColumn(table, field, offset, "AdsGetFieldOffset", [&](const ColumnInfo& c) { *offset = c.offset; });
}

UNSIGNED32 AdsGetFieldDescriptions(ADSHANDLE table, std::vector<ADS_FIELD_DESCRIPTION>* fields) {
  return WithTable(table, fields, "AdsGetFieldDescriptions", [&](EngineTable* t) -> Status {
    fields->resize(t->columns().size());
    for (size_t i = 0; i < fields->size(); ++i) {
      const ColumnInfo& c = t->columns()[i];
      ADS_FIELD_DESCRIPTION& field = (*fields)[i];
      field.type = c.type.type;
      field.length = c.type.width;
      field.decimals = c.type.decimals;
      field.offset = c.offset;
      field.name = c.name;
    }
    return Status();
  });
}

// ---- indexes ------------------------------------------------------------------------------


UNSIGNED32 AdsGetAllIndexes(ADSHANDLE table, UNSIGNED16 max_count, std::vector<ADSHANDLE>* indexes) {
  return WithTable(table, indexes, "AdsGetAllIndexes", [&](EngineTable* t) -> Status {
    indexes->clear();
    for (const IndexInfo& index : t->indexes()) {
      if (indexes->size() >= max_count) break;
      indexes->push_back(index.handle);
    }
    return Status();
  });
}

UNSIGNED32 AdsGetIndexName(ADSHANDLE index, std::string* name) {
  return WithIndex(index, name, "AdsGetIndexName", [&](EngineTable*, const IndexInfo* info) -> Status {
    *name = info->name;
    return Status();
  });
}

UNSIGNED32 AdsGetNumSegments(ADSHANDLE index, UNSIGNED16* count) {
  return WithIndex(index, count, "AdsGetNumSegments", [&](EngineTable*, const IndexInfo* info) -> Status {
    *count = static_cast<UNSIGNED16>(info->segments.size());
    return Status();
  });
}

UNSIGNED32 AdsGetSegmentFieldname(ADSHANDLE index, UNSIGNED16 segment, std::string* name) {
  return WithIndex(index, name, "AdsGetSegmentFieldname", [&](EngineTable* t, const IndexInfo* info) -> Status {
    if (segment >= info->segments.size()) {
      return Status(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ", index " + info->name + " has " +
                                                   std::to_string(info->segments.size()) + " segments, no segment " +
                                                   std::to_string(segment));
    }
    *name = t->columns()[static_cast<size_t>(info->segments[segment])].name;
    return Status();
  });
}

UNSIGNED32 AdsIsIndexDescending(ADSHANDLE index, UNSIGNED16* descending) {
  return WithIndex(index, descending, "AdsIsIndexDescending", [&](EngineTable*, const IndexInfo* info) -> Status {
    *descending = info->descending ? 1 : 0;
    return Status();
  });
}

UNSIGNED32 AdsIsIndexUnique(ADSHANDLE index, UNSIGNED16* unique) {
  return WithIndex(index, unique, "AdsIsIndexUnique", [&](EngineTable*, const IndexInfo* info) -> Status {
    *unique = info->unique ? 1 : 0;
    return Status();
  });
}

UNSIGNED32 AdsIsIndexCustom(ADSHANDLE index, UNSIGNED16* custom) {
  return WithIndex(index, custom, "AdsIsIndexCustom", [&](EngineTable*, const IndexInfo*) -> Status {
    *custom = 0;  // SQLite indexes always hold every row
    return Status();
  });
}

UNSIGNED32 AdsGetIndexCondition(ADSHANDLE index, std::string* condition) {
  return WithIndex(index, condition, "AdsGetIndexCondition", [&](EngineTable*, const IndexInfo*) -> Status {
    condition->clear();  // partial indexes are refused at open
    return Status();
  });
}

UNSIGNED32 AdsGetScope(ADSHANDLE index, UNSIGNED16 which, std::string* scope) {
  return WithIndex(index, nullptr, nullptr, [&](EngineTable* t, const IndexInfo* info) -> Status {
    (void)which;
    if (scope != nullptr) scope->clear();
    return Status(AE_NO_SCOPE, "Table " + t->display_name() + ", index " + info->name + " has no scope");
  });
}

UNSIGNED32 AdsGetIndexHandle(ADSHANDLE table, const std::string& name, ADSHANDLE* index) {
  return WithTable(table, index, "AdsGetIndexHandle", [&](EngineTable* t) -> Status {
    std::string wanted = name;
    if (EqualsNoCase(name, "ADS_DEFAULT")) {
      EngineConnection* c = t->connection();
      wanted.clear();
      if (c != nullptr && c->is_dictionary()) {
        if (Status found = c->DefaultIndex(t->table_name(), &wanted); !found.ok()) return found;
      }
      if (wanted.empty()) {
        return Status(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + " has no default index");
      }
    }
    for (const IndexInfo& info : t->indexes()) {
      if (EqualsNoCase(info.name, wanted) || EqualsNoCase(info.sqlite_name, wanted)) {
        *index = info.handle;
        return Status();
      }
    }
    return Status(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + " has no index named '" + wanted + "'");
  });
}

UNSIGNED32 AdsGetIndexPageSize(ADSHANDLE index, UNSIGNED32* page_size) {
  return WithIndex(index, page_size, "AdsGetIndexPageSize", [&](EngineTable* t, const IndexInfo*) -> Status {
    Statement stmt;
    if (sqlite3_prepare_v2(t->db(), "PRAGMA page_size", -1, stmt.out(), nullptr) != SQLITE_OK ||
        sqlite3_step(stmt.get()) != SQLITE_ROW) {
      return SqliteError(AE_KDX_SQLITE, "Table " + t->display_name() + ": reading its page size", t->db())
          .WithTable(t->display_name());
    }
    *page_size = static_cast<UNSIGNED32>(sqlite3_column_int(stmt.get(), 0));
    return Status();
  });
}

UNSIGNED32 AdsGetBookmarkLength(ADSHANDLE order, UNSIGNED32* length) {
  return WithOrder(order, length, "AdsGetBookmarkLength", [&](EngineTable*, int) -> Status {
    *length = 4;
    return Status();
  });
}

