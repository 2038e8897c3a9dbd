#include "capture/explanation_facts.h"

#include <cstring>

#include "discovery/discovery_passes.h"
#include "platform/text.h"

namespace {

const DWORD kLetterIndex = 12;  // of the letter in "\DosDevices\X:"
const DWORD kRecordChars = 1024;

bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }
bool IsAlphanumeric(WCHAR c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool StartsWith(const CapturedText& text, const WCHAR* prefix) {
  const DWORD length = TextLength(prefix);
  return text.size() >= length && TextPrefixEqualNoCase(text.data(), prefix, length);
}

// A drive-letter value's letter; 0 for any other value.
WCHAR LetterOf(const CapturedValue& value) {
  if (value.name.size() != kLetterIndex + 2 || !StartsWith(value.name, WSTR("\\DosDevices\\")) ||
      value.name[kLetterIndex + 1] != ':') {
    return 0;
  }
  const WCHAR letter = value.name[kLetterIndex];
  if (letter >= 'a' && letter <= 'z') return static_cast<WCHAR>(letter - 32);
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

bool InUse(const CapturedMachine& machine, WCHAR letter) {
  return (machine.driveMask & (1u << (letter - 'A'))) != 0;
}

// The record as the scan reads it: UTF-16 text up to its first zero.
bool RecordHolds(const CapturedValue& value, const CapturedText& key) {
  if (key.empty()) return false;
  WCHAR record[kRecordChars];
  std::size_t chars = value.data.size() / 2;
  if (chars > kRecordChars - 1) chars = kRecordChars - 1;
  for (std::size_t i = 0; i < chars; ++i) {
    record[i] = static_cast<WCHAR>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
  }
  record[chars] = 0;
  CapturedText upper(key);
  upper.push_back(0);
  TextUpperAscii(upper.data());
  return TextFindUpperCased(record, upper.data()) != nullptr;
}

bool IsBinaryRecord(const CapturedBytes& data) {
  static const char kDmio[] = "DMIO:ID:";
  if (data.size() == 12) return true;
  if (data.size() < 8) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    if (data[i] != static_cast<BYTE>(kDmio[i])) return false;
  }
  return true;
}

// The hardware IDs as a list of texts.
std::vector<CapturedText> IdsOf(const CapturedBytes& bytes) {
  std::vector<CapturedText> ids(1);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const WCHAR c = static_cast<WCHAR>(bytes[i] | (bytes[i + 1] << 8));
    if (c != 0) {
      ids.back().push_back(c);
    } else if (!ids.back().empty()) {
      ids.emplace_back();
    }
  }
  if (ids.back().empty()) ids.pop_back();
  return ids;
}

// Our vendor and product IDs with more after them, "&MI_00" or "&REV_0100".
bool NamesOursWithMore(const CapturedText& id) {
  for (const MatchedHardwareId& ours : kMatchedHardwareIds) {
    if (id.size() > ours.length && TextPrefixEqualNoCase(id.data(), ours.id, ours.length) &&
        id[ours.length] == '&') {
      return true;
    }
  }
  return false;
}

bool IsOurs(const std::vector<NotedDevice>& ours, DWORD device) {
  for (const NotedDevice& noted : ours) {
    if (noted.device == device) return true;
  }
  return false;
}

}  // namespace

bool SetupApiMissing(const CapturedMachine& machine) {
  static const char* const kCalled[] = {"SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo",
                                        "SetupDiGetDeviceRegistryPropertyW", "SetupDiGetDeviceInstanceIdW"};
  if (!machine.setupApiLoaded) return true;
  for (const char* missing : machine.missingEntryPoints) {
    for (const char* called : kCalled) {
      if (std::strcmp(missing, called) == 0) return true;
    }
  }
  return false;
}

bool IsUaspService(const CapturedText& serviceName) {
  CapturedText name(serviceName);
  name.push_back(0);
  return TextEqualNoCase(name.data(), WSTR("UASPStor"));
}

// "<digits>&<hash>&<digits>&<digits>": the depth, a hash of the parent (hex
// digits; any letters in a capture, whose stand-ins keep only the shape), a
// unique flag and the port.
bool IsGeneratedInstanceTail(const CapturedText& tail) {
  std::size_t at = 0;
  for (int field = 0; field < 4; ++field) {
    const std::size_t begin = at;
    while (at < tail.size() && (field == 1 ? IsAlphanumeric(tail[at]) : IsDigit(tail[at]))) ++at;
    if (at == begin) return false;
    if (field < 3 && (at == tail.size() || tail[at++] != '&')) return false;
  }
  return at == tail.size();
}

std::vector<WCHAR> LettersNotInUseHolding(const CapturedMachine& machine, const CapturedText& key) {
  std::vector<WCHAR> letters;
  for (const CapturedValue& value : machine.mountTable) {
    const WCHAR letter = LetterOf(value);
    if (letter != 0 && !InUse(machine, letter) && RecordHolds(value, key)) letters.push_back(letter);
  }
  return letters;
}

CapturedText VolumePathHolding(const CapturedMachine& machine, const CapturedText& key) {
  for (const CapturedValue& value : machine.mountTable) {
    if (!StartsWith(value.name, WSTR("\\??\\Volume{")) || !RecordHolds(value, key)) continue;
    CapturedText path(value.name);
    path[1] = '\\';
    path.push_back('\\');
    return path;
  }
  return {};
}

std::vector<WCHAR> FixedMediaLetters(const CapturedMachine& machine) {
  std::vector<WCHAR> letters;
  for (const CapturedValue& value : machine.mountTable) {
    const WCHAR letter = LetterOf(value);
    if (letter != 0 && InUse(machine, letter) && IsBinaryRecord(value.data)) letters.push_back(letter);
  }
  return letters;
}

const char* MissingDescriptorReason(const NotedProbe& probe) {
  switch (probe.error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return probe.hiddenRoot ? "hidden-root-without-descriptor" : "no-descriptor";
    case ERROR_NOT_READY:
    case ERROR_NO_MEDIA_IN_DRIVE:
      return "no-medium";
    default:
      return "volume-unreadable";
  }
}

std::vector<NearMissFact> NearMisses(const CapturedMachine& machine, const std::vector<NotedDevice>& ours) {
  std::vector<NearMissFact> misses;
  for (DWORD device = 0; device < machine.devices.size(); ++device) {
    const CapturedProperty& ids = machine.devices[device].hardwareIds;
    if (!ids.read || ids.error != ERROR_SUCCESS || IsOurs(ours, device)) continue;
    for (const CapturedText& id : IdsOf(ids.bytes)) {
      if (NamesOursWithMore(id)) {
        misses.push_back(NearMissFact{device, id});
        break;
      }
    }
  }
  return misses;
}
