// The recording layer beneath the capture's build of the scan.
#pragma once

#include "capture/captured_machine.h"

// A descriptor file larger than this is not kept: a stand-in that gives the
// reader's result is written instead.
constexpr DWORD kLargestKeptDescriptor = 64 * 1024;

// Forgets what the last scan read; what start-up found of the Setup API stays.
void StartRecording();

// What the scan read since StartRecording.
const CapturedMachine& Recorded();
