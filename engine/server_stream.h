// The rows of a streamed server statement (AdsStmtSetStreamed on a server
// connection): read through a server cursor of the run's snapshot, one
// window at a time (result_stream.h), so that neither the client nor the
// server holds the result whole.
//
// A row's key is its position in the result (1 for the first): record
// numbers are those a stored result gives its rows. The cursor reads
// forward: a window that starts where the last one ended is one FETCH; one
// further on skips the rows between (MOVE); one before it declares the
// cursor again and skips to it. Each request runs inside a savepoint, in
// one round trip. After a full window the FETCH of the next one is sent
// at once and read when that window is asked for, so that the server reads
// it while the caller works through the last (PgSession::SendAhead); a read
// of anything else first reads it and goes on as without it. Owned by the stream of its cursor handle, which closes
// before its connection's session: the server cursor is closed with it.
#ifndef KDX_ENGINE_SERVER_STREAM_H_
#define KDX_ENGINE_SERVER_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/pg_query.h"
#include "engine/pg_session.h"
#include "engine/result_stream.h"

namespace engine {

class ServerCursor : public StreamSource {
 public:
  // `text`: the statement as the server runs it ($N places, one value each
  // in `values`); `describe`: the statement as messages name it.
  ServerCursor(PgSession* session, std::string text, std::vector<std::optional<std::string>> values,
               std::string describe);
  ~ServerCursor() override;
  ServerCursor(const ServerCursor&) = delete;
  ServerCursor& operator=(const ServerCursor&) = delete;

  // Declares the cursor and fetches its first `limit` rows, which the first
  // read of `limit` rows from the top is then given: 0, or the server's
  // refusal (AE_KDX_SQL_EXECUTE naming the statement and the server).
  Status Open(size_t limit);
  // The rows of that first fetch, for the result's columns (before the
  // first read); Hide them as every later fetch is with `visible`.
  PgRows& first_rows() { return *first_; }
  void set_visible(std::vector<bool> visible) { visible_ = std::move(visible); }

  Status Start(int64_t key, size_t limit) override;
  Status Step(bool* row) override;
  int64_t Key() override { return position_ - 1; }
  ResultCell Cell(int column) override { return rows_->Cell(column); }
  void Finish() override { rows_.reset(); }

  // Requests sent to the server so far, for tests.
  size_t requests() const { return requests_; }

 private:
  // Sends `statements` (the first given the values when it declares) and
  // keeps the last one's rows, the rows of a fetch at position `from`.
  Status Fetch(const std::vector<std::string>& statements, bool declares, int64_t from, size_t limit);
  // Makes `result`, the answer to a FETCH of `limit` rows at `from`, the
  // current read.
  void TakeRows(PgResultPtr result, int64_t from, size_t limit);
  // Sends the FETCH of the window after a full one ahead.
  void FetchAhead(size_t limit);
  // Reads the FETCH sent ahead, if one was: it is the read of `from` and
  // `limit` when it fetched those (*taken), else the cursor only moves past
  // its rows. Its failure is returned only when taken.
  Status CollectAhead(int64_t from, size_t limit, bool* taken);
  std::string Declare();

  PgSession* session_;
  std::string text_;
  std::vector<std::optional<std::string>> values_;
  std::string describe_;
  std::vector<bool> visible_;
  std::string name_;          // of the server cursor now declared ("" before the first)
  int64_t next_ = 1;          // the position the cursor's next FETCH gives
  bool ended_ = false;        // the cursor has passed the last row
  std::unique_ptr<PgRows> first_;  // the first fetch, until a read takes it
  size_t first_limit_ = 0;
  std::unique_ptr<PgRows> rows_;   // the rows of the current read
  int64_t position_ = 0;      // of the row after the current one
  size_t requests_ = 0;
  std::shared_ptr<PgSession::Ahead> ahead_;  // the next window's FETCH, sent ahead
  int64_t ahead_from_ = 0;
  size_t ahead_limit_ = 0;
  bool fetch_ahead_ = true;  // off once a read did not take the window sent ahead
};

}  // namespace engine

#endif  // KDX_ENGINE_SERVER_STREAM_H_
