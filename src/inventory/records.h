// The plain records of one scan. Text fields are fixed wide-character
// arrays holding zero-terminated strings; capacities include the terminator.
#pragma once

#include <vector>

#include "platform/win32.h"

// One storage volume of a device.
struct VolumeEntry {
  WCHAR root[4];          // "X:\" once the volume has a drive letter
  WCHAR volumePath[256];  // "\\?\Volume{GUID}\" once the volume is mapped
  WCHAR matchKey[256];    // finds the volume's record in the mount table
};

// A present device whose hardware ID matched, with its storage volumes.
struct CandidateDevice {
  WCHAR instanceTail[256];
  WCHAR serviceName[256];
  DWORD instanceTailLength;
  std::vector<VolumeEntry> volumes;
};

// One reported device: slot 0 the main volume, slots 1 and 2 card volumes.
// A slot is filled when its volumePath is not empty.
struct DeviceRecord {
  VolumeEntry slots[3];
  WCHAR instanceTail[256];
  WCHAR serviceName[256];
};

inline bool IsMapped(const VolumeEntry& entry) { return entry.volumePath[0] != 0; }
