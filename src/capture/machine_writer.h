// Writes a capture as a machine file (docs/machine-files.md): UTF-8 JSON
// that says exactly what was read. Text that is not well-formed UTF-16
// (a lone surrogate) and data that is not text are written as hex bytes.
#pragma once

#include "capture/captured_machine.h"

// The "captured" block: which capture, on which Windows, when.
struct CaptureStamp {
  const char* version = "";
  bool windowsKnown = false;
  CapturedVersion windows;
  WORD year = 0;
  WORD month = 0;
  WORD day = 0;
};

// explanation, the capture's explanation as a JSON object, is written as
// the "explanation" field unless it is empty.
void WriteMachineFile(const CapturedMachine& machine, const CapturedResult& result, const CaptureStamp& stamp,
                      std::vector<char>& out, const std::vector<char>& explanation = {});

// A file the reader could not open or read whole, which a capture writes as
// one too large to read (4 GiB), so that its replay fails the same way.
bool UnreadByTheReader(const CapturedPath& path);
constexpr unsigned long long kUnreadableFileSize = 0x100000000ull;

// The descriptor that gives the reader a value of valueChars characters
// (none when 0): what a capture keeps of a descriptor it does not hold.
CapturedBytes StandInDescriptor(DWORD valueChars);
