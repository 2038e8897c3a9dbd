// Properties every run of the command must have, whatever the machine:
// shared by the fault sweep and the fuzz targets. Each returns an empty
// string when the property holds, else what is wrong.
#pragma once

#include <string>

#include "inventory/device_inventory.h"

// Exit code 1 with no output at all, or exit code 0 with one JSON array of
// device objects whose keys come in the order iDrive, sdDriveA, sdDriveB,
// whose values are single upper-case letters, none of them twice, each of
// a drive in use (driveMask).
std::string ReportProblem(const std::string& out, int exitCode, DWORD driveMask);

// The report of an inventory, as the command writes it (empty when the
// inventory is), in bytes.
std::string ReportOf(const DeviceInventory& inventory);

// Nothing left open or allocated in the sim, but for the objects whose
// release the machine's faults made fail, and the error mode as it was
// before the run (0).
std::string PlatformProblem();
