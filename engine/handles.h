// Handles: the 32-bit numbers the entry points hand out for connections,
// tables, cursors, index orders and SQL statements, and the registry that
// owns the objects behind them.
//
// Handles are typed and never reused within the process; a stale or foreign
// handle is an error (AE_INVALID_HANDLE, 5024 for connections, 5106 for
// statements), never a crash. The registry has a mutex of its own, so a
// look-up is safe even outside the engine's lock.
#ifndef KDX_ENGINE_HANDLES_H_
#define KDX_ENGINE_HANDLES_H_

#include <array>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "engine/ads.h"
#include "engine/status.h"

namespace engine {

// Base of every object a handle stands for.
class EngineObject {
 public:
  virtual ~EngineObject() = default;
};

// The registry owns the objects registered with it; Destroy deletes the
// object after removing it (outside the registry's lock, so destructors may
// destroy children).
class HandleRegistry {
 public:
  static HandleRegistry& Get();
  ~HandleRegistry();

  // Registers `object` under a fresh handle of `type`; 0 only when the
  // handle space (2^32 - 1 handles) is exhausted.
  ADSHANDLE Register(UNSIGNED16 type, std::unique_ptr<EngineObject> object);
  // The object of `handle` when it exists and has `type`, else null.
  EngineObject* Find(ADSHANDLE handle, UNSIGNED16 type) const;
  // The object and type of a live handle in one look-up; null for an
  // unknown or closed one.
  EngineObject* FindAny(ADSHANDLE handle, UNSIGNED16* type) const;
  // The type of a live handle; false for an unknown or closed one.
  bool TypeOf(ADSHANDLE handle, UNSIGNED16* type) const;
  // Removes and deletes the object; false when the handle is not live.
  bool Destroy(ADSHANDLE handle);

 private:
  struct Entry {
    UNSIGNED16 type;
    std::unique_ptr<EngineObject> object;
  };
  // Handles looked up lately, by handle modulo the slot count: the data
  // layer calls the engine on the same few handles over and over. A slot
  // is emptied when its handle is destroyed (handles are never reused).
  struct Recent {
    ADSHANDLE handle = 0;
    UNSIGNED16 type = 0;
    EngineObject* object = nullptr;
  };
  // The entry of a live handle (through its slot), or null. Needs mutex_.
  const Recent* Locate(ADSHANDLE handle) const;

  mutable std::mutex mutex_;
  std::unordered_map<ADSHANDLE, Entry> entries_;
  mutable std::array<Recent, 64> recent_{};
  ADSHANDLE next_ = 0x100;
};

// The error a handle of `type` answers when it is stale or of another type:
// 5024 for connections, 5106 for statements, AE_INVALID_HANDLE otherwise.
Status InvalidHandleError(ADSHANDLE handle, UNSIGNED16 type);

// Looks `handle` up as a `type`: success and `*object`, or the error of a
// stale or foreign handle. `T` must be the class registered under that type.
template <class T>
Status Lookup(ADSHANDLE handle, UNSIGNED16 type, T** object) {
  EngineObject* found = HandleRegistry::Get().Find(handle, type);
  if (found == nullptr) return InvalidHandleError(handle, type);
  *object = static_cast<T*>(found);
  return Status();
}

}  // namespace engine

#endif  // KDX_ENGINE_HANDLES_H_
