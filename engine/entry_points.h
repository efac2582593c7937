// The opening every table entry point shares: take the engine's lock, find
// the table (or the table and order, or the index) behind the handle, check
// the caller's result pointer, then do the work. A stale or foreign handle
// and a missing result pointer are errors naming the entry point, never a
// crash. The work gives a Status, which leaves the entry point as its code
// (and, on a failure, as the thread's last error). On a streamed cursor the
// stream has the last word on the outcome (StreamedCursorOutcome).
#ifndef KDX_ENGINE_ENTRY_POINTS_H_
#define KDX_ENGINE_ENTRY_POINTS_H_

#include <string>

#include "engine/ads.h"
#include "engine/engine_table.h"
#include "engine/errors.h"
#include "engine/result_stream.h"

namespace engine {

// Success when `pointer` is set; otherwise an error naming `function`.
inline Status NeedPointer(const void* pointer, const char* function) {
  if (pointer != nullptr) return Status();
  return Status(AE_KDX_INVALID_ARGUMENT, std::string(function) + ": no place for the result");
}

// A navigation handle (table, cursor or index order) resolved to its table
// and order (-1 natural).
Status LookupOrder(ADSHANDLE handle, EngineTable** table, int* order);
// A table or cursor handle (an index handle gives its table too).
Status LookupTable(ADSHANDLE handle, EngineTable** table);
// An index handle resolved to its table and index.
Status LookupIndex(ADSHANDLE handle, EngineTable** table, const IndexInfo** index);

// f(EngineTable* table) -> Status for the table of `handle`.
template <class F>
UNSIGNED32 WithTable(ADSHANDLE handle, F&& f) {
  EngineGuard guard(EngineMutex());
  EngineTable* table = nullptr;
  if (Status found = LookupTable(handle, &table); !found.ok()) return found;
  return StreamedCursorOutcome(table, Status(f(table)));
}

// The same, after checking the result pointer `out` of `function`.
template <class F>
UNSIGNED32 WithTable(ADSHANDLE handle, const void* out, const char* function, F&& f) {
  return WithTable(handle, [&](EngineTable* table) -> Status {
    if (Status given = NeedPointer(out, function); !given.ok()) return given;
    return f(table);
  });
}

// f(EngineTable* table, int order) -> Status for a navigation handle.
template <class F>
UNSIGNED32 WithOrder(ADSHANDLE handle, F&& f) {
  EngineGuard guard(EngineMutex());
  EngineTable* table = nullptr;
  int order = -1;
  if (Status found = LookupOrder(handle, &table, &order); !found.ok()) return found;
  return StreamedCursorOutcome(table, Status(f(table, order)));
}

template <class F>
UNSIGNED32 WithOrder(ADSHANDLE handle, const void* out, const char* function, F&& f) {
  return WithOrder(handle, [&](EngineTable* table, int order) -> Status {
    if (Status given = NeedPointer(out, function); !given.ok()) return given;
    return f(table, order);
  });
}

// f(EngineTable* table, const IndexInfo* index) -> Status for an index
// handle, after checking `out` unless `function` is null.
template <class F>
UNSIGNED32 WithIndex(ADSHANDLE handle, const void* out, const char* function, F&& f) {
  EngineGuard guard(EngineMutex());
  EngineTable* table = nullptr;
  const IndexInfo* index = nullptr;
  if (Status found = LookupIndex(handle, &table, &index); !found.ok()) return found;
  if (function != nullptr) {
    if (Status given = NeedPointer(out, function); !given.ok()) return given;
  }
  return Status(f(table, index));
}

}  // namespace engine

#endif  // KDX_ENGINE_ENTRY_POINTS_H_
