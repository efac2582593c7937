// Engine benchmark: on a generated table of 1,000,000 rows with a 2-segment
// key and 12 columns, side by side in one run:
//   - random exact seek + raw record  vs  a prepared SQLite point query reading every column;
//   - random exact seek of a code + a walk over its 4 rows (raw record of each, stopping on
//     the first other code) vs  a prepared SQLite range query reading the same rows;
//   - forward walk in index order     vs  an ordered SQLite scan reading every column;
//   - table open time.
// Usage: engine_bench [ROWS] [FOLDER]   (the table is built once in FOLDER, default /tmp/kdx-engine-bench)
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/ads.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void Check(UNSIGNED32 rc, const char* what) {
  if (rc == 0) return;
  UNSIGNED32 code = 0;
  std::string text;
  if (AdsGetLastError(&code, &text) != 0) text = "(no error text)";
  std::fprintf(stderr, "%s failed: %u %s\n", what, static_cast<unsigned>(rc), text.c_str());
  std::exit(1);
}

std::string Code(int i) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "E%06d", i);
  return buffer;
}

// Rows: CODE = E000000.. (i / 4), SEQ = i % 4: 250,000 codes with 4 rows each.
void Build(const std::string& path, int rows) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return;
  std::string temp = path + ".tmp";
  std::remove(temp.c_str());
  sqlite3* db = nullptr;
  sqlite3_open(temp.c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
               "CREATE TABLE BENCH(CODE CHAR(8), SEQ INTEGER, NAME CHAR(30), DEPT CHAR(6), HIRED DATE,"
               " SALARY NUMERIC(10,2), RATE DOUBLE, ACTIVE LOGICAL, NOTE VARCHAR(40), LEVEL SHORTINT,"
               " UPDATED TIMESTAMP, BONUS MONEY);",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO BENCH VALUES(?,?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
  std::mt19937 random(42);
  for (int i = 0; i < rows; ++i) {
    std::string code = Code(i / 4);
    std::string name = "Employee number " + std::to_string(i);
    char date[16];
    std::snprintf(date, sizeof date, "20%02d-%02d-%02d", static_cast<int>(random() % 20), 1 + static_cast<int>(random() % 12),
                  1 + static_cast<int>(random() % 28));
    sqlite3_bind_text(insert, 1, code.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, i % 4);
    sqlite3_bind_text(insert, 3, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, i % 7 == 0 ? "HQ" : "BRANCH", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 5, date, -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(insert, 6, (random() % 1000000) / 100.0);
    sqlite3_bind_double(insert, 7, (random() % 10000) / 7.0);
    sqlite3_bind_int(insert, 8, i % 2);
    sqlite3_bind_text(insert, 9, "a note of modest length", -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 10, i % 100);
    sqlite3_bind_text(insert, 11, "2010-03-05 10:20:30", -1, SQLITE_STATIC);
    sqlite3_bind_double(insert, 12, 12.5);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT; CREATE INDEX \"BENCH.PRIMARY\" ON BENCH(CODE, SEQ);", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::rename(temp.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::string folder = argc > 2 ? argv[2] : "/tmp/kdx-engine-bench";
  mkdir(folder.c_str(), 0755);
  std::string path = folder + "/bench.adt";
  auto build_start = Clock::now();
  Build(path, rows);
  std::printf("table: %s, %d rows (ready in %.1f s)\n", path.c_str(), rows, Seconds(build_start));
  const int codes = rows / 4;
  const int seeks = 200000;
  std::mt19937 random(7);
  std::vector<int> keys(seeks);
  for (int& k : keys) k = static_cast<int>(random() % static_cast<unsigned>(codes));

  // ---- bare SQLite ----
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* point = nullptr;
  sqlite3_prepare_v2(db, "SELECT rowid, * FROM BENCH WHERE CODE = ?1 AND SEQ = ?2", -1, &point, nullptr);
  long checksum = 0;
  auto start = Clock::now();
  for (int k : keys) {
    std::string code = Code(k);
    sqlite3_bind_text(point, 1, code.c_str(), static_cast<int>(code.size()), SQLITE_STATIC);
    sqlite3_bind_int(point, 2, 0);
    if (sqlite3_step(point) == SQLITE_ROW) {
      for (int c = 0; c < 13; ++c) {
        const unsigned char* text = sqlite3_column_text(point, c);
        checksum += text != nullptr ? text[0] : 0;
      }
    }
    sqlite3_reset(point);
  }
  double bare_seek = seeks / Seconds(start);
  sqlite3_finalize(point);

  // Seek + short walk: the rows of one code, and the first row of the next.
  const int walks = seeks / 2;
  sqlite3_stmt* range = nullptr;
  sqlite3_prepare_v2(db, "SELECT rowid, * FROM BENCH WHERE CODE >= ?1 ORDER BY CODE, SEQ, rowid", -1, &range,
                     nullptr);
  start = Clock::now();
  long bare_walked = 0;
  for (int w = 0; w < walks; ++w) {
    std::string code = Code(keys[static_cast<size_t>(w)]);
    sqlite3_bind_text(range, 1, code.c_str(), static_cast<int>(code.size()), SQLITE_STATIC);
    while (sqlite3_step(range) == SQLITE_ROW) {
      const unsigned char* first = sqlite3_column_text(range, 1);
      if (first == nullptr || code != reinterpret_cast<const char*>(first)) break;
      for (int c = 0; c < 13; ++c) {
        const unsigned char* text = sqlite3_column_text(range, c);
        checksum += text != nullptr ? text[0] : 0;
      }
      ++bare_walked;
    }
    sqlite3_reset(range);
  }
  double bare_seek_walk = walks / Seconds(start);
  sqlite3_finalize(range);

  sqlite3_stmt* scan = nullptr;
  sqlite3_prepare_v2(db, "SELECT rowid, * FROM BENCH ORDER BY CODE, SEQ, rowid", -1, &scan, nullptr);
  start = Clock::now();
  long scanned = 0;
  while (sqlite3_step(scan) == SQLITE_ROW) {
    for (int c = 0; c < 13; ++c) {
      const unsigned char* text = sqlite3_column_text(scan, c);
      checksum += text != nullptr ? text[0] : 0;
    }
    ++scanned;
  }
  double bare_scan = scanned / Seconds(start);
  sqlite3_finalize(scan);
  sqlite3_close(db);

  // ---- engine ----
  ADSHANDLE connection = 0;
  Check(AdsConnect60(folder, 1, "", "", 0, &connection), "connect");
  ADSHANDLE table = 0;
  start = Clock::now();
  const int opens = 200;
  for (int i = 0; i < opens; ++i) {
    Check(AdsOpenTable(connection, "BENCH", "", 3, 1, 1, 2, 0, &table), "open");
    if (i + 1 < opens) Check(AdsCloseTable(table), "close");
  }
  double open_ms = Seconds(start) * 1000 / opens;
  ADSHANDLE index = 0;
  Check(AdsGetIndexHandle(table, "PRIMARY", &index), "index");
  UNSIGNED32 length = 0;
  Check(AdsGetRecordLength(table, &length), "record length");
  std::vector<uint8_t> record(length);
  start = Clock::now();
  int found_count = 0;
  for (int k : keys) {
    std::string code = Code(k);
    uint8_t key[12];
    std::memset(key, ' ', 8);
    std::memcpy(key, code.data(), code.size());
    int32_t seq = 0;
    std::memcpy(key + 8, &seq, 4);
    UNSIGNED16 found = 0;
    Check(AdsSeek(index, key, 12, 1, 2, &found), "seek");
    found_count += found;
    UNSIGNED32 size = length;
    Check(AdsGetRecord(table, record.data(), &size), "record");
    checksum += record[0];
  }
  double engine_seek = seeks / Seconds(start);

  start = Clock::now();
  long engine_walked = 0;
  for (int w = 0; w < walks; ++w) {
    std::string code = Code(keys[static_cast<size_t>(w)]);
    uint8_t key[8];
    std::memset(key, ' ', 8);
    std::memcpy(key, code.data(), code.size());
    UNSIGNED16 found = 0;
    Check(AdsSeek(index, key, 8, 1, 2, &found), "seek");
    UNSIGNED16 eof = found == 0;
    while (!eof) {
      UNSIGNED32 size = length;
      Check(AdsGetRecord(table, record.data(), &size), "record");
      if (std::memcmp(record.data(), key, 8) != 0) break;
      checksum += record[0];
      ++engine_walked;
      Check(AdsSkip(index, 1), "skip");
      Check(AdsAtEOF(table, &eof), "eof");
    }
  }
  double engine_seek_walk = walks / Seconds(start);

  start = Clock::now();
  long walked = 0;
  Check(AdsGotoTop(index), "top");
  UNSIGNED16 eof = 0;
  Check(AdsAtEOF(table, &eof), "eof");
  while (!eof) {
    UNSIGNED32 size = length;
    Check(AdsGetRecord(table, record.data(), &size), "record");
    checksum += record[0];
    ++walked;
    Check(AdsSkip(index, 1), "skip");
    Check(AdsAtEOF(table, &eof), "eof");
  }
  double engine_walk = walked / Seconds(start);
  Check(AdsDisconnect(connection), "disconnect");

  std::printf("exact seek + record: engine %.0f/s, bare SQLite point query %.0f/s, ratio %.0f%% (%d found)\n",
              engine_seek, bare_seek, 100 * engine_seek / bare_seek, found_count);
  std::printf("exact seek + walk of the code's rows: engine %.0f/s, bare SQLite range query %.0f/s, ratio %.0f%% "
              "(%ld and %ld rows)\n",
              engine_seek_walk, bare_seek_walk, 100 * engine_seek_walk / bare_seek_walk, engine_walked, bare_walked);
  std::printf("walk in index order: engine %.0f rows/s, bare SQLite ordered scan %.0f rows/s, ratio %.0f%%\n",
              engine_walk, bare_scan, 100 * engine_walk / bare_scan);
  std::printf("table open: %.3f ms (mean of %d opens)\n", open_ms, opens);
  std::printf("(checksum %ld, rows walked %ld of %ld)\n", checksum, walked, scanned);
  return 0;
}
