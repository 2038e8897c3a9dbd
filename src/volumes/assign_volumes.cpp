#include "inventory/device_inventory.h"

void DeviceInventory::AssignVolumes(std::vector<CandidateDevice>&) {}

void DeviceInventory::MapDriveLetters(HKEY, std::vector<CandidateDevice>&) {}

void DeviceInventory::ClassifyVolumes(std::vector<CandidateDevice>&) {}
