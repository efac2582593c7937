// The engine's last error and its one lock. Every Ads* entry point returns
// 0 or an error code and leaves the code, a text naming what failed and the
// detail (AdsErrorDetail) as this thread's last error (AdsGetLastError,
// AdsGetLastErrorDetail). Inside the engine a failure is a Status
// (engine/status.h), which becomes the last error when it leaves as a code;
// SetError records one directly for the functions that still return codes.
//
// Locking: the whole engine is serialised by one recursive mutex; every
// entry point holds an EngineGuard for its duration, so the engine's objects
// are only ever touched by one thread at a time.
#ifndef KDX_ENGINE_ERRORS_H_
#define KDX_ENGINE_ERRORS_H_

#include <mutex>
#include <string>

#include "engine/ads.h"
#include "engine/status.h"

struct sqlite3;

namespace engine {

// Records `code` and `text` (without detail) as this thread's last error;
// returns `code`, so that `return SetError(...)` reads naturally.
[[nodiscard]] UNSIGNED32 SetError(UNSIGNED32 code, std::string text);
// Records a failure with its detail (what a Status does when it leaves as a
// code).
void RecordError(UNSIGNED32 code, const std::string& text, const ErrorDetail& detail);
// Clears this thread's last error (every successful entry point leaves the
// previous error in place, as the client library did; callers need not call it).
void ClearError();
// An SQLite failure as an engine failure: `context` first (what was being
// done, naming the path/table/statement), then SQLite's own message for `db`
// (or the generic text when `db` is null).
// When this thread noted a changed file (NoteChangedWhileRead) and the
// failure of `db` is an I/O error (or `db` is null), the text says that file
// changed while it was read instead. When it noted a file whose I/O failed
// (NoteFailedFile) and the failure is an I/O or open error, the text names
// that file unless `context` does. Both notes are cleared either way.
Status SqliteError(UNSIGNED32 code, const std::string& context, sqlite3* db);
// Notes, for the next SqliteError of this thread, that the database file
// `path`, read without locks, changed while it was read.
void NoteChangedWhileRead(const std::string& path);
// Notes, for the next SqliteError of this thread, that an I/O operation on
// the file `path` failed.
void NoteFailedFile(const std::string& path);
// A failure with its text as one line, "error <code>: <text>", as kdx-db
// shows the engine's errors; its code and detail are kept. A success stays
// one.
Status AsErrorLine(const Status& status);
// The fixed text of an error code (AdsGetErrorString), "" for unknown codes.
std::string ErrorCodeText(UNSIGNED32 code);
// `text` in single quotes, as messages quote paths and names.
std::string Quoted(const std::string& text);

std::recursive_mutex& EngineMutex();
using EngineGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace engine

#endif  // KDX_ENGINE_ERRORS_H_
