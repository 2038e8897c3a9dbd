// Hardware-ID lists and service names of arbitrary bytes and sizes on up to
// eight devices. Discovery must read only the data returned and find
// exactly the devices whose list names a matched ID before its first empty
// string, in order, each with its instance tail and a terminated service
// name. Input: per device a part "flags byte, hardware-ID bytes" (flag 1:
// no list, flag 2: no service) and a part with the service bytes.
#include <algorithm>

#include "fuzz_support.h"
#include "platform/sim/sim.h"
#include "scan_checks.h"
#include "test_support.h"

namespace {

// The list as the platform documents it: strings up to the data's end or
// the first empty one.
bool NamesMatchedId(const SimBytes& list) {
  std::u16string id;
  const std::u16string units = Utf16Units(SimBytes(list.begin(), list.end() - static_cast<long>(list.size() % 2)));
  for (std::size_t i = 0; i <= units.size(); ++i) {
    if (i < units.size() && units[i] != 0) {
      id += units[i];
      continue;
    }
    if (id.empty()) return false;
    if (SimEqualNoCase(id, u"USB\\VID_045E&PID_FFFF") || SimEqualNoCase(id, u"USB\\VID_7A5C&PID_FFFF")) return true;
    id.clear();
  }
  return false;
}

// The service name a field of 256 characters ends up holding.
std::u16string ExpectedService(const std::optional<SimBytes>& service) {
  static const std::u16string kUnreadable(1, u'\x0001');
  // A property of no bytes reads as absent, as on Windows.
  if (!service || service->empty() || service->size() > 512) return kUnreadable;
  std::u16string field = Utf16Units(*service);
  field.resize(255);
  return field.substr(0, field.find(u'\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<SimBytes> parts = SplitInput(data, size, 16);
  SimulatedMachine machine;
  for (std::size_t i = 0; i < parts.size(); i += 2) {
    const BYTE flags = parts[i].empty() ? 0 : parts[i][0];
    SimDevice device;
    device.instanceId = u"USB\\VID_045E&PID_FFFF\\SERIAL" + std::u16string(1, static_cast<char16_t>('0' + i / 2));
    if ((flags & 1) == 0) device.hardwareIds = SimBytes(parts[i].begin() + (parts[i].empty() ? 0 : 1), parts[i].end());
    if ((flags & 2) == 0) device.service = i + 1 < parts.size() ? parts[i + 1] : SimBytes{};
    machine.devices.push_back(device);
  }
  SimInstall(machine);

  DeviceInventory inventory;
  std::vector<CandidateDevice> candidates;
  InventoryTestAccess::DiscoverCandidates(inventory, candidates);

  std::size_t next = 0;
  for (const SimDevice& device : machine.devices) {
    if (!device.hardwareIds || !NamesMatchedId(*device.hardwareIds)) continue;
    Require(next < candidates.size(), "a device with a matched ID was not found");
    const CandidateDevice& candidate = candidates[next++];
    Require(candidate.instanceTail == device.instanceId.substr(22), "wrong instance tail");
    Require(candidate.instanceTailLength == device.instanceId.size() - 22, "wrong instance tail length");
    Require(std::find(candidate.serviceName, candidate.serviceName + 256, 0) != candidate.serviceName + 256,
            "service name not terminated");
    Require(candidate.serviceName == ExpectedService(device.service), "wrong service name");
  }
  Require(next == candidates.size(), "a device without a matched ID was found");
  const std::string problem = PlatformProblem();
  Require(problem.empty(), problem);
  ReleaseSim();
  return 0;
}
