#include "platform/sim/sim.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/sim/machine_file.h"

namespace {

SimState* state = nullptr;

void TraceCountersAtExit() { SimTrace("exit " + SimCountersLine()); }

SimulatedMachine MachineFromEnvironment() {
  const char* path = std::getenv("DEVDRIVES_MACHINE");
  if (path == nullptr || *path == 0) return SimulatedMachine{};
  try {
    return LoadMachineFile(path);
  } catch (const MachineFileError& error) {
    std::fprintf(stderr, "devdrives: %s\n", error.what());
    std::_Exit(2);
  }
}

}  // namespace

SimState& Sim() {
  if (state == nullptr) {
    state = new SimState;  // lives until the process ends, past every exit action
    state->machine = MachineFromEnvironment();
    std::atexit(TraceCountersAtExit);
  }
  return *state;
}

bool MachineIdentifiersReplaced() { return Sim().machine.identifiersReplaced; }

void SimInstall(const SimulatedMachine& machine) {
  SimState& sim = Sim();
  SimResetSetupApi();
  SimResetRegistry();
  SimResetFiles();
  SimResetLibraries();
  sim = SimState{};
  sim.machine = machine;
}

bool SimCallFails(const char* call, DWORD* error) {
  SimState& sim = Sim();
  // Found by the name as given: a std::string per call would cost more than
  // most of the calls themselves.
  auto counted = sim.counters.calls.find(std::string_view(call));
  if (counted == sim.counters.calls.end()) counted = sim.counters.calls.emplace(call, 0).first;
  const int count = ++counted->second;
  if (sim.machine.callLimit != 0 && ++sim.counters.totalCalls > sim.machine.callLimit) {
    std::fprintf(stderr, "sim: more than %u platform calls, the run does not end\n", sim.machine.callLimit);
    std::abort();
  }
  for (const SimFault& fault : sim.machine.faults) {
    if (fault.call == call && (fault.nth == 0 || fault.nth == static_cast<DWORD>(count))) {
      *error = fault.error;
      return true;
    }
  }
  return false;
}

void SimNoteVolumeAccess() {
  const UINT required = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
  if ((Sim().errorMode & required) != required) ++Sim().counters.volumeCallsOutsideErrorMode;
}

void SimTrace(const std::string& line) {
  const char* path = std::getenv("DEVDRIVES_SIM_TRACE");
  if (path == nullptr || *path == 0) return;
  std::ofstream(path, std::ios::app) << line << '\n';
}

std::string SimCountersLine() {
  const SimState& sim = Sim();
  const SimCounters& c = sim.counters;
  return "loaded=" + std::to_string(c.librariesLoaded) + " freed=" + std::to_string(c.librariesFreed) +
         " keys=" + std::to_string(c.openKeys) + " sets=" + std::to_string(c.openSets) +
         " files=" + std::to_string(c.openFiles) + " heap=" + std::to_string(c.heapBlocks) +
         " global=" + std::to_string(c.globalBlocks) + " locked=" + std::to_string(c.lockedBlocks) +
         " wprintf=" + std::to_string(c.wprintfCalls) +
         " outside-error-mode=" + std::to_string(c.volumeCallsOutsideErrorMode) +
         " error-mode=" + std::to_string(sim.errorMode);
}

bool SimEqualNoCase(const std::u16string& left, const std::u16string& right) {
  if (left.size() != right.size()) return false;
  // From the end: names that differ mostly differ there ("\DosDevices\C:").
  for (std::size_t i = left.size(); i-- > 0;) {
    char16_t a = left[i], b = right[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char16_t>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char16_t>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

std::u16string SimFromUtf8(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::uint32_t code = lead;
    int extra = 0;
    if (lead >= 0xF0) { code = lead & 0x07u; extra = 3; }
    else if (lead >= 0xE0) { code = lead & 0x0Fu; extra = 2; }
    else if (lead >= 0xC0) { code = lead & 0x1Fu; extra = 1; }
    ++i;
    for (; extra > 0 && i < text.size(); --extra, ++i) {
      code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3Fu);
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

void SimAppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
    return;
  }
  const int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
  out += static_cast<char>(lead[extra] | (code >> (6 * extra)));
  for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

std::string SimToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    // Only a high surrogate followed by a low one is a pair; a lone one is
    // written as it stands.
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00u);
    }
    SimAppendUtf8(out, code);
  }
  return out;
}
