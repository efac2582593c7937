#include "engine/sql_result.h"

#include <sqlite3.h>

#include <climits>
#include <cstring>

#include "engine/errors.h"
#include "engine/handles.h"
#include "engine/schema.h"
#include "engine/sql_codes.h"

namespace engine {

ResultCell StatementCell(sqlite3_stmt* stmt, int column) {
  ResultCell cell;
  cell.type = sqlite3_column_type(stmt, column);
  switch (cell.type) {
    case SQLITE_INTEGER: cell.integer = sqlite3_column_int64(stmt, column); break;
    case SQLITE_FLOAT: cell.real = sqlite3_column_double(stmt, column); break;
    case SQLITE_TEXT:
      cell.bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      cell.size = static_cast<size_t>(sqlite3_column_bytes(stmt, column));
      break;
    case SQLITE_BLOB:
      cell.bytes = static_cast<const char*>(sqlite3_column_blob(stmt, column));
      cell.size = static_cast<size_t>(sqlite3_column_bytes(stmt, column));
      break;
    default: break;
  }
  return cell;
}

// An in-memory database holding the rows of one execution, read by one
// cursor at a time. Creating a result table, loading its layout and preparing
// its reads cost more than running a small statement, so once its cursor has
// closed the database is emptied and serves the next execution of the same
// text: only the rows change. Its statements are finalised before it closes.
struct ResultStore {
  sqlite3* db = nullptr;
  uint64_t generation = 0;  // of the shape the table was made for
  bool reusable = false;    // column types do not depend on the values
  ADSHANDLE cursor = 0;     // the cursor reading it; 0 once that has closed
  Statement clear;          // DELETE FROM the result table
  Statement begin;
  Statement commit;
  Statement insert;         // one result row
  std::unique_ptr<EngineTable> layout;  // loaded once, never registered
  EngineTable::ReadCachePtr reads;      // left by the last cursor

  ResultStore() = default;
  ResultStore(const ResultStore&) = delete;
  ResultStore& operator=(const ResultStore&) = delete;
  ~ResultStore() {
    sqlite3* owned = Release();
    if (owned != nullptr) sqlite3_close(owned);
  }
  // Finalises everything prepared on the database and gives it up.
  sqlite3* Release() {
    clear = Statement();
    begin = Statement();
    commit = Statement();
    insert = Statement();
    layout.reset();
    reads.reset();
    sqlite3* owned = db;
    db = nullptr;
    return owned;
  }
};

namespace {

constexpr char kFillTable[] = "__kdx_rows";

// The result columns, each with its type when `types` is given.
std::string ColumnList(const ResultShape& shape, const std::vector<std::string>* types) {
  std::string list;
  for (size_t i = 0; i < shape.columns.size(); ++i) {
    if (i > 0) list += ", ";
    list += QuoteIdentifier(shape.columns[i].name);
    if (types != nullptr && !(*types)[i].empty()) list += " " + (*types)[i];
  }
  return list;
}

std::vector<std::string> DeclaredTypes(const ResultShape& shape) {
  std::vector<std::string> types;
  for (const ResultColumn& c : shape.columns) types.push_back(c.declared);
  return types;
}

// Creates the result table of `shape`, and the statements that fill it, in a
// new store. Rows whose types are still to be found go to a table of
// untyped columns first.
Status NewStore(const StoreRequest& request, std::unique_ptr<ResultStore>* out) {
  const ResultShape& shape = request.shape;
  auto store = std::make_unique<ResultStore>();
  if (sqlite3_open_v2(":memory:", &store->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    return Status(AE_KDX_SQLITE, request.describe + ": no memory for its result");
  }
  store->generation = request.generation;
  store->reusable = !shape.has_expressions;
  auto fail = [&](const std::string& what) {
    return SqliteError(AE_KDX_SQL_EXECUTE, request.describe + ": " + what, store->db);
  };
  // The rows may be a sealed table's: sorting them must not spill to disk.
  // Pages freed in memory need no zeroing (SQLite may be built to zero them):
  // a store is emptied and filled again for every execution.
  if (sqlite3_exec(store->db,
                   "PRAGMA temp_store=MEMORY; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA secure_delete=OFF",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    return fail("keeping its result in memory");
  }
  const std::string fill_table = QuoteIdentifier(shape.has_expressions ? kFillTable : shape.table_name);
  const std::vector<std::string> types = DeclaredTypes(shape);
  if (sqlite3_exec(store->db, ("CREATE TABLE " + fill_table + "(" + ColumnList(shape, &types) + ")").c_str(), nullptr,
                   nullptr, nullptr) != SQLITE_OK)
    return fail("creating its result table");
  std::string insert_sql = "INSERT INTO " + fill_table + " VALUES(";
  for (size_t i = 0; i < shape.columns.size(); ++i) insert_sql += i == 0 ? "?" : ",?";
  insert_sql += ")";
  if (sqlite3_prepare_v2(store->db, insert_sql.c_str(), -1, store->insert.out(), nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(store->db, "BEGIN", -1, store->begin.out(), nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(store->db, "COMMIT", -1, store->commit.out(), nullptr) != SQLITE_OK)
    return fail("preparing its result table");
  if (store->reusable &&
      sqlite3_prepare_v2(store->db, ("DELETE FROM " + fill_table).c_str(), -1, store->clear.out(), nullptr) !=
          SQLITE_OK)
    return fail("preparing its result table");
  *out = std::move(store);
  return Status();
}

// Runs one of the store's prepared statements to its end.
bool RunStep(const Statement& statement) {
  const int rc = sqlite3_step(statement.get());
  sqlite3_reset(statement.get());  // repeats the step's answer, which is the one used
  return rc == SQLITE_DONE;
}

// Binds one result value to the insert. Texts and blobs are bound without a
// copy: the row stays where it is until the insert has stored it. The
// SQLite result code.
int BindCell(sqlite3_stmt* insert, int index, const ResultCell& cell) {
  switch (cell.type) {
    case SQLITE_INTEGER: return sqlite3_bind_int64(insert, index, cell.integer);
    case SQLITE_FLOAT: return sqlite3_bind_double(insert, index, cell.real);
    case SQLITE_TEXT: return sqlite3_bind_text(insert, index, cell.bytes, static_cast<int>(cell.size), SQLITE_STATIC);
    case SQLITE_BLOB:
      if (cell.size == 0) return sqlite3_bind_zeroblob(insert, index, 0);
      return sqlite3_bind_blob(insert, index, cell.bytes, static_cast<int>(cell.size), SQLITE_STATIC);
    default: return sqlite3_bind_null(insert, index);
  }
}

// Copies every row into the store in one transaction.
Status FillStore(ResultStore& store, size_t columns, ResultRows& rows, const std::string& describe,
                 int64_t* stored_rows) {
  auto fail = [&](const std::string& what) {
    return SqliteError(AE_KDX_SQL_EXECUTE, describe + ": " + what, store.db);
  };
  sqlite3_stmt* insert = store.insert.get();
  if (!RunStep(store.begin)) return fail("storing its result");
  *stored_rows = 0;
  bool row = false;
  for (;;) {
    if (Status stepped = rows.Step(&row); !stepped.ok()) return stepped;
    if (!row) break;
    ++*stored_rows;
    for (size_t i = 0; i < columns; ++i) {
      const ResultCell cell = rows.Cell(static_cast<int>(i));
      if ((cell.type == SQLITE_TEXT || (cell.type == SQLITE_BLOB && cell.size > 0)) && cell.bytes == nullptr)
        return fail("reading a result value");  // out of memory
      if (BindCell(insert, static_cast<int>(i) + 1, cell) != SQLITE_OK) return fail("storing a result row");
    }
    const int stored = sqlite3_step(insert);
    sqlite3_reset(insert);  // repeats the step's answer, which is the one used
    if (stored != SQLITE_DONE) return fail("storing a result row");
  }
  sqlite3_clear_bindings(insert);  // the last row's values are not kept twice
  if (!RunStep(store.commit)) return fail("storing its result");
  return Status();
}

// Gives each expression column the type its values have, moving the rows
// from the untyped fill table into the result table.
Status TypeExpressionColumns(ResultStore& store, const ResultShape& shape, const std::string& describe) {
  sqlite3* mem = store.db;
  auto fail = [&](const std::string& what) { return SqliteError(AE_KDX_SQL_EXECUTE, describe + ": " + what, mem); };
  const int count = static_cast<int>(shape.columns.size());
  const std::string fill_table = QuoteIdentifier(kFillTable);
  std::vector<std::string> types = DeclaredTypes(shape);
  std::string stats = "SELECT ";
  for (int i = 0; i < count; ++i) {
    if (!shape.columns[i].declared.empty()) continue;
    const std::string c = QuoteIdentifier(shape.columns[i].name);
    if (stats.size() > 7) stats += ", ";
    stats += "sum(typeof(" + c + ")='integer'), sum(typeof(" + c + ")='real'), sum(typeof(" + c +
             ")='text'), sum(typeof(" + c + ")='blob'), max(length(CAST(CAST(" + c + " AS TEXT) AS BLOB))), " +
             "min(CASE WHEN typeof(" + c + ")='integer' THEN " + c + " END), max(CASE WHEN typeof(" + c +
             ")='integer' THEN " + c + " END)";
  }
  stats += " FROM " + fill_table;
  Statement query;
  if (sqlite3_prepare_v2(mem, stats.c_str(), -1, query.out(), nullptr) != SQLITE_OK ||
      sqlite3_step(query.get()) != SQLITE_ROW)
    return fail("typing its expression columns");
  int k = 0;
  for (int i = 0; i < count; ++i) {
    if (!shape.columns[i].declared.empty()) continue;
    auto at = [&](int j) { return sqlite3_column_int64(query.get(), k * 7 + j); };
    types[i] = TypeFromValues({at(0), at(1), at(2), at(3), at(4), at(5), at(6)});
    ++k;
  }
  query = Statement();
  store.insert = Statement();  // it names the table dropped below
  const std::string final_table = QuoteIdentifier(shape.table_name);
  const std::string copy = "CREATE TABLE " + final_table + "(" + ColumnList(shape, &types) + "); INSERT INTO " +
                           final_table + " SELECT * FROM " + fill_table + " ORDER BY rowid; DROP TABLE " + fill_table;
  if (sqlite3_exec(mem, copy.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return fail("typing its result");
  return Status();
}

// Indexes a new result table once filled (cheaper than keeping the indexes
// while inserting).
Status IndexStore(ResultStore& store, const ResultShape& shape, const std::string& describe) {
  for (const std::string& sql : shape.index_sql) {
    if (sqlite3_exec(store.db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) continue;
    // Rows a join or a repeated column made equal: the order stays, uniqueness goes.
    const std::string plain = "CREATE INDEX" + sql.substr(std::strlen("CREATE UNIQUE INDEX"));
    if (sql.rfind("CREATE UNIQUE", 0) != 0 || sqlite3_exec(store.db, plain.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      return SqliteError(AE_KDX_SQL_EXECUTE, describe + ": indexing its result", store.db);
  }
  return Status();
}

}  // namespace

ResultStores::ResultStores() = default;
ResultStores::~ResultStores() = default;

void ResultStores::Recycle(sqlite3* db, EngineTable::ReadCachePtr reads) {
  for (const std::unique_ptr<ResultStore>& store : stores_) {
    if (store->db != db) continue;
    store->cursor = 0;
    store->reads = std::move(reads);
    return;
  }
}

void ResultStores::ReleaseToOpenCursors() {
  for (const std::unique_ptr<ResultStore>& store : stores_) {
    // A cursor still open takes its database over, as it stands; the
    // others are closed with their stores.
    if (store->cursor == 0) continue;
    EngineObject* object = HandleRegistry::Get().Find(store->cursor, ADS_CURSOR);
    auto* cursor = static_cast<EngineTable*>(object);
    if (cursor != nullptr && cursor->db() == store->db) {
      store->Release();
      cursor->AdoptDatabase();
    }
  }
  stores_.clear();
}

std::unique_ptr<ResultStore> ResultStores::TakeSpare(bool reusable, uint64_t generation) {
  std::unique_ptr<ResultStore> spare;
  for (auto it = stores_.begin(); it != stores_.end();) {
    ResultStore& store = **it;
    if (store.cursor != 0) {
      // Handles are never reused: a live handle is the store's own cursor.
      UNSIGNED16 type = 0;
      if (HandleRegistry::Get().TypeOf(store.cursor, &type)) {
        ++it;
        continue;
      }
      store.cursor = 0;
    }
    if (reusable && spare == nullptr && store.reusable && store.generation == generation) spare = std::move(*it);
    it = stores_.erase(it);  // a store not taken closes here
  }
  return spare;
}

Status ResultStores::Store(const std::shared_ptr<ResultStores>& stores, const StoreRequest& request,
                           ResultRows& rows, ADSHANDLE* cursor) {
  const ResultShape& shape = request.shape;
  // A store is out of the list while it is filled, so that a failure closes it.
  std::unique_ptr<ResultStore> store = stores->TakeSpare(!shape.has_expressions, request.generation);
  const bool reused = store != nullptr;
  if (reused) {
    if (!RunStep(store->clear)) {
      return SqliteError(AE_KDX_SQL_EXECUTE, request.describe + ": emptying its result table", store->db);
    }
  } else if (Status made = NewStore(request, &store); !made.ok()) {
    return made;
  }
  int64_t stored_rows = 0;
  if (Status filled = FillStore(*store, shape.columns.size(), rows, request.describe, &stored_rows); !filled.ok()) {
    return filled;
  }
  if (shape.has_expressions) {
    if (Status typed = TypeExpressionColumns(*store, shape, request.describe); !typed.ok()) return typed;
  }
  if (!reused) {
    if (Status indexed = IndexStore(*store, shape, request.describe); !indexed.ok()) return indexed;
  }
  sqlite3* mem = store->db;
  if (store->layout == nullptr) {
    auto layout = std::make_unique<EngineTable>(nullptr, mem, false, "main", shape.table_name, shape.display_name);
    if (Status loaded = layout->Load(); !loaded.ok()) return loaded;
    store->layout = std::move(layout);
  }
  // The store keeps the database; the cursor reads it and, on closing, hands
  // its prepared reads back to the store.
  auto table =
      std::make_unique<EngineTable>(request.connection, mem, false, "main", shape.table_name, shape.display_name);
  table->LoadLike(*store->layout, std::move(store->reads));
  table->set_open_options(2);  // read-only
  table->set_known_row_count(stored_rows);
  table->set_recycler(stores);
  ResultStore* kept = store.get();
  stores->stores_.push_back(std::move(store));  // a failed registration recycles into it
  if (Status registered = EngineTable::Register(std::move(table), ADS_CURSOR, cursor); !registered.ok()) {
    return registered;
  }
  kept->cursor = *cursor;
  return Status();
}

std::string TypeFromValues(const ValueCounts& counts) {
  if (counts.texts > 0) {
    const int64_t width = std::max<int64_t>(1, counts.widest);
    return width <= static_cast<int64_t>(kMaxCharWidth) ? "CHAR(" + std::to_string(width) + ")" : "MEMO";
  }
  if (counts.blobs > 0) return "BLOB";
  if (counts.reals > 0) return "DOUBLE";
  if (counts.integers > 0) {
    return counts.smallest >= INT32_MIN + 1 && counts.largest <= INT32_MAX ? "INTEGER" : "DOUBLE";
  }
  return "CHAR(1)";
}

}  // namespace engine
