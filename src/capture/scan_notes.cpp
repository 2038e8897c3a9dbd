// Takes the scan's notes. Volume entries are told apart by their address,
// which holds from the mapping to the end of classification.
#include <utility>

#include "capture/noted_scan.h"
#include "discovery/discovery_passes.h"
#include "platform/text.h"

namespace {

struct Notes {
  NotedScan scan;
  std::vector<std::size_t> deviceOfCandidate;  // candidate index -> scan.devices index
  NotedDevice* child = nullptr;                 // the device whose storage child is being keyed
  DWORD childDevice = 0;
  std::vector<const VolumeEntry*> entries;  // each mapped entry, with where it is noted
  std::vector<NotedVolume*> volumes;
  bool hiddenRoot = false;
  bool descriptorRead = false;
};

Notes& State() {
  static Notes notes;
  return notes;
}

CapturedText TextOf(const WCHAR* text) { return CapturedText(text, text + TextLength(text)); }

NotedVolume* VolumeAt(const VolumeEntry& entry) {
  Notes& notes = State();
  for (std::size_t i = 0; i < notes.entries.size(); ++i) {
    if (notes.entries[i] == &entry) return notes.volumes[i];
  }
  return nullptr;
}

// The probe names the volume by its entry's path field.
NotedVolume* VolumeOfPath(const WCHAR* volumePath) {
  Notes& notes = State();
  for (std::size_t i = 0; i < notes.entries.size(); ++i) {
    if (notes.entries[i]->volumePath == volumePath) return notes.volumes[i];
  }
  return nullptr;
}

}  // namespace

void StartNotes() { State() = Notes{}; }

NotedScan TakeNotes() { return std::move(State().scan); }

void NoteDeviceListFailed() { State().scan.deviceListFailed = true; }

void NoteScanAborted(DWORD device) {
  State().scan.aborted = true;
  State().scan.abortedAt = device;
}

void NoteOurDevice(DWORD device, const std::vector<CandidateDevice>& candidates) {
  Notes& notes = State();
  NotedDevice noted;
  noted.device = device;
  noted.listed = candidates.size() > notes.deviceOfCandidate.size();
  if (noted.listed) {
    const CandidateDevice& candidate = candidates.back();
    noted.instanceTail = TextOf(candidate.instanceTail);
    noted.serviceRead = !TextEqual(candidate.serviceName, kUnreadableServiceName);
    if (noted.serviceRead) noted.serviceName = TextOf(candidate.serviceName);
    notes.deviceOfCandidate.push_back(notes.scan.devices.size());
  }
  notes.scan.devices.push_back(std::move(noted));
}

void NoteStorageChild(DWORD device, const std::vector<CandidateDevice>& candidates, const CandidateDevice& candidate) {
  Notes& notes = State();
  const std::size_t at = static_cast<std::size_t>(&candidate - candidates.data());
  notes.child = &notes.scan.devices[notes.deviceOfCandidate[at]];
  notes.childDevice = device;
}

void NoteChildKey(ChildKey how, const WCHAR* matchKey) {
  Notes& notes = State();
  if (notes.child == nullptr) return;
  NotedChild child;
  child.device = notes.childDevice;
  child.key = how;
  if (matchKey != nullptr) child.matchKey = TextOf(matchKey);
  notes.child->children.push_back(std::move(child));
  if (matchKey != nullptr) {
    NotedVolume volume;
    volume.child = notes.child->children.size() - 1;
    notes.child->volumes.push_back(std::move(volume));
  }
  notes.child = nullptr;
}

void NoteMountTableUnreadable() { State().scan.mountTableUnreadable = true; }

void NoteMapped(const std::vector<CandidateDevice>& candidates) {
  Notes& notes = State();
  notes.scan.mapped = true;
  for (std::size_t at = 0; at < candidates.size(); ++at) {
    NotedDevice& device = notes.scan.devices[notes.deviceOfCandidate[at]];
    const std::vector<VolumeEntry>& entries = candidates[at].volumes;
    for (std::size_t i = 0; i < entries.size() && i < device.volumes.size(); ++i) {
      device.volumes[i].letter = entries[i].root[0];
      device.volumes[i].volumePath = TextOf(entries[i].volumePath);
      notes.entries.push_back(&entries[i]);
      notes.volumes.push_back(&device.volumes[i]);
    }
  }
}

void NoteHiddenRoot(bool present) { State().hiddenRoot = present; }

void NoteDescriptorRead() { State().descriptorRead = true; }

void NoteProbe(const WCHAR* volumePath, Probe probe, int typeChars) {
  const DWORD error = GetLastError();
  Notes& notes = State();
  if (NotedVolume* volume = VolumeOfPath(volumePath)) {
    volume->probe = NotedProbe{true, probe, notes.hiddenRoot, notes.descriptorRead, typeChars,
                               probe == Probe::NoDescriptor ? error : DWORD{ERROR_SUCCESS}};
  }
  notes.hiddenRoot = false;
  notes.descriptorRead = false;
}

void NotePlaced(const VolumeEntry& volume, int slot) {
  if (NotedVolume* noted = VolumeAt(volume)) noted->slot = slot;
}
