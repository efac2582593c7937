// The handle registry and AdsGetHandleType.
#include "engine/handles.h"

#include <algorithm>
#include <vector>

#include "engine/errors.h"

namespace engine {

HandleRegistry& HandleRegistry::Get() {
  static HandleRegistry registry;
  return registry;
}

HandleRegistry::~HandleRegistry() {
  // Handles still open at exit close newest first, so that every object goes
  // before the object it was opened on (an index before its table, a table
  // before its connection) and no destructor reaches a freed parent.
  std::vector<ADSHANDLE> live;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    live.reserve(entries_.size());
    for (const auto& entry : entries_) live.push_back(entry.first);
  }
  std::sort(live.begin(), live.end(), [](ADSHANDLE a, ADSHANDLE b) { return a > b; });
  for (ADSHANDLE handle : live) Destroy(handle);
}

ADSHANDLE HandleRegistry::Register(UNSIGNED16 type, std::unique_ptr<EngineObject> object) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (next_ == 0) return 0;  // wrapped: every handle has been used once
  ADSHANDLE handle = next_++;
  entries_.emplace(handle, Entry{type, std::move(object)});
  return handle;
}

const HandleRegistry::Recent* HandleRegistry::Locate(ADSHANDLE handle) const {
  Recent& slot = recent_[handle % recent_.size()];
  if (slot.handle == handle && handle != 0) return &slot;
  auto it = entries_.find(handle);
  if (it == entries_.end()) return nullptr;
  slot.handle = handle;
  slot.type = it->second.type;
  slot.object = it->second.object.get();
  return &slot;
}

EngineObject* HandleRegistry::Find(ADSHANDLE handle, UNSIGNED16 type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Recent* found = Locate(handle);
  if (found == nullptr || found->type != type) return nullptr;
  return found->object;
}

EngineObject* HandleRegistry::FindAny(ADSHANDLE handle, UNSIGNED16* type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Recent* found = Locate(handle);
  if (found == nullptr) return nullptr;
  *type = found->type;
  return found->object;
}

bool HandleRegistry::TypeOf(ADSHANDLE handle, UNSIGNED16* type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Recent* found = Locate(handle);
  if (found == nullptr) return false;
  *type = found->type;
  return true;
}

bool HandleRegistry::Destroy(ADSHANDLE handle) {
  std::unique_ptr<EngineObject> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(handle);
    if (it == entries_.end()) return false;
    doomed = std::move(it->second.object);
    entries_.erase(it);
    Recent& slot = recent_[handle % recent_.size()];
    if (slot.handle == handle) slot = Recent();
  }
  doomed.reset();  // outside the lock: destructors destroy their children
  return true;
}

Status InvalidHandleError(ADSHANDLE handle, UNSIGNED16 type) {
  std::string kind;
  UNSIGNED32 code = AE_INVALID_HANDLE;
  switch (type) {
    case ADS_CONNECTION: kind = "connection"; code = AE_INVALID_CONNECTION_HANDLE; break;
    case ADS_STATEMENT: kind = "SQL statement"; code = AE_INVALID_SQLSTATEMENT_HANDLE; break;
    case ADS_INDEX_ORDER: kind = "index"; break;
    case ADS_CURSOR: kind = "cursor"; break;
    default: kind = "table"; break;
  }
  return Status(code, "Handle " + std::to_string(handle) + " is not an open " + kind + " handle");
}

}  // namespace engine

using namespace engine;

UNSIGNED32 AdsGetHandleType(ADSHANDLE handle, UNSIGNED16* type) {
  if (type == nullptr) return SetError(AE_KDX_INVALID_ARGUMENT, "AdsGetHandleType: no place for the type");
  if (!HandleRegistry::Get().TypeOf(handle, type)) {
    return SetError(AE_INVALID_HANDLE, "Handle " + std::to_string(handle) + " is not open");
  }
  return 0;
}
