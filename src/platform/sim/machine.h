// What the command can observe of one simulated Windows machine.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

typedef std::vector<BYTE> SimBytes;

struct SimValue {
  std::u16string name;
  DWORD type = REG_NONE;
  SimBytes data;
};

// A registry key under HKEY_LOCAL_MACHINE; values keep their creation order.
struct SimKey {
  std::u16string path;
  std::vector<SimValue> values;
};

// A present device as the Setup API lists it. An absent property makes its
// read fail with its error code (ERROR_INVALID_DATA unless the file says).
// A device whose instance ID cannot be read (instanceIdError) has none, and
// so no Enum key either.
struct SimDevice {
  std::u16string instanceId;
  std::optional<SimBytes> hardwareIds;  // REG_MULTI_SZ bytes, as the driver published them
  std::optional<SimBytes> service;      // REG_SZ bytes
  DWORD hardwareIdsError = ERROR_INVALID_DATA;
  DWORD serviceError = ERROR_INVALID_DATA;
  DWORD instanceIdError = ERROR_SUCCESS;
  // The size hardware-ID reads report where the driver published more than
  // the file holds (the rest reads as zeros); 0 for just the bytes held.
  DWORD hardwareIdsSize = 0;
};

struct SimFile {
  bool directory = false;
  SimBytes bytes;
  // The size GetFileSize reports when it differs from the bytes held
  // (a file of 4 GiB or more need not be stored).
  std::optional<std::uint64_t> reportedSize;
};

enum class SimMedium { Ready, NoMedium, AccessDenied };

// A volume reached by its GUID path "\\?\Volume{GUID}\".
struct SimVolume {
  std::u16string guid;  // "{...}", braces included
  SimMedium medium = SimMedium::Ready;
  // Relative paths with backslashes ("dir\\file"), compared without regard
  // to ASCII case; parent directories are implied.
  std::map<std::u16string, SimFile> entries;
};

// What GetVersionExW reports; the service pack, suite and product type only
// in the extended structure (the service-pack text in both).
struct SimVersion {
  DWORD major = 10;
  DWORD minor = 0;
  DWORD build = 19045;
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  std::u16string csdVersion;  // "Service Pack 3"; empty without one
  WORD servicePackMajor = 0;
  WORD servicePackMinor = 0;
  WORD suiteMask = VER_SUITE_SINGLEUSERTS;  // every workstation from Windows XP on
  BYTE productType = VER_NT_WORKSTATION;
};

// The largest block one GlobalAlloc or HeapAlloc grants. A fresh 32-bit
// process under Wine gets about 0x25600000 bytes in one piece (measured),
// the exact figure depending on how its address space happens to be laid
// out; 512 MiB is granted everywhere, so it is the default.
constexpr DWORD kSimDefaultLargestAllocation = 0x20000000u;

// Makes the nth call (1-based; 0 means every call) of a platform function
// fail with an error code.
struct SimFault {
  std::string call;
  DWORD nth = 1;
  DWORD error = ERROR_ACCESS_DENIED;
};

struct SimulatedMachine {
  std::u16string systemDirectory = u"C:\\Windows\\system32";  // what GetSystemDirectoryW reports
  bool setupApiPresent = true;  // as SetupApi.dll in the system directory
  std::vector<std::string> missingEntryPoints;
  std::vector<SimDevice> devices;
  std::vector<SimKey> registry;
  DWORD driveMask = 0;
  std::vector<SimVolume> volumes;
  std::optional<SimVersion> version = SimVersion{};  // empty: GetVersionExW fails
  UINT codePage = 1252;  // GetACP; text is converted as 1252 whatever it says
  bool identifiersReplaced = false;  // a capture that replaced its identifiers
  std::vector<SimFault> faults;
  DWORD largestAllocation = kSimDefaultLargestAllocation;
  // Total platform calls after which the process aborts, as a run that
  // would never end; 0 sets no limit.
  DWORD callLimit = 0;
};
