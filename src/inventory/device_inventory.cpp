#include "inventory/device_inventory.h"

void DeviceInventory::Refresh() {
  records_.clear();
  std::vector<CandidateDevice> candidates;
  DiscoverCandidates(candidates);
  if (!candidates.empty()) AssignVolumes(candidates);
}

DWORD DeviceInventory::Count() const { return static_cast<DWORD>(records_.size()); }

bool DeviceInventory::GetAt(DWORD index, DeviceRecord* out) const {
  if (index >= records_.size()) return false;
  if (out != nullptr) *out = records_[index];
  return true;
}

void DeviceInventory::Append(const DeviceRecord& record) { records_.push_back(record); }
