#include "scan_checks.h"

#include <set>

#include <nlohmann/json.hpp>

#include "app/report.h"
#include "platform/sim/sim.h"

namespace {

// Reads `opening` and one quoted upper-case letter at text[at], moving past
// them; false, with at unchanged, when they are not there.
bool Member(const std::string& text, std::size_t& at, const std::string& opening, char* letter) {
  const std::size_t start = at + opening.size();
  if (text.compare(at, opening.size(), opening) != 0 || start + 2 > text.size() || text[start] < 'A' ||
      text[start] > 'Z' || text[start + 1] != '"') {
    return false;
  }
  *letter = text[start];
  at = start + 2;
  return true;
}

}  // namespace

std::string ReportProblem(const std::string& out, int exitCode, DWORD driveMask) {
  if (exitCode == 1) return out.empty() ? "" : "exit code 1 with output: " + out;
  if (exitCode != 0) return "exit code " + std::to_string(exitCode);
  if (!nlohmann::json::accept(out)) return "not JSON: " + out;
  if (out.empty() || out[0] != '[') return "no array: " + out;
  bool used[26] = {};
  std::size_t at = 1;
  for (bool more = true; more;) {
    char letter = 0;
    if (!Member(out, at, "{\"iDrive\":\"", &letter)) return "no object at " + std::to_string(at) + ": " + out;
    for (const char* opening : {"", ",\"sdDriveA\":\"", ",\"sdDriveB\":\""}) {
      if (*opening != 0 && !Member(out, at, opening, &letter)) continue;
      const int n = letter - 'A';
      if (used[n]) return std::string("letter twice: ") + letter + " in " + out;
      if ((driveMask & (1u << n)) == 0) return std::string("letter not in use: ") + letter + " in " + out;
      used[n] = true;
    }
    if (out.compare(at, 1, "}") != 0) return "object not closed at " + std::to_string(at) + ": " + out;
    more = out.compare(at + 1, 1, ",") == 0;
    at += more ? 2 : 1;
  }
  if (out.compare(at, std::string::npos, "]") != 0) return "array not closed at " + std::to_string(at) + ": " + out;
  return "";
}

std::string ReportOf(const DeviceInventory& inventory) {
  if (inventory.Count() == 0) return "";
  WCHAR report[kReportChars];
  BuildReport(inventory, report);
  std::string bytes;
  for (const WCHAR* c = report; *c != 0; ++c) bytes += *c < 128 ? static_cast<char>(*c) : '?';
  return bytes;
}

std::string PlatformProblem() {
  const SimState& sim = Sim();
  const SimCounters& c = sim.counters;
  // A release made to fail leaves its object behind; nothing more can be
  // done about it.
  auto failedReleases = [&](const char* call) {
    const auto made = c.calls.find(call);
    const int count = made != c.calls.end() ? made->second : 0;
    std::set<int> failed;  // two faults on one call fail it once
    for (const SimFault& fault : sim.machine.faults) {
      if (fault.call != call) continue;
      if (fault.nth == 0) return count;
      if (static_cast<int>(fault.nth) <= count) failed.insert(static_cast<int>(fault.nth));
    }
    return static_cast<int>(failed.size());
  };
  if (c.openKeys != failedReleases("RegCloseKey") || c.openSets != failedReleases("SetupDiDestroyDeviceInfoList") ||
      c.openFiles != failedReleases("CloseHandle") || c.heapBlocks != 0 ||
      c.globalBlocks != failedReleases("GlobalFree") || c.lockedBlocks != failedReleases("GlobalUnlock") ||
      c.volumeCallsOutsideErrorMode != 0 || sim.errorMode != 0) {
    return "platform state after the run: " + SimCountersLine();
  }
  return "";
}
