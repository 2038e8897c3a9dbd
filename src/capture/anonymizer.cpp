#include "capture/anonymizer.h"

#include <cstdint>

namespace {

struct Replacement {
  CapturedText original;  // upper-cased
  CapturedText standIn;   // upper-cased; takes each occurrence's letter case
};

WCHAR Upper(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 32) : c; }
bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }

bool StartsWithNoCase(const CapturedText& text, const char* prefix) {
  std::size_t i = 0;
  for (; prefix[i] != 0; ++i) {
    if (i == text.size() || Upper(text[i]) != Upper(static_cast<WCHAR>(prefix[i]))) return false;
  }
  return true;
}

bool Known(const std::vector<Replacement>& replacements, const CapturedText& upper) {
  for (const Replacement& replacement : replacements) {
    if (replacement.original == upper) return true;
  }
  return false;
}

void Add(std::vector<Replacement>& replacements, CapturedText text) {
  if (text.empty()) return;
  for (WCHAR& c : text) c = Upper(c);
  if (!Known(replacements, text)) replacements.push_back(Replacement{text, {}});
}

// The same shape as the original: a digit for each digit, a letter for each
// letter, every other character kept, so lengths and separators stay.
CapturedText StandIn(const CapturedText& original, std::uint32_t& seed, bool digitsOnly) {
  CapturedText standIn = original;
  for (WCHAR& c : standIn) {
    if (!IsLetter(c) && !IsDigit(c)) continue;
    seed = seed * 1103515245u + 12345u;
    const std::uint32_t pick = seed >> 16;
    c = IsDigit(c) || digitsOnly ? static_cast<WCHAR>('0' + pick % 10) : static_cast<WCHAR>('A' + pick % 26);
  }
  return standIn;
}

// Serials first, longest first, so that no shorter one cuts into a longer.
std::vector<Replacement> Replacements(const CapturedMachine& machine) {
  std::vector<Replacement> replacements;
  for (const CapturedDevice& device : machine.devices) {
    if (!StartsWithNoCase(device.instanceId, "USB\\")) continue;
    std::size_t last = device.instanceId.size();
    while (last > 0 && device.instanceId[last - 1] != '\\') --last;
    Add(replacements, CapturedText(device.instanceId.begin() + static_cast<std::ptrdiff_t>(last),
                                   device.instanceId.end()));
  }
  for (const CapturedValue& value : machine.mountTable) {
    if (!StartsWithNoCase(value.name, "\\??\\Volume{")) continue;
    Add(replacements, CapturedText(value.name.begin() + 10, value.name.end()));
  }
  for (const CapturedVolume& volume : machine.volumes) Add(replacements, volume.guid);
  for (std::size_t i = 1; i < replacements.size(); ++i) {  // stable: longest first
    for (std::size_t j = i; j > 0 && replacements[j].original.size() > replacements[j - 1].original.size(); --j) {
      std::swap(replacements[j], replacements[j - 1]);
    }
  }
  std::uint32_t seed = 20261208u;
  for (Replacement& replacement : replacements) {
    const bool guid = replacement.original.front() == '{';
    // A text without letters or digits has no stand-in but itself.
    for (int attempt = 0; attempt < 8; ++attempt) {
      replacement.standIn = StandIn(replacement.original, seed, guid);
      if (!Known(replacements, replacement.standIn)) break;
    }
  }
  return replacements;
}

bool MatchesAt(const CapturedText& text, std::size_t at, const CapturedText& upper) {
  if (text.size() - at < upper.size()) return false;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    if (Upper(text[at + i]) != upper[i]) return false;
  }
  return true;
}

void Scrub(CapturedText& text, const std::vector<Replacement>& replacements, std::size_t from = 0) {
  for (std::size_t at = from; at < text.size();) {
    const Replacement* found = nullptr;
    for (const Replacement& replacement : replacements) {
      if (MatchesAt(text, at, replacement.original)) {
        found = &replacement;
        break;
      }
    }
    if (found == nullptr) {
      ++at;
      continue;
    }
    for (std::size_t i = 0; i < found->standIn.size(); ++i, ++at) {
      const bool lower = text[at] >= 'a' && text[at] <= 'z';
      const WCHAR c = found->standIn[i];
      text[at] = lower && IsLetter(c) ? static_cast<WCHAR>(c + 32) : c;
    }
  }
}

// Data as UTF-16LE text, as the scan reads names, keys and mount records;
// an odd last byte stays as it is.
void ScrubBytes(CapturedBytes& data, const std::vector<Replacement>& replacements) {
  CapturedText text(data.size() / 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<WCHAR>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  Scrub(text, replacements);
  for (std::size_t i = 0; i < text.size(); ++i) {
    data[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    data[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
}

// Only the instance ID's last component: the bus and the device part name
// hardware, and a short serial could otherwise cut into them.
void ScrubInstanceId(CapturedText& id, const std::vector<Replacement>& replacements) {
  std::size_t last = id.size();
  while (last > 0 && id[last - 1] != '\\') --last;
  Scrub(id, replacements, last);
}

}  // namespace

void Anonymize(CapturedMachine& machine) {
  const std::vector<Replacement> replacements = Replacements(machine);
  for (CapturedDevice& device : machine.devices) {
    ScrubInstanceId(device.instanceId, replacements);
    ScrubBytes(device.prefix, replacements);
  }
  for (CapturedValue& value : machine.mountTable) {
    Scrub(value.name, replacements);
    ScrubBytes(value.data, replacements);
  }
  for (CapturedVolume& volume : machine.volumes) {
    Scrub(volume.guid, replacements);
    for (CapturedPath& path : volume.paths) {
      path.contentKept = false;
      path.content.clear();
    }
  }
}
