// What the scan's steps decided during the capture's scan, as their notes
// (inventory/scan_notes.h) handed it out: the raw matter of an explanation.
#pragma once

#include <vector>

#include "capture/captured_machine.h"
#include "inventory/scan_notes.h"

constexpr std::size_t kNoVolume = static_cast<std::size_t>(-1);

// Each record ends with what an explanation adds to the notes.

struct NotedChild {
  DWORD device = 0;  // index of the child among the listed devices
  ChildKey key = ChildKey::NoParentIdPrefix;
  CapturedText matchKey;  // as discovery read it; empty when it got none
  CapturedText instanceId;
};

struct NotedProbe {
  bool probed = false;
  Probe probe = Probe::NoDescriptor;
  bool hiddenRoot = false;
  bool descriptorRead = false;  // the reader read the descriptor whole
  int typeChars = 0;
  DWORD error = ERROR_SUCCESS;  // why the descriptor's attributes could not be read
};

// One volume entry: one per storage child that got a key, in their order.
struct NotedVolume {
  std::size_t child = 0;
  WCHAR letter = 0;
  CapturedText volumePath;
  NotedProbe probe;
  int slot = -1;  // -1 when classification never placed it; kDroppedSlot

  const char* reason = "";
  // Why a volume has no letter: the letters not in use whose stale records
  // hold its key; the volume whose name record holds it, and the entry of
  // the device that has that volume at a letter already.
  std::vector<WCHAR> lettersNotInUse;
  CapturedText namedVolume;
  std::size_t sameVolumeAs = kNoVolume;
};

// A device whose hardware ID matched.
struct NotedDevice {
  DWORD device = 0;
  bool listed = false;  // a candidate: its instance ID could be read
  CapturedText instanceTail;
  CapturedText serviceName;
  bool serviceRead = false;
  std::vector<NotedChild> children;
  std::vector<NotedVolume> volumes;

  CapturedText instanceId;
  const char* reason = "";
};

struct NotedScan {
  bool deviceListFailed = false;
  bool aborted = false;
  DWORD abortedAt = 0;  // the device whose hardware IDs could not be read
  bool mountTableUnreadable = false;
  bool mapped = false;  // drive letters were looked up
  std::vector<NotedDevice> devices;
};

// Forgets the notes of the last scan.
void StartNotes();
// Hands out the notes of the scan since StartNotes.
NotedScan TakeNotes();
