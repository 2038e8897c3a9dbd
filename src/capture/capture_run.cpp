#include "capture/capture_run.h"

#include "app/report.h"
#include "capture/noted_scan.h"
#include "capture/recording.h"
#include "platform/text.h"

namespace {

bool OnUsbBus(const CapturedText& id) {
  for (const WCHAR* bus : {WSTR("USB\\"), WSTR("USBSTOR\\")}) {
    const DWORD length = TextLength(bus);
    if (id.size() >= length && TextPrefixEqualNoCase(id.data(), bus, length)) return true;
  }
  return false;
}

// The value as UTF-16 up to its first zero; empty when there is none, and
// when it is longer than an instance ID can carry.
CapturedText ParentIdPrefixOf(HKEY key) {
  WCHAR data[256];
  DWORD type = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExW(key, WSTR("ParentIdPrefix"), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return CapturedText(data, data + TextLengthWithin(data, size / 2));
}

}  // namespace

CaptureRun RunCapture() {
  StartRecording();
  StartNotes();
  CaptureRun run;
  {
    DeviceInventory inventory;
    inventory.Refresh();
    if (inventory.Count() != 0) {
      WCHAR report[kReportChars];
      BuildReport(inventory, report);
      for (const WCHAR* c = report; *c != 0; ++c) run.result.stdoutBytes.push_back(static_cast<char>(*c));
      run.result.exitCode = 0;
    }
  }
  run.machine = Recorded();
  run.machine.codePage = GetACP();
  return run;
}

std::vector<CapturedText> UsbParentIdPrefixes(const CapturedMachine& machine) {
  std::vector<CapturedText> prefixes;
  for (const CapturedDevice& device : machine.devices) {
    const CapturedText& id = device.instanceId;
    if (device.instanceIdError != ERROR_SUCCESS || id.size() > 255 || !OnUsbBus(id)) continue;
    WCHAR path[30 + 256];
    TextCopy(path, 31, WSTR("SYSTEM\\CurrentControlSet\\Enum\\"));
    for (std::size_t i = 0; i <= id.size(); ++i) path[30 + i] = i < id.size() ? id[i] : 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    const CapturedText prefix = ParentIdPrefixOf(key);
    RegCloseKey(key);
    if (!prefix.empty()) prefixes.push_back(prefix);
  }
  return prefixes;
}
