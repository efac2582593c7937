// The data layer's cost over the engine for a keyed lookup: SeekKey on one
// text value and three ReadText calls, against the bare engine calls doing
// the same work (build the key, exact seek, copy the raw record, cut three
// character columns out of it), on a generated table.
//
//   data_bench [--rows N] [--seeks N] [--keep FOLDER]
//
// Both sides run in the same process on the same open table, in alternating
// rounds, with the same random keys.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/component.h"
#include "data/connection.h"
#include "data/table.h"
#include "engine/ads.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string EmpNo(int i) {
  char text[16];
  std::snprintf(text, sizeof(text), "E%07d", i);
  return text;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

// EMPLOYEE.adt: a dozen columns, an index on EMP_NO.
void BuildTable(const std::string& path, int rows) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db,
                     "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                     "CREATE TABLE EMPLOYEE (EMP_NO CHAR(12), NAME CHAR(40), DEPT CHAR(8), GRADE CHAR(4),"
                     " JOIN_DATE DATE, BIRTH_DATE DATE, SALARY NUMERIC(12,2), ALLOWANCE MONEY, HOURS DOUBLE,"
                     " BRANCH INTEGER, ACTIVE LOGICAL, MODIFIED TIMESTAMP); BEGIN;",
                     nullptr, nullptr, nullptr),
        db, "create");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO EMPLOYEE VALUES(?,?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr), db,
        "prepare");
  for (int i = 0; i < rows; ++i) {
    const std::string emp = EmpNo(i);
    const std::string name = "Employee number " + std::to_string(i);
    const std::string dept = "D" + std::to_string(i % 97);
    sqlite3_bind_text(insert, 1, emp.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, dept.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, "G1", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 5, "2005-04-01", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 6, "1975-11-23", -1, SQLITE_STATIC);
    sqlite3_bind_double(insert, 7, 1000 + i % 5000);
    sqlite3_bind_double(insert, 8, 12.5);
    sqlite3_bind_double(insert, 9, 37.5);
    sqlite3_bind_int(insert, 10, i % 40);
    sqlite3_bind_int(insert, 11, 1);
    sqlite3_bind_text(insert, 12, "2010-03-10 15:00:00", -1, SQLITE_STATIC);
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT; CREATE INDEX BYEMP ON EMPLOYEE(EMP_NO);", nullptr, nullptr, nullptr), db, "index");
  sqlite3_close(db);
}

struct Column {
  std::string name;
  uint32_t offset = 0;
  uint32_t width = 0;
};

std::string Trimmed(const uint8_t* p, uint32_t width) {
  uint32_t n = 0;
  while (n < width && p[n] != 0) ++n;
  while (n > 0 && p[n - 1] == ' ') --n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

void EngineCheck(UNSIGNED32 rc, const char* what) {
  if (rc != 0) {
    UNSIGNED32 code = 0;
    std::string text;
    if (AdsGetLastError(&code, &text) != 0) text = "error " + std::to_string(rc);
    throw std::runtime_error(std::string(what) + ": " + text);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 1000000;
  int seeks = 200000;
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--rows") rows = std::atoi(argv[i + 1]);
    if (flag == "--seeks") seeks = std::atoi(argv[i + 1]);
    if (flag == "--keep") keep = argv[i + 1];
  }
  try {
    const std::filesystem::path folder =
        keep.empty() ? std::filesystem::temp_directory_path() / ("kdx-data-bench-" + std::to_string(getpid()))
                     : std::filesystem::path(keep);
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "EMPLOYEE.adt").string();
    if (!std::filesystem::exists(file)) {
      const auto t0 = Clock::now();
      BuildTable(file, rows);
      std::printf("built %d rows in %.1f s\n", rows,
                  std::chrono::duration<double>(Clock::now() - t0).count());
    }

    std::mt19937 random(20100324);
    std::uniform_int_distribution<int> pick(0, rows - 1);
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(seeks));
    for (int i = 0; i < seeks; ++i) keys.push_back(EmpNo(pick(random)));

    TComponent form(nullptr, "Form1");
    auto* connection = new TAdsConnection(&form, "AdsConnection1");
    connection->SetConnectPath(folder.string());
    connection->SetAdsServerTypes({TAdsServerType::stADS_REMOTE, TAdsServerType::stADS_LOCAL});
    auto* table = new TAdsTable(&form, "AdsTableEmp");
    table->SetDatabaseName("AdsConnection1");
    table->SetTableName("EMPLOYEE.adt");
    table->SetIndexFieldNames("EMP_NO");
    auto t_open = Clock::now();
    table->OpenDataSet();
    const double open_ms = std::chrono::duration<double, std::milli>(Clock::now() - t_open).count();

    // The bare engine side works on its own table handle of the same file.
    ADSHANDLE bare_table = 0;
    EngineCheck(AdsOpenTable(connection->ConnectionHandle(), (folder / "EMPLOYEE.adt").string(), "", 3, 1, 1, 2, 0,
                             &bare_table),
                "open");
    ADSHANDLE bare_index = 0;
    EngineCheck(AdsGetIndexHandle(bare_table, "BYEMP", &bare_index), "index");
    UNSIGNED32 record_length = 0;
    EngineCheck(AdsGetRecordLength(bare_table, &record_length), "record length");
    std::vector<uint8_t> record(record_length);
    std::vector<Column> columns;
    for (const char* name : {"EMP_NO", "NAME", "DEPT"}) {
      UNSIGNED16 count = 0;
      EngineCheck(AdsGetNumFields(bare_table, &count), "fields");
      for (UNSIGNED16 f = 1; f <= count; ++f) {
        std::string field;
        EngineCheck(AdsGetFieldName(bare_table, f, &field), "name");
        if (field == name) {
          Column c;
          c.name = name;
          EngineCheck(AdsGetFieldOffset(bare_table, f, &c.offset), "offset");
          EngineCheck(AdsGetFieldLength(bare_table, f, &c.width), "length");
          columns.push_back(c);
        }
      }
    }
    const uint32_t key_width = columns[0].width;
    std::vector<uint8_t> key_bytes(key_width);

    size_t sink = 0;
    auto run_layer = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i) {
        if (!table->SeekKey({keys[i]})) throw std::runtime_error("layer missed " + keys[i]);
        sink += table->ColumnByName("EMP_NO").ReadText().size();
        sink += table->ColumnByName("NAME").ReadText().size();
        sink += table->ColumnByName("DEPT").ReadText().size();
      }
    };
    auto run_bare = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i) {
        std::memset(key_bytes.data(), ' ', key_width);
        std::memcpy(key_bytes.data(), keys[i].data(), std::min<size_t>(keys[i].size(), key_width));
        EngineCheck(AdsInitRawKey(bare_index), "init key");
        EngineCheck(AdsSetField(bare_index, "EMP_NO", key_bytes.data(), key_width), "set field");
        uint8_t key[ADS_MAX_KEY_LENGTH];
        UNSIGNED16 key_length = ADS_MAX_KEY_LENGTH;
        EngineCheck(AdsBuildRawKey(bare_index, key, &key_length), "build key");
        UNSIGNED16 found = 0;
        EngineCheck(AdsSeek(bare_index, key, key_length, 1, 2, &found), "seek");
        if (found == 0) throw std::runtime_error("engine missed " + keys[i]);
        UNSIGNED32 length = record_length;
        EngineCheck(AdsGetRecord(bare_table, record.data(), &length), "record");
        for (const Column& c : columns) sink += Trimmed(record.data() + c.offset, c.width).size();
      }
    };

    // Warm both sides, then alternate rounds so that drift hits both alike.
    const size_t warm = std::min<size_t>(keys.size(), 5000);
    run_layer(0, warm);
    run_bare(0, warm);
    constexpr int kRounds = 8;
    double layer_s = 0;
    double bare_s = 0;
    const size_t per_round = keys.size() / kRounds;
    for (int r = 0; r < kRounds; ++r) {
      const size_t from = per_round * static_cast<size_t>(r);
      const size_t to = from + per_round;
      auto t0 = Clock::now();
      run_bare(from, to);
      auto t1 = Clock::now();
      run_layer(from, to);
      auto t2 = Clock::now();
      bare_s += std::chrono::duration<double>(t1 - t0).count();
      layer_s += std::chrono::duration<double>(t2 - t1).count();
    }
    const double n = static_cast<double>(per_round) * kRounds;
    std::printf("rows %d, lookups %.0f, open %.2f ms\n", rows, n, open_ms);
    std::printf("bare engine : %9.0f lookups/s  (%.2f us each)\n", n / bare_s, bare_s / n * 1e6);
    std::printf("data layer  : %9.0f lookups/s  (%.2f us each)\n", n / layer_s, layer_s / n * 1e6);
    std::printf("layer overhead over the engine: %+.1f%%  (target: at most +30%%)\n",
                (layer_s / bare_s - 1.0) * 100.0);
    std::printf("(checksum %zu)\n", sink);
    EngineCheck(AdsCloseTable(bare_table), "close table");
    table->CloseDataSet();
    if (keep.empty()) std::filesystem::remove_all(folder);
    return layer_s <= bare_s * 1.3 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "data_bench: %s\n", e.what());
    return 2;
  }
}
