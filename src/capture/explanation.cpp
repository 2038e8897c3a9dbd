#include "capture/explanation.h"

#include <cstring>
#include <utility>

#include "capture/explanation_facts.h"
#include "platform/text.h"

namespace {

const char* ProbeReason(const NotedProbe& probe) {
  switch (probe.probe) {
    case Probe::PathTooLong:
      return "path-too-long";
    case Probe::NoDescriptor:
      return MissingDescriptorReason(probe);
    case Probe::DescriptorIsDirectory:
      return "main";
    case Probe::TypeValue:
      break;
  }
  if (probe.typeChars != 0) return "main";
  return probe.descriptorRead ? "empty-type" : "descriptor-unreadable";
}

// Where the volume went: the slot classification gave it, or why none.
const char* VolumeReason(const NotedVolume& volume) {
  if (volume.letter == 0) return "no-letter";
  if (volume.volumePath.empty()) return "no-volume-name";
  if (volume.slot == 0) return "main";
  if (volume.slot == kDroppedSlot) return "card-dropped";
  if (volume.probe.probed) return ProbeReason(volume.probe);
  return volume.slot > 0 ? "card" : "same-volume";
}

bool AnyVolume(const NotedDevice& device, bool (*test)(const NotedVolume&)) {
  for (const NotedVolume& volume : device.volumes) {
    if (test(volume)) return true;
  }
  return false;
}

bool HasLetter(const NotedVolume& volume) { return volume.letter != 0; }
bool HasVolumeName(const NotedVolume& volume) { return !volume.volumePath.empty(); }
bool IsMain(const NotedVolume& volume) { return volume.slot == 0; }

// The first stage at which the device fell out of the scan.
const char* DeviceReason(const NotedScan& notes, const NotedDevice& device) {
  if (AnyVolume(device, IsMain)) return "reported";
  if (!device.listed) return "instance-id-unreadable";
  if (!device.serviceRead) return "service-unreadable";
  if (notes.aborted) return "scan-aborted";  // storage children are looked for after every device is listed
  if (device.children.empty()) {
    if (IsUaspService(device.serviceName)) return "uasp";
    if (IsGeneratedInstanceTail(device.instanceTail)) return "generated-instance-id";
    return "no-storage-child";
  }
  if (device.volumes.empty()) return "no-parent-id-prefix";
  if (notes.mountTableUnreadable) return "mount-table-unreadable";
  if (!AnyVolume(device, HasLetter)) return "no-letter";
  if (!AnyVolume(device, HasVolumeName)) return "no-volume-name";
  return "no-main-volume";
}

bool SamePath(CapturedText left, CapturedText right) {
  left.push_back(0);
  right.push_back(0);
  return TextEqualNoCase(left.data(), right.data());
}

// A volume without a letter: what its key reaches in the mount table. From
// Vista on, a volume that one entry has at a letter is reached by the
// device's other entries too (its disk and its volume devices).
void ExplainMissingLetter(const CapturedMachine& machine, NotedDevice& device, NotedVolume& volume) {
  const CapturedText& key = device.children[volume.child].matchKey;
  volume.lettersNotInUse = LettersNotInUseHolding(machine, key);
  volume.namedVolume = VolumePathHolding(machine, key);
  for (std::size_t other = 0; other < device.volumes.size() && !volume.namedVolume.empty(); ++other) {
    if (device.volumes[other].letter != 0 && SamePath(device.volumes[other].volumePath, volume.namedVolume)) {
      volume.sameVolumeAs = other;
      return;
    }
  }
}

void ExplainDevice(const NotedScan& notes, const CapturedMachine& machine, NotedDevice& device) {
  device.instanceId = machine.devices[device.device].instanceId;
  for (NotedChild& child : device.children) child.instanceId = machine.devices[child.device].instanceId;
  for (NotedVolume& volume : device.volumes) {
    volume.reason = VolumeReason(volume);
    if (volume.letter == 0) ExplainMissingLetter(machine, device, volume);
  }
  device.reason = DeviceReason(notes, device);
}

std::vector<const char*> ScanReasons(const NotedScan& notes, const CapturedMachine& machine) {
  std::vector<const char*> reasons;
  if (SetupApiMissing(machine)) reasons.push_back("setupapi-missing");
  if (notes.deviceListFailed) reasons.push_back("device-list-failed");
  if (notes.aborted) reasons.push_back("scan-aborted");
  if (notes.mountTableUnreadable) reasons.push_back("mount-table-unreadable");
  return reasons;
}

}  // namespace

Explanation Explain(NotedScan notes, const CapturedMachine& machine, const CapturedResult& report) {
  Explanation explanation;
  explanation.codePage = machine.codePage;
  explanation.report = report;
  explanation.scan = ScanReasons(notes, machine);
  for (NotedDevice& device : notes.devices) ExplainDevice(notes, machine, device);
  explanation.devices = std::move(notes.devices);
  for (const NearMissFact& miss : NearMisses(machine, explanation.devices)) {
    explanation.nearMisses.push_back(NearMiss{machine.devices[miss.device].instanceId, miss.hardwareId, "interface-id"});
  }
  explanation.fixedMediaLetters = FixedMediaLetters(machine);
  return explanation;
}

OtherTexts IdentifyingTexts(Explanation& explanation) {
  OtherTexts others;
  for (NotedDevice& device : explanation.devices) {
    others.instanceIds.push_back(&device.instanceId);
    for (NotedChild& child : device.children) {
      others.instanceIds.push_back(&child.instanceId);
      others.texts.push_back(&child.matchKey);
    }
    for (NotedVolume& volume : device.volumes) {
      others.texts.push_back(&volume.volumePath);
      others.texts.push_back(&volume.namedVolume);
    }
  }
  for (NearMiss& miss : explanation.nearMisses) {
    others.instanceIds.push_back(&miss.instanceId);
    others.hardwareIds.push_back(&miss.hardwareId);
  }
  return others;
}

const char* SlotName(int slot) {
  static const char* const kNames[] = {"iDrive", "sdDriveA", "sdDriveB"};
  return slot >= 0 && slot < kDroppedSlot ? kNames[slot] : nullptr;
}

unsigned ReportedCount(const Explanation& explanation) {
  unsigned count = 0;
  for (const NotedDevice& device : explanation.devices) count += std::strcmp(device.reason, "reported") == 0;
  return count;
}
