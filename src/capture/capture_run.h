// One capture: the command's scan run in process over the recording layer.
#pragma once

#include <vector>

#include "capture/captured_machine.h"

struct CaptureRun {
  CapturedMachine machine;
  CapturedResult result;
};

// Scans the machine as the command does, recording what the scan reads,
// and builds the report the command would print.
CaptureRun RunCapture();

// The ParentIdPrefix of each listed device under USB\ and USBSTOR\, read
// from its Enum key, for the anonymizer: the scan reads only its storage
// children's, and a USB device's prefix also begins the IDs of its children
// on other buses (HID\, BTH\).
std::vector<CapturedText> UsbParentIdPrefixes(const CapturedMachine& machine);
