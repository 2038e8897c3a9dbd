// What a capture says about a machine, in the sim's terms: the machine a
// written capture must read back as, and a dump that tells two apart.
#pragma once

#include <string>

#include "capture/captured_machine.h"
#include "platform/sim/machine.h"

SimulatedMachine ExpectedReplay(const CapturedMachine& captured);

// Every field the scan can observe, one per line.
std::string DumpMachine(const SimulatedMachine& machine);
