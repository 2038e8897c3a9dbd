// Shared helpers of the native tests.
#pragma once

#include <string>
#include <vector>

#include "inventory/device_inventory.h"
#include "platform/sim/sim.h"

// Reaches the inventory's scan steps and its append, which only the scan uses.
struct InventoryTestAccess {
  static void Append(DeviceInventory& inventory, const DeviceRecord& record) { inventory.Append(record); }
  static void DiscoverCandidates(DeviceInventory& inventory, std::vector<CandidateDevice>& candidates) {
    inventory.DiscoverCandidates(candidates);
  }
  static bool IsVistaOrLater(DeviceInventory& inventory) { return inventory.IsVistaOrLater(); }
  static void AssignVolumes(DeviceInventory& inventory, std::vector<CandidateDevice>& candidates) {
    inventory.AssignVolumes(candidates);
  }
  static void MapDriveLetters(DeviceInventory& inventory, HKEY mountKey,
                              std::vector<CandidateDevice>& candidates) {
    inventory.MapDriveLetters(mountKey, candidates);
  }
  static void ClassifyVolumes(DeviceInventory& inventory, std::vector<CandidateDevice>& candidates) {
    inventory.ClassifyVolumes(candidates);
  }
};

inline std::string Utf8(const WCHAR* text) { return SimToUtf8(text); }

// A record whose slots hold the given drive letters; 0 leaves a slot free.
DeviceRecord RecordWithLetters(char main, char cardA = 0, char cardB = 0);

// Path of the native command, for tests that run it as a child process.
std::string CommandPath();

struct CommandResult {
  std::string out;
  std::string err;
  int exitCode = -1;
  std::vector<std::string> trace;
};

// Runs the native command on a machine file with the sim's trace enabled.
CommandResult RunCommand(const std::string& machinePath, const std::vector<std::string>& arguments = {});

// The same for another native program built over the sim.
CommandResult RunProgram(const std::string& program, const std::string& machinePath,
                         const std::vector<std::string>& arguments = {});

// Writes text to a new temporary file and returns its path.
std::string TemporaryFile(const std::string& text);

// The bytes of a file, empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
