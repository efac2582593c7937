#include "engine/entry_points.h"

#include "engine/handles.h"

namespace engine {

EngineTable* LookupOrder(ADSHANDLE handle, int* order, UNSIGNED32* error) {
  UNSIGNED16 type = 0;
  EngineObject* object = HandleRegistry::Get().FindAny(handle, &type);
  if (object == nullptr) {
    *error = InvalidHandleError(handle, ADS_TABLE);
    return nullptr;
  }
  if (type == ADS_TABLE || type == ADS_CURSOR) {
    *order = -1;
    return static_cast<EngineTable*>(object);
  }
  if (type == ADS_INDEX_ORDER) {
    auto* index = static_cast<IndexOrder*>(object);
    *order = index->index();
    return index->table();
  }
  *error = SetError(AE_INVALID_HANDLE, "Handle " + std::to_string(handle) + " is not a table, cursor or index handle");
  return nullptr;
}

EngineTable* LookupTable(ADSHANDLE handle, UNSIGNED32* error) {
  int order = -1;
  return LookupOrder(handle, &order, error);
}

const IndexInfo* LookupIndex(ADSHANDLE handle, UNSIGNED32* error, EngineTable** table) {
  IndexOrder* order = Lookup<IndexOrder>(handle, ADS_INDEX_ORDER, error);
  if (order == nullptr) return nullptr;
  *table = order->table();
  return &order->table()->indexes()[static_cast<size_t>(order->index())];
}

}  // namespace engine
