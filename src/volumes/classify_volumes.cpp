// Sorts each device's mapped volumes into its main volume and card volumes
// and appends one record per device that has a main volume.
#include "inventory/device_inventory.h"
#include "inventory/scan_notes.h"
#include "platform/text.h"
#include "volumes/device_xml_reader.h"

namespace {

constexpr DWORD kPathChars = 256;
constexpr DWORD kFieldChars = 256;

// base and name with exactly one backslash between them; false when the
// result does not fit kPathChars.
bool JoinPath(WCHAR* path, const WCHAR* base, const WCHAR* name) {
  const DWORD baseLength = TextLength(base);
  const bool separated = baseLength != 0 && base[baseLength - 1] == '\\';
  if (baseLength + (separated ? 0 : 1) + TextLength(name) >= kPathChars) return false;
  TextCopy(path, kPathChars, base);
  if (!separated) TextAppend(path, kPathChars, WSTR("\\"));
  TextAppend(path, kPathChars, name);
  return true;
}

// Inside the hidden root directory when the volume has one (the root's
// descriptor is then ignored), else at the root. False when it does not fit.
bool DescriptorPath(const WCHAR* volumePath, WCHAR* path) {
  WCHAR hiddenRoot[kPathChars];
  if (!JoinPath(hiddenRoot, volumePath, WSTR("__TFAT_HIDDEN_ROOT_DIR__"))) return false;
  const DWORD attributes = GetFileAttributesW(hiddenRoot);
  const bool hidden = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  NoteHiddenRoot(hidden);
  return JoinPath(path, hidden ? hiddenRoot : volumePath, WSTR("device.xml"));
}

// The main volume's descriptor names a type, or is a directory.
bool IsMainVolume(const WCHAR* volumePath) {
  WCHAR path[kPathChars];
  if (!DescriptorPath(volumePath, path)) {
    NoteProbe(volumePath, Probe::PathTooLong, 0);
    return false;
  }
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    NoteProbe(volumePath, Probe::NoDescriptor, 0);
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    NoteProbe(volumePath, Probe::DescriptorIsDirectory, 0);
    return true;
  }
  const int typeChars = ReadDeviceXmlValue(nullptr, 0, path, "hardware", "type");
  NoteProbe(volumePath, Probe::TypeValue, typeChars);
  return typeChars != 0;
}

// Once slot 0 is taken, later volumes are card volumes without a probe; a
// card volume beyond the two card slots is dropped.
void PlaceVolume(DeviceRecord& record, const VolumeEntry& volume) {
  if (!IsMapped(record.slots[0]) && IsMainVolume(volume.volumePath)) {
    record.slots[0] = volume;
    NotePlaced(volume, 0);
    return;
  }
  for (int slot = 1; slot < 3; ++slot) {
    if (!IsMapped(record.slots[slot])) {
      record.slots[slot] = volume;
      NotePlaced(volume, slot);
      return;
    }
  }
  NotePlaced(volume, kDroppedSlot);
}

// From Vista on a volume's disk and its volume devices are all children of
// the device; a volume at two letters then reaches two of their entries. It
// is one volume all the same, reported once, at the letter it got first.
bool IsPlaced(const DeviceRecord& record, const VolumeEntry& volume) {
  for (const VolumeEntry& slot : record.slots) {
    if (IsMapped(slot) && TextEqualNoCase(slot.volumePath, volume.volumePath)) return true;
  }
  return false;
}

}  // namespace

void DeviceInventory::ClassifyVolumes(std::vector<CandidateDevice>& candidates) {
  const UINT previousMode = SetErrorMode(kVolumeErrorMode);
  for (const CandidateDevice& candidate : candidates) {
    DeviceRecord record{};
    for (const VolumeEntry& volume : candidate.volumes) {
      if (IsMapped(volume) && !IsPlaced(record, volume)) PlaceVolume(record, volume);
    }
    if (!IsMapped(record.slots[0])) continue;
    TextCopy(record.instanceTail, kFieldChars, candidate.instanceTail);
    TextCopy(record.serviceName, kFieldChars, candidate.serviceName);
    Append(record);
  }
  SetErrorMode(previousMode);
}
