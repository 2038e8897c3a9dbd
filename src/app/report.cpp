#include "app/report.h"

#include "platform/text.h"

namespace {

// Appends the key and the drive letter of a slot's root.
void AppendDrive(WCHAR (&report)[kReportChars], const WCHAR* opening, VolumeEntry& slot) {
  slot.root[1] = 0;  // only the letter is reported
  TextAppend(report, kReportChars, opening);
  TextAppend(report, kReportChars, slot.root);
  TextAppend(report, kReportChars, WSTR("\""));
}

}  // namespace

void BuildReport(const DeviceInventory& inventory, WCHAR (&report)[kReportChars]) {
  for (WCHAR& c : report) c = 0;
  TextAppend(report, kReportChars, WSTR("["));
  bool first = true;
  DeviceRecord record;
  for (DWORD remaining = inventory.Count(); remaining != 0;) {
    if (!first) TextAppend(report, kReportChars, WSTR(","));
    --remaining;
    inventory.GetAt(remaining, &record);
    AppendDrive(report, WSTR("{\"iDrive\":\""), record.slots[0]);
    if (record.slots[1].root[0] != 0) AppendDrive(report, WSTR(",\"sdDriveA\":\""), record.slots[1]);
    if (record.slots[2].root[0] != 0) AppendDrive(report, WSTR(",\"sdDriveB\":\""), record.slots[2]);
    TextAppend(report, kReportChars, WSTR("}"));
    first = false;
  }
  TextAppend(report, kReportChars, WSTR("]"));
}
