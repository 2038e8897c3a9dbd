// The result of one scan, and the owner of the scan that produces it.
#pragma once

#include <vector>

#include "inventory/records.h"

class DeviceInventory {
 public:
  // Empties the inventory and refills it from a new scan.
  void Refresh();
  DWORD Count() const;
  // Copies the record at index to out (unless out is null); false when
  // there is no such record, leaving out untouched.
  bool GetAt(DWORD index, DeviceRecord* out) const;

 private:
  // Scan steps, each in the folder of its step.
  void DiscoverCandidates(std::vector<CandidateDevice>& candidates);
  bool IsVistaOrLater();
  void AssignVolumes(std::vector<CandidateDevice>& candidates);
  void MapDriveLetters(HKEY mountKey, std::vector<CandidateDevice>& candidates);
  void ClassifyVolumes(std::vector<CandidateDevice>& candidates);

  void Append(const DeviceRecord& record);

  std::vector<DeviceRecord> records_;

  friend struct InventoryTestAccess;
};
