#include "capture/capture_run.h"

#include "app/report.h"
#include "capture/recording.h"

CaptureRun RunCapture() {
  StartRecording();
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
