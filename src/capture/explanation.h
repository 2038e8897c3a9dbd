// Why each device of ours was or was not reported: drawn from the scan's
// own decisions (its notes) and the report, with the few facts the scan
// does not decide derived from what the capture recorded
// (explanation_facts.h). The text and the JSON are rendered from it.
#pragma once

#include <vector>

#include "capture/captured_machine.h"
#include "capture/noted_scan.h"

struct ExplainedChild {
  CapturedText instanceId;
  ChildKey key = ChildKey::NoParentIdPrefix;
  CapturedText matchKey;  // empty when it got none
};

constexpr std::size_t kNoVolume = static_cast<std::size_t>(-1);

struct ExplainedVolume {
  std::size_t child = 0;
  WCHAR letter = 0;
  CapturedText volumePath;
  NotedProbe probe;
  int slot = -1;  // 0 to 2, or -1 for none
  const char* reason = "";
  // Why a volume has no letter: the letters not in use whose stale records
  // hold its key; the volume whose name record holds it, and the entry of
  // the device that has that volume at a letter already.
  std::vector<WCHAR> lettersNotInUse;
  CapturedText namedVolume;
  std::size_t sameVolumeAs = kNoVolume;
};

struct ExplainedDevice {
  CapturedText instanceId;
  bool serviceRead = false;
  CapturedText serviceName;
  const char* reason = "";
  std::vector<ExplainedChild> children;
  std::vector<ExplainedVolume> volumes;
};

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
  std::vector<ExplainedDevice> devices;
  std::vector<NearMiss> nearMisses;
  std::vector<WCHAR> fixedMediaLetters;  // letters in use whose records are disk signatures or GUIDs
};

Explanation Explain(const NotedScan& notes, const CapturedMachine& machine, const CapturedResult& report);

// Each text that can identify the machine, for the anonymizer; instance IDs
// apart, as only their last part is one.
std::vector<CapturedText*> IdentifyingTexts(Explanation& explanation);
std::vector<CapturedText*> InstanceIds(Explanation& explanation);

// The tally line's counts.
unsigned ReportedCount(const Explanation& explanation);
