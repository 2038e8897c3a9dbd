#include <cstring>

#include "discovery/discovery_passes.h"
#include "inventory/device_inventory.h"
#include "inventory/scan_notes.h"
#include "platform/text.h"
#include "setupapi/setupapi_binding.h"

namespace {

enum class ReadOutcome { Read, Skip, Abort };

// Reads the device's hardware-ID list, growing the buffer as often as the
// platform asks for more room.
ReadOutcome ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA& device, WorkBuffer& buffer, DWORD& required) {
  for (;;) {
    DWORD type = 0;
    if (setupApi.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, buffer.data(),
                                                   buffer.size(), &required)) {
      return ReadOutcome::Read;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_DATA) return ReadOutcome::Skip;
    // More room only helps when more is asked for; anything else would
    // repeat the same failing read for ever.
    if (error != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size()) return ReadOutcome::Abort;
    if (!buffer.Grow(required)) return ReadOutcome::Abort;
    std::memset(buffer.data(), 0, buffer.size());
  }
}

// The table entry that a hardware ID of the given length equals, ignoring
// ASCII case; null when none does.
const MatchedHardwareId* MatchHardwareId(const WCHAR* id, DWORD length) {
  for (const MatchedHardwareId& matched : kMatchedHardwareIds) {
    if (length == matched.length && TextPrefixEqualNoCase(id, matched.id, length)) return &matched;
  }
  return nullptr;
}

// Walks the list of zero-terminated IDs, never past the data the read
// returned nor the buffer, even when the list lacks its terminators.
const MatchedHardwareId* FindMatchedHardwareId(const WorkBuffer& buffer, DWORD required) {
  const WCHAR* ids = reinterpret_cast<const WCHAR*>(buffer.data());
  const DWORD end = (required < buffer.size() ? required : buffer.size()) / DWORD{sizeof(WCHAR)};
  for (DWORD start = 0; start < end && ids[start] != 0;) {
    const DWORD stop = start + TextLengthWithin(ids + start, end - start);
    if (const MatchedHardwareId* matched = MatchHardwareId(ids + start, stop - start)) return matched;
    start = stop + 1;
  }
  return nullptr;
}

// Drops the matched ID and its separator from the instance ID. An ID too
// short to carry anything after them is kept whole, so that it cannot
// match the children of unrelated devices.
void CutInstanceTail(CandidateDevice& candidate, const MatchedHardwareId& matched) {
  const DWORD length = TextLength(candidate.instanceTail);
  if (length >= matched.length + 1) {
    std::memmove(candidate.instanceTail, candidate.instanceTail + matched.length + 1,
                 (length - matched.length) * sizeof(WCHAR));
  }
  candidate.instanceTailLength = TextLength(candidate.instanceTail);
}

// Reads the service name; always leaves it terminated within its field.
void ReadServiceName(HDEVINFO set, SP_DEVINFO_DATA& device, CandidateDevice& candidate) {
  DWORD type = 0;
  DWORD required = 0;
  if (setupApi.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_SERVICE, &type,
                                                 reinterpret_cast<BYTE*>(candidate.serviceName),
                                                 sizeof candidate.serviceName, &required)) {
    candidate.serviceName[255] = 0;
  } else {
    TextCopy(candidate.serviceName, 256, kUnreadableServiceName);
  }
}

void AddCandidate(HDEVINFO set, SP_DEVINFO_DATA& device, const MatchedHardwareId& matched,
                  std::vector<CandidateDevice>& candidates) {
  CandidateDevice candidate{};
  DWORD required = 0;
  if (!setupApi.SetupDiGetDeviceInstanceIdW(set, &device, candidate.instanceTail, 256, &required)) return;
  CutInstanceTail(candidate, matched);
  ReadServiceName(set, device, candidate);
  candidates.push_back(candidate);
}

}  // namespace

bool ListCandidates(HDEVINFO set, SP_DEVINFO_DATA& device, WorkBuffer& buffer,
                    std::vector<CandidateDevice>& candidates) {
  for (DWORD index = 0; setupApi.SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    DWORD required = 0;
    const ReadOutcome outcome = ReadHardwareIds(set, device, buffer, required);
    if (outcome == ReadOutcome::Abort) {
      NoteScanAborted(index);
      return false;
    }
    if (outcome == ReadOutcome::Skip) continue;
    if (const MatchedHardwareId* matched = FindMatchedHardwareId(buffer, required)) {
      AddCandidate(set, device, *matched, candidates);
      NoteOurDevice(index, candidates);
    }
  }
  return true;
}

void DeviceInventory::DiscoverCandidates(std::vector<CandidateDevice>& candidates) {
  const HDEVINFO set =
      setupApi.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) {
    NoteDeviceListFailed();
    return;
  }
  const bool vistaOrLater = IsVistaOrLater();
  {
    WorkBuffer buffer;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    if (ListCandidates(set, device, buffer, candidates)) {
      AddStorageChildren(set, device, buffer, vistaOrLater, candidates);
    }
  }
  setupApi.SetupDiDestroyDeviceInfoList(set);
}
