// The simulated Windows at run time: the machine in force, the last-error
// code, the error mode, fault switches and the counters tests read.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

struct SimCounters {
  int librariesLoaded = 0;
  int librariesFreed = 0;
  int openKeys = 0;
  int openSets = 0;
  int openFiles = 0;
  int heapBlocks = 0;
  int globalBlocks = 0;
  int lockedBlocks = 0;
  int wprintfCalls = 0;
  // Volume accesses made while the error mode lacked 0x8001.
  int volumeCallsOutsideErrorMode = 0;
  std::map<std::string, int, std::less<>> calls;  // per platform function
  DWORD totalCalls = 0;  // counted only under a call limit
  std::vector<std::string> procLookups;  // GetProcAddress names, in order
  std::vector<std::size_t> heapAllocations;  // sizes of HeapAlloc's blocks, in order
};

struct SimState {
  SimulatedMachine machine;
  SimCounters counters;
  DWORD lastError = 0;
  UINT errorMode = 0;
};

// The state in force. On first use it loads the machine file named by
// DEVDRIVES_MACHINE (an empty machine when unset); a malformed file ends
// the process with a message on standard error and exit code 2.
SimState& Sim();

// Replaces the machine and resets every counter, handle and mode.
void SimInstall(const SimulatedMachine& machine);

// Counts one call of a platform function. Returns true, with the error
// code, when a fault switch makes this call fail.
bool SimCallFails(const char* call, DWORD* error);

// Records the error mode in force at a call that touches a volume.
void SimNoteVolumeAccess();

// Appends a line to the trace file named by DEVDRIVES_SIM_TRACE, if any.
void SimTrace(const std::string& line);

// One line with every counter, as the trace ends with it at exit.
std::string SimCountersLine();

// Each module forgets its open handles when a machine is installed.
void SimResetSetupApi();
void SimResetRegistry();
void SimResetFiles();
void SimResetLibraries();

// UTF-16 helpers shared by the modules.
bool SimEqualNoCase(const std::u16string& left, const std::u16string& right);
std::u16string SimFromUtf8(const std::string& text);
std::string SimToUtf8(const std::u16string& text);
void SimAppendUtf8(std::string& out, std::uint32_t code);  // one code point
