// Machine files: one simulated machine and the command's expected result,
// as JSON (docs/machine-files.md).
#pragma once

#include <stdexcept>
#include <string>

#include "platform/sim/machine.h"

// A malformed file; the message names the file and the field.
class MachineFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MachineExpectation {
  std::string stdoutBytes;
  int exitCode = 1;
};

SimulatedMachine LoadMachineFile(const std::string& path);
MachineExpectation LoadMachineExpectation(const std::string& path);

// The same from text, for tests; name stands for the file in messages.
SimulatedMachine ParseMachine(const std::string& text, const std::string& name);
