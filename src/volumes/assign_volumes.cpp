#include "inventory/device_inventory.h"
#include "inventory/scan_notes.h"

void DeviceInventory::AssignVolumes(std::vector<CandidateDevice>& candidates) {
  HKEY mountKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WSTR("SYSTEM\\MountedDevices"), 0, KEY_READ, &mountKey) != ERROR_SUCCESS) {
    NoteMountTableUnreadable();
    return;
  }
  MapDriveLetters(mountKey, candidates);
  NoteMapped(candidates);
  RegCloseKey(mountKey);
  ClassifyVolumes(candidates);
}
