// What a capture saw of one machine: everything the scan read, in the order
// the system returned it. Plain vectors only, so that the capture exe stays
// small; the writer turns it into a machine file.
#pragma once

#include <vector>

#include "platform/win32.h"

typedef std::vector<BYTE> CapturedBytes;
typedef std::vector<WCHAR> CapturedText;  // without a terminator

// A device property: its bytes, or the error its read failed with.
struct CapturedProperty {
  bool read = false;
  DWORD error = ERROR_SUCCESS;
  CapturedBytes bytes;
};

struct CapturedDevice {
  CapturedText instanceId;
  // The error its read failed with, whatever the buffer: no ID, no key.
  DWORD instanceIdError = ERROR_SUCCESS;
  CapturedProperty hardwareIds;
  CapturedProperty service;
  // The device's Enum key, when the scan opened it.
  bool keyOpened = false;
  bool keyFound = false;
  bool prefixFound = false;  // its "ParentIdPrefix" value
  DWORD prefixType = REG_NONE;
  CapturedBytes prefix;
};

struct CapturedValue {
  CapturedText name;
  DWORD type = REG_NONE;
  CapturedBytes data;
};

// One path the scan probed on a volume, relative to the volume root.
struct CapturedPath {
  CapturedText inside;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  DWORD error = ERROR_SUCCESS;  // why the attributes could not be read
  bool opened = false;          // the descriptor reader opened it as a file
  bool read = false;            // a read of it succeeded
  bool contentKept = false;     // content holds the whole file
  CapturedBytes content;
  DWORD valueChars = 0;  // the descriptor value's length as the reader found it
};

struct CapturedVolume {
  CapturedText guid;  // "{...}"
  std::vector<CapturedPath> paths;
};

struct CapturedVersion {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
  DWORD platformId = 0;
  CapturedText csdVersion;  // "Service Pack 3"; empty without one
};

struct CapturedMachine {
  bool setupApiLoaded = false;
  std::vector<const char*> missingEntryPoints;
  std::vector<CapturedDevice> devices;
  bool mountTableFound = false;
  std::vector<CapturedValue> mountTable;
  DWORD driveMask = 0;
  bool versionAsked = false;
  bool versionRead = false;  // false: GetVersionExW failed
  CapturedVersion version;
  UINT codePage = 0;
  std::vector<CapturedVolume> volumes;
};

// The command's own result on the machine.
struct CapturedResult {
  std::vector<char> stdoutBytes;
  int exitCode = 1;
};
