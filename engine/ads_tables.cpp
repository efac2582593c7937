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

// ---- tables ---------------------------------------------------------------------------

UNSIGNED32 AdsOpenTable(ADSHANDLE connection, const std::string& name, const std::string& alias,
                        UNSIGNED16 table_type, UNSIGNED16 char_type, UNSIGNED16 lock_type, UNSIGNED32 rights,
                        UNSIGNED32 mode, ADSHANDLE* table) {
  EngineGuard guard(EngineMutex());
  (void)alias;
  (void)char_type;
  (void)lock_type;
  (void)rights;
  if (UNSIGNED32 rc = NeedPointer(table, "AdsOpenTable")) return rc;
  *table = 0;
  UNSIGNED32 error = 0;
  EngineConnection* c = Lookup<EngineConnection>(connection, ADS_CONNECTION, &error);
  if (c == nullptr) return error;
  if (name.empty()) return SetError(AE_KDX_TABLE_NOT_FOUND, "AdsOpenTable: no table name given");
  if (table_type > 3) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "Table '" + name + "': table type " + std::to_string(table_type) +
                                                 " is not one of 0 to 3");
  }
  if (mode > 3) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "Table '" + name + "': open mode " + std::to_string(mode) +
                                                 " is not one of 0 to 3");
  }
  std::unique_ptr<EngineTable> opened;
  bool is_path = name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
  if (c->is_server()) {
    if (UNSIGNED32 rc = OpenServerTable(c, name, &opened)) return rc;
  } else if (c->is_dictionary() && !is_path) {
    if (UNSIGNED32 rc = OpenDictionaryTable(c, name, &opened)) return rc;
  } else {
    std::string file;
    if (UNSIGNED32 rc = c->ResolveTableFile(name, &file)) return rc;
    if (UNSIGNED32 rc = OpenTableFile(c, file, &opened)) return rc;
  }
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
  UNSIGNED32 error = 0;
  EngineTable* t = Lookup<EngineTable>(table, ADS_TABLE, &error);
  if (t == nullptr) return error;
  // Table passwords do not apply to a server's tables: the server's own
  // login guards them.
  if (t->connection() != nullptr && t->connection()->is_server()) return 0;
  if (!t->rows_hidden() || t->sealed_path().empty()) {
    return SetError(AE_TABLE_NOT_ENCRYPTED, "Table " + t->display_name() + " is not encrypted or is already readable");
  }
  sqlite3* db = nullptr;
  std::string why;
  if (!OpenSealedImage(t->sealed_path(), password, &db, &why)) {
    return SetError(AE_KDX_SEALED_REFUSED, "Table " + t->display_name() + ": " + why);
  }
  if (UNSIGNED32 rc = t->ReplaceDatabase(db, true)) return rc;
  t->set_rows_hidden(false);
  return 0;
}

UNSIGNED32 AdsGetTableType(ADSHANDLE table, UNSIGNED16* type) {
  return WithTable(table, type, "AdsGetTableType", [&](EngineTable*) -> UNSIGNED32 {
    *type = 3;  // every table reads as an ADT table
    return 0;
  });
}

UNSIGNED32 AdsGetTableOpenOptions(ADSHANDLE table, UNSIGNED32* options) {
  return WithTable(table, options, "AdsGetTableOpenOptions", [&](EngineTable* t) -> UNSIGNED32 {
    *options = t->open_options();
    return 0;
  });
}

UNSIGNED32 AdsGetRecordCount(ADSHANDLE table, UNSIGNED16 filter_option, UNSIGNED32* count) {
  return WithTable(table, count, "AdsGetRecordCount", [&](EngineTable* t) -> UNSIGNED32 {
    constexpr UNSIGNED16 kIgnoreFilters = 1;
    return t->RecordCount(filter_option != kIgnoreFilters, count);
  });
}

// ---- structure --------------------------------------------------------------------------

UNSIGNED32 AdsGetRecordLength(ADSHANDLE table, UNSIGNED32* length) {
  return WithTable(table, length, "AdsGetRecordLength", [&](EngineTable* t) -> UNSIGNED32 {
    *length = t->record_length();
    return 0;
  });
}

UNSIGNED32 AdsGetNumFields(ADSHANDLE table, UNSIGNED16* count) {
  return WithTable(table, count, "AdsGetNumFields", [&](EngineTable* t) -> UNSIGNED32 {
    *count = static_cast<UNSIGNED16>(t->columns().size());
    return 0;
  });
}

namespace {

template <class F>
UNSIGNED32 WithColumn(ADSHANDLE table, UNSIGNED16 field, const void* out, const char* function, F&& f) {
  return WithTable(table, out, function, [&](EngineTable* t) -> UNSIGNED32 {
    const ColumnInfo* column = nullptr;
    if (UNSIGNED32 rc = t->ColumnByNumber(field, &column)) return rc;
    f(*column);
    return 0;
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

// ---- indexes ------------------------------------------------------------------------------


UNSIGNED32 AdsGetAllIndexes(ADSHANDLE table, UNSIGNED16 max_count, std::vector<ADSHANDLE>* indexes) {
  return WithTable(table, indexes, "AdsGetAllIndexes", [&](EngineTable* t) -> UNSIGNED32 {
    indexes->clear();
    for (const IndexInfo& index : t->indexes()) {
      if (indexes->size() >= max_count) break;
      indexes->push_back(index.handle);
    }
    return 0;
  });
}

UNSIGNED32 AdsGetIndexName(ADSHANDLE index, std::string* name) {
  return WithIndex(index, name, "AdsGetIndexName", [&](EngineTable*, const IndexInfo* info) -> UNSIGNED32 {
    *name = info->name;
    return 0;
  });
}

UNSIGNED32 AdsGetNumSegments(ADSHANDLE index, UNSIGNED16* count) {
  return WithIndex(index, count, "AdsGetNumSegments", [&](EngineTable*, const IndexInfo* info) -> UNSIGNED32 {
    *count = static_cast<UNSIGNED16>(info->segments.size());
    return 0;
  });
}

UNSIGNED32 AdsGetSegmentFieldname(ADSHANDLE index, UNSIGNED16 segment, std::string* name) {
  return WithIndex(index, name, "AdsGetSegmentFieldname", [&](EngineTable* t, const IndexInfo* info) -> UNSIGNED32 {
    if (segment >= info->segments.size()) {
      return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ", index " + info->name + " has " +
                                                   std::to_string(info->segments.size()) + " segments, no segment " +
                                                   std::to_string(segment));
    }
    *name = t->columns()[static_cast<size_t>(info->segments[segment])].name;
    return 0;
  });
}

UNSIGNED32 AdsIsIndexDescending(ADSHANDLE index, UNSIGNED16* descending) {
  return WithIndex(index, descending, "AdsIsIndexDescending", [&](EngineTable*, const IndexInfo* info) -> UNSIGNED32 {
    *descending = info->descending ? 1 : 0;
    return 0;
  });
}

UNSIGNED32 AdsIsIndexUnique(ADSHANDLE index, UNSIGNED16* unique) {
  return WithIndex(index, unique, "AdsIsIndexUnique", [&](EngineTable*, const IndexInfo* info) -> UNSIGNED32 {
    *unique = info->unique ? 1 : 0;
    return 0;
  });
}

UNSIGNED32 AdsIsIndexCustom(ADSHANDLE index, UNSIGNED16* custom) {
  return WithIndex(index, custom, "AdsIsIndexCustom", [&](EngineTable*, const IndexInfo*) -> UNSIGNED32 {
    *custom = 0;  // SQLite indexes always hold every row
    return 0;
  });
}

UNSIGNED32 AdsGetIndexCondition(ADSHANDLE index, std::string* condition) {
  return WithIndex(index, condition, "AdsGetIndexCondition", [&](EngineTable*, const IndexInfo*) -> UNSIGNED32 {
    condition->clear();  // partial indexes are refused at open
    return 0;
  });
}

UNSIGNED32 AdsGetScope(ADSHANDLE index, UNSIGNED16 which, std::string* scope) {
  return WithIndex(index, nullptr, nullptr, [&](EngineTable* t, const IndexInfo* info) -> UNSIGNED32 {
    (void)which;
    if (scope != nullptr) scope->clear();
    return SetError(AE_NO_SCOPE, "Table " + t->display_name() + ", index " + info->name + " has no scope");
  });
}

UNSIGNED32 AdsGetIndexHandle(ADSHANDLE table, const std::string& name, ADSHANDLE* index) {
  return WithTable(table, index, "AdsGetIndexHandle", [&](EngineTable* t) -> UNSIGNED32 {
    std::string wanted = name;
    if (EqualsNoCase(name, "ADS_DEFAULT")) {
      EngineConnection* c = t->connection();
      wanted.clear();
      if (c != nullptr && c->is_dictionary()) {
        // The engine mutex is recursive: calling the entry point is safe.
        if (UNSIGNED32 rc = AdsGetDefaultIndex(c->handle(), t->table_name(), &wanted)) return rc;
      }
      if (wanted.empty()) {
        return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + " has no default index");
      }
    }
    for (const IndexInfo& info : t->indexes()) {
      if (EqualsNoCase(info.name, wanted) || EqualsNoCase(info.sqlite_name, wanted)) {
        *index = info.handle;
        return 0;
      }
    }
    return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + " has no index named '" + wanted + "'");
  });
}

UNSIGNED32 AdsGetIndexPageSize(ADSHANDLE index, UNSIGNED32* page_size) {
  return WithIndex(index, page_size, "AdsGetIndexPageSize", [&](EngineTable* t, const IndexInfo*) -> UNSIGNED32 {
    *page_size = 512;
    Statement stmt;
    if (sqlite3_prepare_v2(t->db(), "PRAGMA page_size", -1, stmt.out(), nullptr) == SQLITE_OK &&
        sqlite3_step(stmt.get()) == SQLITE_ROW) {
      *page_size = static_cast<UNSIGNED32>(sqlite3_column_int(stmt.get(), 0));
    }
    return 0;
  });
}

UNSIGNED32 AdsGetBookmarkLength(ADSHANDLE order, UNSIGNED32* length) {
  return WithOrder(order, length, "AdsGetBookmarkLength", [&](EngineTable*, int) -> UNSIGNED32 {
    *length = 4;
    return 0;
  });
}

