// The engine's error convention and its one lock. Every Ads* entry point
// returns 0 or an error code and leaves the code and a text naming what
// failed as this thread's last error (AdsGetLastError). Code inside the
// engine records errors through SetError / SqliteError only, so that the
// text always names the path, table, column or statement concerned.
//
// Locking: the whole engine is serialised by one recursive mutex; every
// entry point holds an EngineGuard for its duration, so the engine's objects
// are only ever touched by one thread at a time.
#ifndef KDX_ENGINE_ERRORS_H_
#define KDX_ENGINE_ERRORS_H_

#include <mutex>
#include <string>

#include "engine/ads.h"

struct sqlite3;

namespace engine {

// Records `code` and `text` as this thread's last error; returns `code`, so
// that `return SetError(...)` reads naturally.
UNSIGNED32 SetError(UNSIGNED32 code, std::string text);
// Clears this thread's last error (every successful entry point leaves the
// previous error in place, as the client library did; callers need not call it).
void ClearError();
// Converts an SQLite failure into an engine error: `context` first (what was
// being done, naming the path/table/statement), then SQLite's own message for
// `db` (or the generic text when `db` is null). Returns `code`.
// When this thread noted a changed file (NoteChangedWhileRead) and the
// failure of `db` is an I/O error (or `db` is null), the text says that file
// changed while it was read instead; the note is cleared either way.
UNSIGNED32 SqliteError(UNSIGNED32 code, const std::string& context, sqlite3* db);
// Notes, for the next SqliteError of this thread, that the database file
// `path`, read without locks, changed while it was read.
void NoteChangedWhileRead(const std::string& path);
// This thread's last error as one line: "error <code>: <text>".
std::string LastErrorLine();
// The fixed text of an error code (AdsGetErrorString), "" for unknown codes.
std::string ErrorCodeText(UNSIGNED32 code);

std::recursive_mutex& EngineMutex();
using EngineGuard = std::lock_guard<std::recursive_mutex>;

}  // namespace engine

#endif  // KDX_ENGINE_ERRORS_H_
