// The opening every table entry point shares: take the engine's lock, find
// the table (or the table and order, or the index) behind the handle, check
// the caller's result pointer, then do the work. A stale or foreign handle
// and a missing result pointer are errors naming the entry point, never a
// crash.
#ifndef KDX_ENGINE_ENTRY_POINTS_H_
#define KDX_ENGINE_ENTRY_POINTS_H_

#include <string>

#include "engine/ads.h"
#include "engine/engine_table.h"
#include "engine/errors.h"

namespace engine {

// 0 when `pointer` is set; otherwise an error naming `function`.
inline UNSIGNED32 NeedPointer(const void* pointer, const char* function) {
  if (pointer != nullptr) return 0;
  return SetError(AE_KDX_INVALID_ARGUMENT, std::string(function) + ": no place for the result");
}

// Resolves a navigation handle (table, cursor or index order) to its table and
// order (-1 natural). On failure records the error and returns null.
EngineTable* LookupOrder(ADSHANDLE handle, int* order, UNSIGNED32* error);
// Resolves a table or cursor handle (an index handle gives its table too).
EngineTable* LookupTable(ADSHANDLE handle, UNSIGNED32* error);
// Resolves an index handle to its table and index.
const IndexInfo* LookupIndex(ADSHANDLE handle, UNSIGNED32* error, EngineTable** table);

// f(EngineTable* table) for the table of `handle`.
template <class F>
UNSIGNED32 WithTable(ADSHANDLE handle, F&& f) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* table = LookupTable(handle, &error);
  if (table == nullptr) return error;
  return f(table);
}

// The same, after checking the result pointer `out` of `function`.
template <class F>
UNSIGNED32 WithTable(ADSHANDLE handle, const void* out, const char* function, F&& f) {
  return WithTable(handle, [&](EngineTable* table) -> UNSIGNED32 {
    if (UNSIGNED32 rc = NeedPointer(out, function)) return rc;
    return f(table);
  });
}

// f(EngineTable* table, int order) for a navigation handle.
template <class F>
UNSIGNED32 WithOrder(ADSHANDLE handle, F&& f) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  int order = -1;
  EngineTable* table = LookupOrder(handle, &order, &error);
  if (table == nullptr) return error;
  return f(table, order);
}

template <class F>
UNSIGNED32 WithOrder(ADSHANDLE handle, const void* out, const char* function, F&& f) {
  return WithOrder(handle, [&](EngineTable* table, int order) -> UNSIGNED32 {
    if (UNSIGNED32 rc = NeedPointer(out, function)) return rc;
    return f(table, order);
  });
}

// f(EngineTable* table, const IndexInfo* index) for an index handle, after
// checking `out` unless `function` is null.
template <class F>
UNSIGNED32 WithIndex(ADSHANDLE handle, const void* out, const char* function, F&& f) {
  EngineGuard guard(EngineMutex());
  UNSIGNED32 error = 0;
  EngineTable* table = nullptr;
  const IndexInfo* index = LookupIndex(handle, &error, &table);
  if (index == nullptr) return error;
  if (function != nullptr) {
    if (UNSIGNED32 rc = NeedPointer(out, function)) return rc;
  }
  return f(table, index);
}

}  // namespace engine

#endif  // KDX_ENGINE_ENTRY_POINTS_H_
