// Entry points for tables, structure, indexes, navigation, seeks and filters.
#include <sqlite3.h>

#include <cstring>

#include "engine/connection.h"
#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/handles.h"
#include "engine/sealed_file.h"
#include "engine/sql_codes.h"
#include "util/ascii.h"

namespace engine {

EngineTable* LookupOrder(ADSHANDLE handle, int* order, UNSIGNED32* error) {
  UNSIGNED16 type = 0;
  EngineObject* object = HandleRegistry::Get().FindAny(handle, &type);
  if (object == nullptr) {
    *error = InvalidHandleError(handle, ADS_TABLE);
    return nullptr;
  }
  if (type == ADS_TABLE || type == ADS_CURSOR) {
    *order = -1;
    return static_cast<EngineTable*>(object);
  }
  if (type == ADS_INDEX_ORDER) {
    auto* index = static_cast<IndexOrder*>(object);
    *order = index->index();
    return index->table();
  }
  *error = SetError(AE_INVALID_HANDLE, "Handle " + std::to_string(handle) + " is not a table, cursor or index handle");
  return nullptr;
}

EngineTable* LookupTable(ADSHANDLE handle, UNSIGNED32* error) {
  int order = -1;
  return LookupOrder(handle, &order, error);
}

namespace {

std::string FileStem(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
  return name;
}

// The user tables of a database: everything but SQLite's and the engine's own.
UNSIGNED32 UserTables(sqlite3* db, const std::string& where, std::vector<std::string>* names) {
  Statement stmt;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
                         "ESCAPE '\\' AND name NOT LIKE '\\_\\_%' ESCAPE '\\' ORDER BY rowid",
                         -1, stmt.out(), nullptr) != SQLITE_OK) {
    return SqliteError(AE_KDX_SQLITE, "Reading the tables of '" + where + "'", db);
  }
  int rc;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    names->push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
  }
  if (rc != SQLITE_DONE) return SqliteError(AE_KDX_SQLITE, "Reading the tables of '" + where + "'", db);
  return 0;
}

// The one table of a free table file, named like the file.
UNSIGNED32 SingleTable(sqlite3* db, const std::string& file, std::string* table) {
  std::vector<std::string> names;
  if (UNSIGNED32 rc = UserTables(db, file, &names)) return rc;
  std::string stem = FileStem(file);
  if (names.empty()) return SetError(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds no table");
  if (names.size() > 1) {
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    return SetError(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds " + std::to_string(names.size()) +
                                             " tables (" + list + "); a free table file holds exactly one");
  }
  if (!EqualsNoCase(names[0], stem)) {
    return SetError(AE_KDX_TABLE_LAYOUT, "Table file '" + file + "' holds table '" + names[0] +
                                             "', which is not named like the file ('" + stem + "')");
  }
  *table = names[0];
  return 0;
}

UNSIGNED32 OpenFreeTable(EngineConnection* connection, const std::string& name, std::unique_ptr<EngineTable>* out) {
  std::string file;
  if (UNSIGNED32 rc = connection->ResolveTableFile(name, &file)) return rc;
  if (IsSealedFile(file)) {
    SealedHeader header;
    std::string why;
    if (!ReadSealedHeader(file, &header, &why)) return SetError(AE_KDX_SEALED_REFUSED, why);
    sqlite3* db = nullptr;
    if (!OpenSealedSchema(header, &db, &why)) return SetError(AE_KDX_SEALED_REFUSED, why);
    std::string table;
    if (UNSIGNED32 rc = SingleTable(db, file, &table)) {
      sqlite3_close(db);
      return rc;
    }
    auto engine_table = std::make_unique<EngineTable>(connection, db, true, "main", table, table);
    engine_table->set_sealed_path(file);
    if (UNSIGNED32 rc = engine_table->Load()) return rc;
    engine_table->set_rows_hidden(true);
    *out = std::move(engine_table);
    return 0;
  }
  sqlite3* db = nullptr;
  if (UNSIGNED32 rc = OpenSqlite(file, SQLITE_OPEN_READONLY, &db)) return rc;
  std::string table;
  if (UNSIGNED32 rc = SingleTable(db, file, &table)) {
    sqlite3_close(db);
    return rc;
  }
  auto engine_table = std::make_unique<EngineTable>(connection, db, true, "main", table, table);
  if (UNSIGNED32 rc = engine_table->Load()) return rc;
  *out = std::move(engine_table);
  return 0;
}

UNSIGNED32 OpenDictionaryTable(EngineConnection* connection, const std::string& name,
                               std::unique_ptr<EngineTable>* out) {
  std::string bare = name;
  size_t dot = bare.rfind('.');
  if (dot != std::string::npos && dot > 0) bare = bare.substr(0, dot);
  std::vector<std::string> names;
  if (UNSIGNED32 rc = UserTables(connection->dictionary(), connection->path(), &names)) return rc;
  for (const std::string& candidate : names) {
    if (!EqualsNoCase(candidate, bare)) continue;
    auto table = std::make_unique<EngineTable>(connection, connection->dictionary(), false, "main", candidate,
                                               candidate);
    if (UNSIGNED32 rc = table->Load()) return rc;
    *out = std::move(table);
    return 0;
  }
  return SetError(AE_TABLE_NOT_IN_DICTIONARY,
                  "Table '" + name + "' is not in the data dictionary '" + connection->path() + "'");
}

UNSIGNED32 NeedPointer(const void* pointer, const char* function) {
  if (pointer != nullptr) return 0;
  return SetError(AE_KDX_INVALID_ARGUMENT, std::string(function) + ": no place for the result");
}

}  // namespace
}  // namespace engine

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
  UNSIGNED32 rc = c->is_dictionary() && !is_path ? OpenDictionaryTable(c, name, &opened)
                                                  : OpenFreeTable(c, name, &opened);
  if (rc != 0) return rc;
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
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  if (LookupTable(table, &error) == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(type, "AdsGetTableType")) return rc;
  *type = 3;  // every table reads as an ADT table
  return 0;
}

UNSIGNED32 AdsGetTableOpenOptions(ADSHANDLE table, UNSIGNED32* options) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(options, "AdsGetTableOpenOptions")) return rc;
  *options = t->open_options();
  return 0;
}

UNSIGNED32 AdsGetRecordCount(ADSHANDLE table, UNSIGNED16 filter_option, UNSIGNED32* count) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(count, "AdsGetRecordCount")) return rc;
  if (t->rows_hidden()) {
    *count = 0;
    return 0;
  }
  constexpr UNSIGNED16 kIgnoreFilters = 1;
  return t->RecordCount(filter_option != kIgnoreFilters, count);
}

// ---- structure --------------------------------------------------------------------------

UNSIGNED32 AdsGetRecordLength(ADSHANDLE table, UNSIGNED32* length) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(length, "AdsGetRecordLength")) return rc;
  *length = t->record_length();
  return 0;
}

UNSIGNED32 AdsGetNumFields(ADSHANDLE table, UNSIGNED16* count) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(count, "AdsGetNumFields")) return rc;
  *count = static_cast<UNSIGNED16>(t->columns().size());
  return 0;
}

namespace {

template <class F>
UNSIGNED32 WithColumn(ADSHANDLE table, UNSIGNED16 field, const void* out, const char* function, F&& f) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(out, function)) return rc;
  const ColumnInfo* column = nullptr;
  if (UNSIGNED32 rc = t->ColumnByNumber(field, &column)) return rc;
  f(*column);
  return 0;
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

namespace {

const IndexInfo* LookupIndex(ADSHANDLE index, UNSIGNED32* error, EngineTable** table = nullptr) {
  IndexOrder* order = Lookup<IndexOrder>(index, ADS_INDEX_ORDER, error);
  if (order == nullptr) return nullptr;
  if (table != nullptr) *table = order->table();
  return &order->table()->indexes()[static_cast<size_t>(order->index())];
}

}  // namespace

UNSIGNED32 AdsGetAllIndexes(ADSHANDLE table, UNSIGNED16 max_count, std::vector<ADSHANDLE>* indexes) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(indexes, "AdsGetAllIndexes")) return rc;
  indexes->clear();
  for (const IndexInfo& index : t->indexes()) {
    if (indexes->size() >= max_count) break;
    indexes->push_back(index.handle);
  }
  return 0;
}

UNSIGNED32 AdsGetIndexName(ADSHANDLE index, std::string* name) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  const IndexInfo* info = LookupIndex(index, &error);
  if (info == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(name, "AdsGetIndexName")) return rc;
  *name = info->name;
  return 0;
}

UNSIGNED32 AdsGetNumSegments(ADSHANDLE index, UNSIGNED16* count) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  const IndexInfo* info = LookupIndex(index, &error);
  if (info == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(count, "AdsGetNumSegments")) return rc;
  *count = static_cast<UNSIGNED16>(info->segments.size());
  return 0;
}

UNSIGNED32 AdsGetSegmentFieldname(ADSHANDLE index, UNSIGNED16 segment, std::string* name) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = nullptr;
  const IndexInfo* info = LookupIndex(index, &error, &t);
  if (info == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(name, "AdsGetSegmentFieldname")) return rc;
  if (segment >= info->segments.size()) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ", index " + info->name + " has " +
                                                 std::to_string(info->segments.size()) + " segments, no segment " +
                                                 std::to_string(segment));
  }
  *name = t->columns()[static_cast<size_t>(info->segments[segment])].name;
  return 0;
}

UNSIGNED32 AdsIsIndexDescending(ADSHANDLE index, UNSIGNED16* descending) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  const IndexInfo* info = LookupIndex(index, &error);
  if (info == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(descending, "AdsIsIndexDescending")) return rc;
  *descending = info->descending ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsIsIndexUnique(ADSHANDLE index, UNSIGNED16* unique) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  const IndexInfo* info = LookupIndex(index, &error);
  if (info == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(unique, "AdsIsIndexUnique")) return rc;
  *unique = info->unique ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsIsIndexCustom(ADSHANDLE index, UNSIGNED16* custom) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  if (LookupIndex(index, &error) == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(custom, "AdsIsIndexCustom")) return rc;
  *custom = 0;  // SQLite indexes always hold every row
  return 0;
}

UNSIGNED32 AdsGetIndexCondition(ADSHANDLE index, std::string* condition) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  if (LookupIndex(index, &error) == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(condition, "AdsGetIndexCondition")) return rc;
  condition->clear();  // partial indexes are refused at open
  return 0;
}

UNSIGNED32 AdsGetScope(ADSHANDLE index, UNSIGNED16 which, std::string* scope) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = nullptr;
  const IndexInfo* info = LookupIndex(index, &error, &t);
  if (info == nullptr) return error;
  (void)which;
  if (scope != nullptr) scope->clear();
  return SetError(AE_NO_SCOPE, "Table " + t->display_name() + ", index " + info->name + " has no scope");
}

UNSIGNED32 AdsGetIndexHandle(ADSHANDLE table, const std::string& name, ADSHANDLE* index) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(index, "AdsGetIndexHandle")) return rc;
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
}

UNSIGNED32 AdsGetIndexPageSize(ADSHANDLE index, UNSIGNED32* page_size) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = nullptr;
  if (LookupIndex(index, &error, &t) == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(page_size, "AdsGetIndexPageSize")) return rc;
  *page_size = 512;
  Statement stmt;
  if (sqlite3_prepare_v2(t->db(), "PRAGMA page_size", -1, stmt.out(), nullptr) == SQLITE_OK &&
      sqlite3_step(stmt.get()) == SQLITE_ROW) {
    *page_size = static_cast<UNSIGNED32>(sqlite3_column_int(stmt.get(), 0));
  }
  return 0;
}

UNSIGNED32 AdsGetBookmarkLength(ADSHANDLE order, UNSIGNED32* length) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  if (LookupOrder(order, &o, &error) == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(length, "AdsGetBookmarkLength")) return rc;
  *length = 4;
  return 0;
}

// ---- navigation and reading --------------------------------------------------------

UNSIGNED32 AdsGotoTop(ADSHANDLE order) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(order, &o, &error);
  if (t == nullptr) return error;
  return t->GotoTop(o);
}

UNSIGNED32 AdsGotoBottom(ADSHANDLE order) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(order, &o, &error);
  if (t == nullptr) return error;
  return t->GotoBottom(o);
}

UNSIGNED32 AdsSkip(ADSHANDLE order, SIGNED32 count) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(order, &o, &error);
  if (t == nullptr) return error;
  return t->Skip(o, count);
}

UNSIGNED32 AdsAtEOF(ADSHANDLE table, UNSIGNED16* at_eof) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(at_eof, "AdsAtEOF")) return rc;
  *at_eof = t->at_eof() ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsAtBOF(ADSHANDLE table, UNSIGNED16* at_bof) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(at_bof, "AdsAtBOF")) return rc;
  *at_bof = t->at_bof() ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsIsRecordVisible(ADSHANDLE order, UNSIGNED16* visible) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(order, &o, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(visible, "AdsIsRecordVisible")) return rc;
  *visible = t->on_row() ? 1 : 0;  // only records passing the filter are ever current
  return 0;
}

UNSIGNED32 AdsGetRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32* length) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(length, "AdsGetRecord")) return rc;
  if (*length < t->record_length() || buffer == nullptr) {
    UNSIGNED32 needed = t->record_length();
    *length = needed;
    return SetError(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the record needs " +
                                                std::to_string(needed) + " bytes");
  }
  *length = t->record_length();
  return t->GetRecord(buffer);
}

UNSIGNED32 AdsGetField(ADSHANDLE table, const std::string& field, std::string* value) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(value, "AdsGetField")) return rc;
  int column;
  if (UNSIGNED32 rc = t->ColumnByName(field, &column)) return rc;
  return t->GetFieldText(column, value);
}

UNSIGNED32 AdsIsEmpty(ADSHANDLE table, const std::string& field, UNSIGNED16* empty) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(empty, "AdsIsEmpty")) return rc;
  int column;
  if (UNSIGNED32 rc = t->ColumnByName(field, &column)) return rc;
  bool is_empty = true;
  if (UNSIGNED32 rc = t->IsFieldEmpty(column, &is_empty)) return rc;
  *empty = is_empty ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsGetRecordNum(ADSHANDLE table, UNSIGNED32* record) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(record, "AdsGetRecordNum")) return rc;
  return t->CurrentRecordNumber(record);
}

UNSIGNED32 AdsGetBookmark60(ADSHANDLE order, UNSIGNED32* bookmark) { return AdsGetRecordNum(order, bookmark); }
UNSIGNED32 AdsGetBookmark(ADSHANDLE order, UNSIGNED32* bookmark) { return AdsGetRecordNum(order, bookmark); }

UNSIGNED32 AdsGotoBookmark(ADSHANDLE order, UNSIGNED32 bookmark) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(order, &o, &error);
  if (t == nullptr) return error;
  return t->GotoRecord(o, bookmark);
}

UNSIGNED32 AdsGotoRecord(ADSHANDLE table, UNSIGNED32 record) { return AdsGotoBookmark(table, record); }

// ---- seeks ------------------------------------------------------------------------------

UNSIGNED32 AdsGetNullRecord(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (buffer == nullptr || length < t->record_length()) {
    return SetError(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the record needs " +
                                                std::to_string(t->record_length()) + " bytes");
  }
  t->EmptyRecord(buffer);
  return 0;
}

UNSIGNED32 AdsClearRecordBuffer(ADSHANDLE table, uint8_t* buffer, UNSIGNED32 length) {
  return AdsGetNullRecord(table, buffer, length);
}

UNSIGNED32 AdsInitRawKey(ADSHANDLE index) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(index, &o, &error);
  if (t == nullptr) return error;
  return t->InitKey(o);
}

UNSIGNED32 AdsSetField(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(index, &o, &error);
  if (t == nullptr) return error;
  return t->SetKeyField(o, field, bytes, length);
}

UNSIGNED32 AdsSetFieldRaw(ADSHANDLE index, const std::string& field, const uint8_t* bytes, UNSIGNED32 length) {
  return AdsSetField(index, field, bytes, length);
}

UNSIGNED32 AdsBuildRawKey(ADSHANDLE index, uint8_t* key, UNSIGNED16* length) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(index, &o, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(length, "AdsBuildRawKey")) return rc;
  if (key == nullptr) *length = 0;
  return t->BuildKey(o, key, length);
}

UNSIGNED32 AdsSeek(ADSHANDLE index, const uint8_t* key, UNSIGNED16 length, UNSIGNED16 data_type,
                   UNSIGNED16 seek_type, UNSIGNED16* found) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int o = -1;
  EngineTable* t = LookupOrder(index, &o, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(found, "AdsSeek")) return rc;
  constexpr UNSIGNED16 kRawKey = 1;
  constexpr UNSIGNED16 kSoftSeek = 1;
  constexpr UNSIGNED16 kHardSeek = 2;
  if (data_type != kRawKey) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ": seek key type " +
                                                 std::to_string(data_type) + " is not supported (1 = raw key)");
  }
  if (seek_type != kSoftSeek && seek_type != kHardSeek) {
    return SetError(AE_KDX_INVALID_ARGUMENT, "Table " + t->display_name() + ": seek type " +
                                                 std::to_string(seek_type) + " is not 1 (nearest) or 2 (exact)");
  }
  bool hit = false;
  if (UNSIGNED32 rc = t->Seek(o, key, length, seek_type == kHardSeek, &hit)) return rc;
  *found = hit ? 1 : 0;
  return 0;
}

// ---- filters ------------------------------------------------------------------------------

UNSIGNED32 AdsGetAOF(ADSHANDLE table, char* buffer, UNSIGNED16* length) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(length, "AdsGetAOF")) return rc;
  if (!t->has_filter()) return SetError(AE_NO_FILTER, "Table " + t->display_name() + " has no filter");
  const std::string& text = t->filter_text();
  // The text and its terminating zero must fit.
  if (buffer == nullptr || static_cast<size_t>(*length) < text.size() + 1) {
    *length = static_cast<UNSIGNED16>(text.size() + 1 > 0xFFFF ? 0xFFFF : text.size() + 1);
    return SetError(AE_INSUFFICIENT_BUFFER, "Table " + t->display_name() + ": the filter needs " +
                                                std::to_string(text.size() + 1) + " characters");
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  *length = static_cast<UNSIGNED16>(text.size());
  return 0;
}

UNSIGNED32 AdsSetAOF(ADSHANDLE table, const std::string& expression, UNSIGNED16 options) {
  EngineGuard guard(EngineMutex());
  (void)options;  // every filter is fully resolved by SQLite
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (expression.size() > 0xFFFE) {
    return SetError(AE_KDX_FILTER_SYNTAX, "Table " + t->display_name() + ": the filter is longer than 65534 characters");
  }
  return t->SetFilter(expression);
}

UNSIGNED32 AdsClearAOF(ADSHANDLE table) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  t->ClearFilter();
  return 0;
}

UNSIGNED32 AdsGetExact22(ADSHANDLE table, UNSIGNED16* exact) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  if (UNSIGNED32 rc = NeedPointer(exact, "AdsGetExact22")) return rc;
  *exact = t->exact22() ? 1 : 0;
  return 0;
}

UNSIGNED32 AdsSetExact22(ADSHANDLE table, UNSIGNED16 exact) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* t = LookupTable(table, &error);
  if (t == nullptr) return error;
  return t->SetExact(exact != 0);
}
