// Builders for the volume tests: mount-table values, volumes and candidates.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

// A mount record as Windows stores it: UTF-16LE without a terminator.
inline SimValue MountValue(const std::u16string& name, const std::u16string& text, DWORD type = REG_BINARY) {
  SimValue value{name, type, {}};
  for (char16_t c : text) {
    value.data.push_back(static_cast<BYTE>(c & 0xFF));
    value.data.push_back(static_cast<BYTE>(c >> 8));
  }
  return value;
}

inline SimValue LetterValue(char letter, const std::u16string& text) {
  return MountValue(u"\\DosDevices\\" + std::u16string(1, static_cast<char16_t>(letter)) + u":", text);
}

inline SimFile TextFile(const std::string& bytes) {
  SimFile file;
  file.bytes.assign(bytes.begin(), bytes.end());
  return file;
}

inline SimFile Directory() {
  SimFile file;
  file.directory = true;
  return file;
}

inline std::u16string GuidPath(const std::u16string& guid) { return u"\\\\?\\Volume" + guid + u"\\"; }

inline void CopyText(WCHAR* field, const std::u16string& text) {
  std::memcpy(field, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
}

// An entry as discovery leaves it: only the key set.
inline VolumeEntry FoundEntry(const std::u16string& matchKey) {
  VolumeEntry entry{};
  CopyText(entry.matchKey, matchKey);
  return entry;
}

// An entry as drive-letter mapping leaves it.
inline VolumeEntry MappedEntry(char letter, const std::u16string& volumePath) {
  VolumeEntry entry{};
  CopyText(entry.root, std::u16string(1, static_cast<char16_t>(letter)) + u":\\");
  CopyText(entry.volumePath, volumePath);
  return entry;
}

inline CandidateDevice Candidate(const std::vector<VolumeEntry>& volumes, const std::u16string& tail = u"0123") {
  CandidateDevice candidate{};
  CopyText(candidate.instanceTail, tail);
  CopyText(candidate.serviceName, u"USBSTOR");
  candidate.instanceTailLength = static_cast<DWORD>(tail.size());
  candidate.volumes = volumes;
  return candidate;
}

// Counts of the platform calls made since the machine was installed.
inline int Calls(const char* name) { return Sim().counters.calls[name]; }

inline bool NothingLeftOpen() {
  const SimCounters& c = Sim().counters;
  return c.openKeys == 0 && c.openFiles == 0 && c.globalBlocks == 0 && c.lockedBlocks == 0;
}
