// Column references of the datasets an export run reads, looked up by name
// once and reused for every later record.
//
// A cached column is checked on every use: it is handed out only while its
// dataset has the same number of columns and the column at the remembered
// position still carries the name asked for (compared without regard to
// case). Anything else, a closed dataset included, falls back to
// TAdsDataSet::ColumnByName, so a missing column raises its database error
// for every record that needs it, exactly as an uncached lookup would.
#ifndef KDX_EXPORTS_COLUMN_CACHE_H_
#define KDX_EXPORTS_COLUMN_CACHE_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/dataset.h"

class ColumnCache {
 public:
  // The column `name` of `dataset` (as ColumnByName would find it).
  const TField& Get(TAdsDataSet& dataset, std::string_view name);

  // How many columns of `dataset` have been looked up, and those columns
  // (those whose dataset has not changed since), in no particular order.
  size_t CountOf(const TAdsDataSet& dataset);
  std::vector<const TField*> ColumnsOf(const TAdsDataSet& dataset);

  // Shorthands for the readers.
  std::string Text(TAdsDataSet& dataset, std::string_view name) { return Get(dataset, name).ReadText(); }
  double DateTime(TAdsDataSet& dataset, std::string_view name) { return Get(dataset, name).ReadDateTime(); }
  double Float(TAdsDataSet& dataset, std::string_view name) { return Get(dataset, name).ReadFloat(); }
  int64_t Currency(TAdsDataSet& dataset, std::string_view name) { return Get(dataset, name).ReadCurrency(); }
  int32_t Int(TAdsDataSet& dataset, std::string_view name) { return Get(dataset, name).ReadInt(); }

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  struct Slot {
    size_t index = 0;
    size_t column_count = 0;
  };
  using SlotMap = std::unordered_map<std::string, Slot, NameHash, std::equal_to<>>;
  struct PerDataSet {
    const TAdsDataSet* dataset = nullptr;
    SlotMap slots;
  };

  SlotMap& SlotsOf(const TAdsDataSet& dataset);

  std::vector<PerDataSet> datasets_;
};

#endif  // KDX_EXPORTS_COLUMN_CACHE_H_
