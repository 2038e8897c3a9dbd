// Drive-letter mapping on a mount table of arbitrary value names, types
// and bytes, for candidates with arbitrary match keys. Every letter given
// must be in use, given once, and name a record holding the entry's key;
// every volume path must come from a volume-name value whose record holds
// it. Input parts: the drive letters in use; the keys (8-bit, "," between
// keys, ";" between candidates); then one part per value: a type byte, the
// name (8-bit, up to a zero byte) and the data bytes.
#include <algorithm>

#include "fuzz_support.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "scan_checks.h"
#include "test_support.h"

namespace {

std::u16string Widen(SimBytes::const_iterator begin, SimBytes::const_iterator end) {
  return std::u16string(begin, end);
}

std::u16string Upper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char16_t>(c - 'a' + 'A');
  }
  return text;
}

// A value's data as the mapping reads it: UTF-16 text of at most 1024
// bytes, ending at its first zero, upper-cased; none when it is longer.
std::optional<std::u16string> Record(const SimValue& value) {
  if (value.data.size() > 1024) return std::nullopt;
  const std::u16string units = Utf16Units(SimBytes(value.data.begin(), value.data.end() - static_cast<long>(value.data.size() % 2)));
  return Upper(units.substr(0, units.find(u'\0')));
}

bool RecordHolds(const SimValue& value, const std::u16string& key) {
  const std::optional<std::u16string> record = Record(value);
  return record && record->find(Upper(key)) != std::u16string::npos;
}

bool IsLetterValue(const std::u16string& name) {
  return name.size() >= 12 && SimEqualNoCase(name.substr(0, 12), u"\\DosDevices\\");
}

std::vector<CandidateDevice> Candidates(const SimBytes& keys) {
  std::vector<CandidateDevice> candidates(1);
  VolumeEntry entry{};
  std::u16string key;
  for (std::size_t i = 0; i <= keys.size(); ++i) {
    const BYTE c = i < keys.size() ? keys[i] : ';';
    if (c != ',' && c != ';') {
      key += c;
      continue;
    }
    std::copy_n(key.begin(), std::min<std::size_t>(key.size(), 255), entry.matchKey);
    entry.matchKey[std::min<std::size_t>(key.size(), 255)] = 0;
    candidates.back().volumes.push_back(entry);
    key.clear();
    if (c == ';' && i < keys.size()) candidates.emplace_back();
  }
  return candidates;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<SimBytes> parts = SplitInput(data, size, 40);
  if (parts.size() < 2) return 0;
  SimulatedMachine machine;
  for (BYTE c : parts[0]) {
    if (c >= 'A' && c <= 'Z') machine.driveMask |= 1u << (c - 'A');
    if (c >= 'a' && c <= 'z') machine.driveMask |= 1u << (c - 'a');
  }
  SimKey mountKey{u"SYSTEM\\MountedDevices", {}};
  for (std::size_t i = 2; i < parts.size(); ++i) {
    if (parts[i].empty()) continue;
    const auto nameEnd = std::find(parts[i].begin() + 1, parts[i].end(), 0);
    SimValue value{Widen(parts[i].begin() + 1, nameEnd), parts[i][0], {}};
    if (nameEnd != parts[i].end()) value.data.assign(nameEnd + 1, parts[i].end());
    mountKey.values.push_back(value);
  }
  machine.registry.push_back(mountKey);
  SimInstall(machine);

  std::vector<CandidateDevice> candidates = Candidates(parts[1]);
  const std::vector<CandidateDevice> before = candidates;
  DeviceInventory inventory;
  HKEY key = nullptr;
  Require(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\MountedDevices", 0, KEY_READ, &key) == ERROR_SUCCESS,
          "mount key not opened");
  InventoryTestAccess::MapDriveLetters(inventory, key, candidates);
  RegCloseKey(key);

  DWORD lettersGiven = 0;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    Require(candidates[c].volumes.size() == before[c].volumes.size(), "entries added or removed");
    for (std::size_t v = 0; v < candidates[c].volumes.size(); ++v) {
      const VolumeEntry& entry = candidates[c].volumes[v];
      const std::u16string original = before[c].volumes[v].matchKey;
      Require(std::find(entry.matchKey, entry.matchKey + 256, 0) != entry.matchKey + 256, "key not terminated");
      Require(Upper(entry.matchKey) == Upper(original), "key changed beyond its case");
      if (entry.root[0] == 0) {
        Require(entry.volumePath[0] == 0, "volume path without a root");
        continue;
      }
      const WCHAR letter = entry.root[0];
      Require(letter >= 'A' && letter <= 'Z' && std::u16string(entry.root) == std::u16string(1, letter) + u":\\",
              "malformed root");
      const DWORD bit = 1u << (letter - 'A');
      Require((machine.driveMask & bit) != 0, "letter not in use");
      Require((lettersGiven & bit) == 0, "letter given twice");
      lettersGiven |= bit;
      const std::u16string letterValue = u"\\DosDevices\\" + std::u16string(1, letter) + u":";
      const auto letterRecord = std::find_if(mountKey.values.begin(), mountKey.values.end(),
                                             [&](const SimValue& v) { return SimEqualNoCase(v.name, letterValue); });
      Require(letterRecord != mountKey.values.end() && RecordHolds(*letterRecord, original),
              "letter whose record lacks the key");
      if (entry.volumePath[0] == 0) continue;
      const std::u16string path = entry.volumePath;
      const bool named = std::any_of(mountKey.values.begin(), mountKey.values.end(), [&](const SimValue& v) {
        std::u16string expected = v.name + u"\\";
        if (expected.size() >= 2) expected[1] = u'\\';
        return !IsLetterValue(v.name) && v.name.size() <= 255 && expected == path && RecordHolds(v, original);
      });
      Require(named, "volume path of no volume-name value holding the key");
    }
  }
  const std::string problem = PlatformProblem();
  Require(problem.empty(), problem);
  ReleaseSim();
  return 0;
}
