#include "data/table.h"

#include "data/connection.h"
#include "data/table_options.h"

namespace {
using data_internal::kCharTypeAnsi;
using data_internal::kLockProprietary;
using data_internal::kRightsNotChecked;
constexpr UNSIGNED32 kModeShared = 0;
constexpr UNSIGNED32 kModeReadOnly = 2;
constexpr UNSIGNED16 kDictionaryTableType = 0;
}  // namespace

TAdsTable::TAdsTable(TComponent* owner, std::string name) : TAdsDataSet(owner, std::move(name)) {}

ADSHANDLE TAdsTable::CreateHandle() {
  if (table_name_.empty()) RaiseLayerError("Missing TableName property");
  UNSIGNED32 mode = kModeShared;
  if (Connection() != nullptr && Connection()->ReadOnly()) mode += kModeReadOnly;
  const std::string folder = Folder();
  if (folder.empty()) RaiseLayerError("One of the DatabaseName property or the AdsConnection property must have a value.");
  const bool dictionary = Connection()->IsDictionaryConnection();
  const std::string path = folder + "/" + table_name_;
  const ADSHANDLE connection = ConnectionHandleForOpen(false);

  ADSHANDLE table = 0;
  UNSIGNED32 result = AdsOpenTable(connection, dictionary ? table_name_ : path, "",
                                   dictionary ? kDictionaryTableType : EngineTableType(), kCharTypeAnsi,
                                   kLockProprietary, kRightsNotChecked, mode, &table);
  if (result == AE_TABLE_NOT_IN_DICTIONARY && dictionary) {
    // A free table beside the dictionary.
    result = AdsOpenTable(connection, path, "", EngineTableType(), kCharTypeAnsi, kLockProprietary,
                          kRightsNotChecked, mode, &table);
  }
  if (result != AE_SUCCESS) RaiseEngineError(result);
  if (dictionary) {
    UNSIGNED16 type = 3;
    if (AdsGetTableType(table, &type) == AE_SUCCESS) SetEngineTableType(type == 2 || type == 1 ? type : 3);
  }
  return table;
}

void TAdsTable::EnableEncryption(const std::string& password) {
  if (!IsActive()) RaiseGenericError("Cannot perform this operation on a closed dataset");
  const UNSIGNED32 result = AdsEnableEncryption(TableHandle(), password);
  if (result != AE_TABLE_NOT_ENCRYPTED) CheckEngine(result);
  // Back in position. A table that showed no record before its password was
  // given starts at its first record.
  if (!HasCurrentRecord() || EngineAtBof()) {
    GoFirst();
  } else if (EngineAtEof()) {
    GoLast();
  } else {
    Resync();
  }
}
