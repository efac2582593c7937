#include "engine/entry_points.h"

#include "engine/handles.h"

namespace engine {

Status LookupOrder(ADSHANDLE handle, EngineTable** table, int* order) {
  UNSIGNED16 type = 0;
  EngineObject* object = HandleRegistry::Get().FindAny(handle, &type);
  if (object == nullptr) return InvalidHandleError(handle, ADS_TABLE);
  if (type == ADS_TABLE || type == ADS_CURSOR) {
    *order = -1;
    *table = static_cast<EngineTable*>(object);
    return Status();
  }
  if (type == ADS_INDEX_ORDER) {
    auto* index = static_cast<IndexOrder*>(object);
    *order = index->index();
    *table = index->table();
    return Status();
  }
  return Status(AE_INVALID_HANDLE, "Handle " + std::to_string(handle) + " is not a table, cursor or index handle");
}

Status LookupTable(ADSHANDLE handle, EngineTable** table) {
  int order = -1;
  return LookupOrder(handle, table, &order);
}

Status LookupIndex(ADSHANDLE handle, EngineTable** table, const IndexInfo** index) {
  IndexOrder* order = nullptr;
  if (Status found = Lookup(handle, ADS_INDEX_ORDER, &order); !found.ok()) return found;
  *table = order->table();
  *index = &order->table()->indexes()[static_cast<size_t>(order->index())];
  return Status();
}

}  // namespace engine
