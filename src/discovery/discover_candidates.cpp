#include "inventory/device_inventory.h"

void DeviceInventory::DiscoverCandidates(std::vector<CandidateDevice>&) {}

bool DeviceInventory::IsVistaOrLater() { return false; }
