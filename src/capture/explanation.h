// Why each device of ours was or was not reported: the scan's own decisions
// (its notes) and the report, with the few facts the scan does not decide
// derived from what the capture recorded (explanation_facts.h). The text
// and the JSON are rendered from it.
#pragma once

#include <vector>

#include "capture/anonymizer.h"
#include "capture/captured_machine.h"
#include "capture/noted_scan.h"

struct NearMiss {
  CapturedText instanceId;
  CapturedText hardwareId;  // the ID that names our vendor and product IDs
  const char* reason = "";
};

struct Explanation {
  const char* toolVersion = "";
  bool windowsKnown = false;
  CapturedVersion windows;
  UINT codePage = 0;
  bool identifiersReplaced = false;
  CapturedResult report;
  std::vector<const char*> scan;  // scan-level codes
  std::vector<NotedDevice> devices;
  std::vector<NearMiss> nearMisses;
  std::vector<WCHAR> fixedMediaLetters;  // letters in use whose records are disk signatures or GUIDs
};

Explanation Explain(NotedScan notes, const CapturedMachine& machine, const CapturedResult& report);

// Each text that can identify the machine, for the anonymizer.
OtherTexts IdentifyingTexts(Explanation& explanation);

// "iDrive", "sdDriveA" or "sdDriveB"; null for a volume in no slot.
const char* SlotName(int slot);

// The tally line's count.
unsigned ReportedCount(const Explanation& explanation);
