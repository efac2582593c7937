#include "exports/column_cache.h"

namespace {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

ColumnCache::SlotMap& ColumnCache::SlotsOf(const TAdsDataSet& dataset) {
  for (PerDataSet& entry : datasets_) {
    if (entry.dataset == &dataset) return entry.slots;
  }
  datasets_.push_back(PerDataSet{&dataset, {}});
  return datasets_.back().slots;
}

const TField& ColumnCache::Get(TAdsDataSet& dataset, std::string_view name) {
  SlotMap& slots = SlotsOf(dataset);
  const std::vector<TField>& fields = dataset.Fields();
  auto it = slots.find(name);
  if (it != slots.end()) {
    const Slot& slot = it->second;
    if (slot.column_count == fields.size() && slot.index < fields.size() &&
        SameNameIgnoringCase(fields[slot.index].Name(), name)) {
      return fields[slot.index];
    }
  }
  // Not cached, or the dataset changed: the layer's own lookup decides (and
  // raises "Field '...' not found" when the column is missing).
  const TField& field = dataset.ColumnByName(std::string(name));
  const std::vector<TField>& now = dataset.Fields();
  if (!now.empty() && &field >= now.data() && &field < now.data() + now.size()) {
    Slot slot{static_cast<size_t>(&field - now.data()), now.size()};
    if (it != slots.end()) {
      it->second = slot;
    } else {
      slots.emplace(std::string(name), slot);
    }
  }
  return field;
}

size_t ColumnCache::CountOf(const TAdsDataSet& dataset) { return SlotsOf(dataset).size(); }

std::vector<const TField*> ColumnCache::ColumnsOf(const TAdsDataSet& dataset) {
  const std::vector<TField>& fields = dataset.Fields();
  std::vector<const TField*> columns;
  for (const auto& [name, slot] : SlotsOf(dataset)) {
    if (slot.column_count == fields.size() && slot.index < fields.size()) columns.push_back(&fields[slot.index]);
  }
  return columns;
}
