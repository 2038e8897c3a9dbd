// One capture: the command's scan run in process over the recording layer.
#pragma once

#include "capture/captured_machine.h"

struct CaptureRun {
  CapturedMachine machine;
  CapturedResult result;
};

// Scans the machine as the command does, recording what the scan reads,
// and builds the report the command would print.
CaptureRun RunCapture();
