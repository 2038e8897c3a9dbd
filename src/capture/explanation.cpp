#include "capture/explanation.h"

#include <cstring>

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

bool AnyVolume(const ExplainedDevice& device, bool (*test)(const ExplainedVolume&)) {
  for (const ExplainedVolume& volume : device.volumes) {
    if (test(volume)) return true;
  }
  return false;
}

bool HasLetter(const ExplainedVolume& volume) { return volume.letter != 0; }
bool HasVolumeName(const ExplainedVolume& volume) { return !volume.volumePath.empty(); }
bool IsMain(const ExplainedVolume& volume) { return volume.slot == 0; }

// The first stage at which the device fell out of the scan.
const char* DeviceReason(const NotedScan& notes, const NotedDevice& noted, const ExplainedDevice& device) {
  if (AnyVolume(device, IsMain)) return "reported";
  if (!noted.listed) return "instance-id-unreadable";
  if (!noted.serviceRead) return "service-unreadable";
  if (notes.aborted) return "scan-aborted";  // storage children are looked for after every device is listed
  if (device.children.empty()) {
    if (IsUaspService(noted.serviceName)) return "uasp";
    if (IsGeneratedInstanceTail(noted.instanceTail)) return "generated-instance-id";
    return "no-storage-child";
  }
  if (device.volumes.empty()) return "no-parent-id-prefix";
  if (notes.mountTableUnreadable) return "mount-table-unreadable";
  if (!AnyVolume(device, HasLetter)) return "no-letter";
  if (!AnyVolume(device, HasVolumeName)) return "no-volume-name";
  return "no-main-volume";
}

ExplainedVolume ExplainVolume(const CapturedMachine& machine, const NotedVolume& noted, const CapturedText& key) {
  ExplainedVolume volume;
  volume.child = noted.child;
  volume.letter = noted.letter;
  volume.volumePath = noted.volumePath;
  volume.probe = noted.probe;
  volume.slot = noted.slot >= 0 && noted.slot < kDroppedSlot ? noted.slot : -1;
  volume.reason = VolumeReason(noted);
  if (noted.letter == 0) {
    volume.lettersNotInUse = LettersNotInUseHolding(machine, key);
    volume.namedVolume = VolumePathHolding(machine, key);
  }
  return volume;
}

// A volume that one entry has at a letter is reached by the device's other
// entries too, from Vista on: its disk and its volume devices.
void FindSameVolumes(std::vector<ExplainedVolume>& volumes) {
  for (ExplainedVolume& volume : volumes) {
    if (volume.letter != 0 || volume.namedVolume.empty()) continue;
    for (std::size_t other = 0; other < volumes.size(); ++other) {
      CapturedText path(volumes[other].volumePath);
      path.push_back(0);
      CapturedText named(volume.namedVolume);
      named.push_back(0);
      if (volumes[other].letter != 0 && TextEqualNoCase(path.data(), named.data())) {
        volume.sameVolumeAs = other;
        break;
      }
    }
  }
}

ExplainedDevice ExplainDevice(const NotedScan& notes, const CapturedMachine& machine, const NotedDevice& noted) {
  ExplainedDevice device;
  device.instanceId = machine.devices[noted.device].instanceId;
  device.serviceRead = noted.serviceRead;
  device.serviceName = noted.serviceName;
  for (const NotedChild& child : noted.children) {
    device.children.push_back(ExplainedChild{machine.devices[child.device].instanceId, child.key, child.matchKey});
  }
  for (const NotedVolume& volume : noted.volumes) {
    device.volumes.push_back(ExplainVolume(machine, volume, noted.children[volume.child].matchKey));
  }
  FindSameVolumes(device.volumes);
  device.reason = DeviceReason(notes, noted, device);
  return device;
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

Explanation Explain(const NotedScan& notes, const CapturedMachine& machine, const CapturedResult& report) {
  Explanation explanation;
  explanation.codePage = machine.codePage;
  explanation.report = report;
  explanation.scan = ScanReasons(notes, machine);
  for (const NotedDevice& noted : notes.devices) explanation.devices.push_back(ExplainDevice(notes, machine, noted));
  for (const NearMissFact& miss : NearMisses(machine, notes)) {
    explanation.nearMisses.push_back(NearMiss{machine.devices[miss.device].instanceId, miss.hardwareId, "interface-id"});
  }
  explanation.fixedMediaLetters = FixedMediaLetters(machine);
  return explanation;
}

std::vector<CapturedText*> IdentifyingTexts(Explanation& explanation) {
  std::vector<CapturedText*> texts;
  for (ExplainedDevice& device : explanation.devices) {
    for (ExplainedChild& child : device.children) texts.push_back(&child.matchKey);
    for (ExplainedVolume& volume : device.volumes) {
      texts.push_back(&volume.volumePath);
      texts.push_back(&volume.namedVolume);
    }
  }
  return texts;
}

std::vector<CapturedText*> InstanceIds(Explanation& explanation) {
  std::vector<CapturedText*> ids;
  for (ExplainedDevice& device : explanation.devices) {
    ids.push_back(&device.instanceId);
    for (ExplainedChild& child : device.children) ids.push_back(&child.instanceId);
  }
  for (NearMiss& miss : explanation.nearMisses) ids.push_back(&miss.instanceId);
  return ids;
}

unsigned ReportedCount(const Explanation& explanation) {
  unsigned count = 0;
  for (const ExplainedDevice& device : explanation.devices) count += std::strcmp(device.reason, "reported") == 0;
  return count;
}
