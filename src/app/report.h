// The one piece of output: the drive letters of every device as a JSON array.
#pragma once

#include "inventory/device_inventory.h"

// Holds any report: 26 letters at most, 15 characters each, plus "[".
constexpr DWORD kReportChars = 1024;

// Writes the report of a non-empty inventory into report, the device
// appended last first.
void BuildReport(const DeviceInventory& inventory, WCHAR (&report)[kReportChars]);
