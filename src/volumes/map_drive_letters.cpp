// Ties volume entries to drive letters and volume GUID paths through the
// mount table, SYSTEM\MountedDevices.
#include "inventory/device_inventory.h"
#include "platform/text.h"

namespace {

constexpr DWORD kRecordChars = 1024;
constexpr DWORD kRecordBytesOffered = 1024;
// The record buffer's bytes less one: the terminator always lands inside it.
constexpr DWORD kLargestRecordBytes = 2 * kRecordChars - 1;
constexpr DWORD kNameChars = 256;
constexpr DWORD kVolumePathChars = sizeof(VolumeEntry::volumePath) / sizeof(WCHAR);
constexpr DWORD kLetterIndex = 12;  // of the "?" in "\DosDevices\?:"

// A mount record is UTF-16 text whatever its registry type: it ends at its
// first zero character or after the bytes returned (an odd last byte
// dropped). It is matched upper-cased, which the search does as it reads.
void TerminateRecord(WCHAR* record, DWORD byteCount) {
  record[(byteCount < kLargestRecordBytes ? byteCount : kLargestRecordBytes) / 2] = 0;
}

// Empty when the letter has no record that can be read.
void QueryLetterRecord(HKEY mountKey, const WCHAR* valueName, WCHAR* record) {
  DWORD type = 0;
  DWORD bytes = kRecordBytesOffered;
  if (RegQueryValueExW(mountKey, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(record), &bytes) ==
      ERROR_SUCCESS) {
    TerminateRecord(record, bytes);
  } else {
    record[0] = 0;
  }
}

// The first unmapped entry in walk order whose key occurs in the record.
// Every key it reaches is upper-cased in place, for good.
VolumeEntry* FirstEntryKeyedIn(const WCHAR* record, std::vector<CandidateDevice>& candidates) {
  for (CandidateDevice& candidate : candidates) {
    for (VolumeEntry& entry : candidate.volumes) {
      if (IsMapped(entry)) continue;
      TextUpperAscii(entry.matchKey);
      if (TextFindUpperCased(record, entry.matchKey) != nullptr) return &entry;
    }
  }
  return nullptr;
}

void SetRoot(VolumeEntry& entry, WCHAR letter) {
  entry.root[0] = letter;
  entry.root[1] = ':';
  entry.root[2] = '\\';
  entry.root[3] = 0;
}

// "\??\Volume{GUID}" gives "\\?\Volume{GUID}\". A name too long to take the
// backslash, or the empty name (it has no second character), gives none.
bool SetVolumePath(VolumeEntry& entry, const WCHAR* name) {
  const DWORD length = TextLength(name);
  if (length == 0 || length + 2 > kVolumePathChars) return false;
  TextCopy(entry.volumePath, kVolumePathChars, name);
  TextAppend(entry.volumePath, kVolumePathChars, WSTR("\\"));
  entry.volumePath[1] = '\\';
  return true;
}

// The first volume-name value, by enumeration index, whose record holds the
// entry's key names its volume. A value too long to be read cannot hold the
// key and is passed over.
void LookUpVolumePath(HKEY mountKey, VolumeEntry& entry, WCHAR* record) {
  WCHAR name[kNameChars];
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = kNameChars;
    DWORD type = 0;
    DWORD bytes = kRecordBytesOffered;
    const LSTATUS status =
        RegEnumValueW(mountKey, index, name, &nameChars, nullptr, &type, reinterpret_cast<LPBYTE>(record), &bytes);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return;
    if (TextPrefixEqualNoCase(name, WSTR("\\DosDevices\\"), kLetterIndex)) continue;
    TerminateRecord(record, bytes);
    if (TextFindUpperCased(record, entry.matchKey) != nullptr && SetVolumePath(entry, name)) return;
  }
}

}  // namespace

void DeviceInventory::MapDriveLetters(HKEY mountKey, std::vector<CandidateDevice>& candidates) {
  WCHAR letterValue[16];
  TextCopy(letterValue, 16, WSTR("\\DosDevices\\?:"));
  const DWORD driveMask = GetLogicalDrives();
  WCHAR record[kRecordChars];
  for (DWORD n = 0; n < 26; ++n) {
    if ((driveMask & (1u << n)) == 0) continue;
    const WCHAR letter = static_cast<WCHAR>('A' + n);
    letterValue[kLetterIndex] = letter;
    QueryLetterRecord(mountKey, letterValue, record);
    if (record[0] == 0) continue;
    VolumeEntry* entry = FirstEntryKeyedIn(record, candidates);
    if (entry == nullptr) continue;
    // The letter is taken even when no volume name is found; the lookup
    // reuses the record buffer, which nothing reads afterwards.
    SetRoot(*entry, letter);
    LookUpVolumePath(mountKey, *entry, record);
  }
}
