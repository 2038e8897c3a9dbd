// stdio.h must come before any C++ header so that msvcrt's wprintf, which
// takes "%s" as a wide string, is the one declared.
#include <stdio.h>

#include "app/report.h"

int wmain(int, WCHAR**, WCHAR**) {
  DeviceInventory inventory;
  inventory.Refresh();
  if (inventory.Count() == 0) return 1;
  WCHAR report[kReportChars];
  BuildReport(inventory, report);
  wprintf(WSTR("%s"), report);
  return 0;
}
