#include "capture/anonymizer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

struct Replacement {
  CapturedText original;  // upper-cased
  CapturedText standIn;   // upper-cased; takes each occurrence's letter case
};

WCHAR Upper(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 32) : c; }
bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }

bool StartsWithNoCase(const CapturedText& text, const char* prefix, std::size_t at = 0) {
  for (std::size_t i = 0; prefix[i] != 0; ++i) {
    if (at + i >= text.size() || Upper(text[at + i]) != Upper(static_cast<WCHAR>(prefix[i]))) return false;
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

const char kDigits[] = "0123456789";
const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const char kHexDigits[] = "0123456789ABCDEF";

// The symbols a character is replaced among; null for one that is kept.
const char* SymbolsOf(WCHAR c, bool hex) {
  if (hex) return IsDigit(c) || (c >= 'A' && c <= 'F') ? kHexDigits : nullptr;
  return IsDigit(c) ? kDigits : IsLetter(c) ? kLetters : nullptr;
}

std::uint32_t Next(std::uint32_t& seed) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 16;
}

// count distinct symbols, ascending, drawn at random.
std::vector<WCHAR> Draw(const char* symbols, std::size_t count, std::uint32_t& seed) {
  std::vector<WCHAR> drawn;
  const std::size_t total = std::strlen(symbols);
  for (std::size_t i = 0; i < total && drawn.size() < count; ++i) {
    if (Next(seed) % (total - i) < count - drawn.size()) drawn.push_back(static_cast<WCHAR>(symbols[i]));
  }
  return drawn;
}

// Registries list keys sorted by name with letters folded to lower case.
WCHAR SortKey(WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c; }

bool SortsBefore(const Replacement* left, const Replacement* right) {
  const CapturedText& a = left->original;
  const CapturedText& b = right->original;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return SortKey(a[i]) < SortKey(b[i]);
  }
  return a.size() < b.size();
}

// Gives the sorted items [begin, end), which share their first depth
// characters, their stand-in characters from depth on: the distinct
// characters at depth map to symbols of the same kind drawn at random, in
// the same order, so stand-ins sort as their originals do.
void AssignFrom(const std::vector<Replacement*>& items, std::size_t begin, std::size_t end, std::size_t depth,
                bool hex, std::uint32_t& seed) {
  while (begin < end && items[begin]->original.size() == depth) ++begin;  // ended here
  if (begin == end) return;
  std::vector<WCHAR> distinct;
  for (std::size_t i = begin; i < end; ++i) {
    const WCHAR c = items[i]->original[depth];
    if (distinct.empty() || distinct.back() != c) distinct.push_back(c);
  }
  std::vector<WCHAR> mapped = distinct;
  for (const char* symbols : {kDigits, kLetters, kHexDigits}) {
    std::vector<std::size_t> ofKind;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
      if (SymbolsOf(distinct[i], hex) == symbols) ofKind.push_back(i);
    }
    const std::vector<WCHAR> drawn = Draw(symbols, ofKind.size(), seed);
    for (std::size_t i = 0; i < ofKind.size(); ++i) mapped[ofKind[i]] = drawn[i];
  }
  std::size_t run = begin;
  for (std::size_t at = 0; at < distinct.size(); ++at) {
    std::size_t stop = run;
    for (; stop < end && items[stop]->original[depth] == distinct[at]; ++stop) {
      items[stop]->standIn[depth] = mapped[at];
    }
    AssignFrom(items, run, stop, depth + 1, hex, seed);
    run = stop;
  }
}

// A stand-in has its original's shape (a digit for a digit, a letter for a
// letter, a hex digit within a GUID, every other character kept), and
// stand-ins sort as their originals do, so that a replay lists devices and
// values in the same order where the system sorts them.
void AssignStandIns(std::vector<Replacement>& replacements, std::size_t begin, std::size_t end, bool hex) {
  std::vector<Replacement*> items;
  for (std::size_t i = begin; i < end; ++i) items.push_back(&replacements[i]);
  std::sort(items.begin(), items.end(), SortsBefore);
  std::uint32_t seed = 20261208u;
  for (int attempt = 0; attempt < 8; ++attempt) {
    for (Replacement* item : items) item->standIn = item->original;
    AssignFrom(items, 0, items.size(), 0, hex, seed);
    bool clash = false;
    for (const Replacement* item : items) clash = clash || Known(replacements, item->standIn);
    if (!clash) return;
  }
}

CapturedText TextOf(const CapturedBytes& data) {
  CapturedText text(data.size() / 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<WCHAR>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

std::size_t Find(const CapturedText& text, WCHAR c, std::size_t from) {
  while (from < text.size() && text[from] != c) ++from;
  return from;
}

// A stick's mount record names its disk, "USBSTOR#<device>#<serial>&<lun>#",
// and the table keeps the records of sticks long gone, whose serials no
// listed device shows. One of fewer than four characters occurs by chance
// in any text (a LUN, a revision), so replacing it everywhere would garble
// records it has nothing to do with; it is left.
void AddRecordSerials(std::vector<Replacement>& replacements, const CapturedBytes& data) {
  const std::size_t kShortest = 4;
  const CapturedText text = TextOf(data);
  static const char kMarker[] = "USBSTOR#";
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!StartsWithNoCase(text, kMarker, at)) continue;
    const std::size_t begin = Find(text, '#', at + sizeof kMarker - 1) + 1;
    const std::size_t end = Find(text, '#', begin);
    if (end >= text.size()) return;
    std::size_t serialEnd = end;
    while (serialEnd > begin && text[serialEnd - 1] != '&') --serialEnd;
    serialEnd = serialEnd > begin ? serialEnd - 1 : end;  // the LUN suffix is not part of it
    if (serialEnd - begin >= kShortest) {
      Add(replacements, CapturedText(text.begin() + static_cast<std::ptrdiff_t>(begin),
                                     text.begin() + static_cast<std::ptrdiff_t>(serialEnd)));
    }
    at = end;
  }
}

// Serials first, then volume GUIDs; longest first, so that no shorter one
// cuts into a longer.
std::vector<Replacement> Replacements(const CapturedMachine& machine) {
  std::vector<Replacement> replacements;
  for (const CapturedDevice& device : machine.devices) {
    if (!StartsWithNoCase(device.instanceId, "USB\\")) continue;
    std::size_t last = device.instanceId.size();
    while (last > 0 && device.instanceId[last - 1] != '\\') --last;
    Add(replacements, CapturedText(device.instanceId.begin() + static_cast<std::ptrdiff_t>(last),
                                   device.instanceId.end()));
  }
  for (const CapturedValue& value : machine.mountTable) AddRecordSerials(replacements, value.data);
  const std::size_t serials = replacements.size();
  for (const CapturedValue& value : machine.mountTable) {
    if (!StartsWithNoCase(value.name, "\\??\\Volume{")) continue;
    std::size_t close = 10;
    while (close < value.name.size() && value.name[close] != '}') ++close;
    if (close == value.name.size()) continue;
    Add(replacements, CapturedText(value.name.begin() + 10, value.name.begin() + static_cast<std::ptrdiff_t>(close) + 1));
  }
  for (const CapturedVolume& volume : machine.volumes) Add(replacements, volume.guid);
  AssignStandIns(replacements, 0, serials, false);
  AssignStandIns(replacements, serials, replacements.size(), true);
  for (std::size_t i = 1; i < replacements.size(); ++i) {  // stable, and without a temporary buffer
    for (std::size_t j = i; j > 0 && replacements[j].original.size() > replacements[j - 1].original.size(); --j) {
      std::swap(replacements[j], replacements[j - 1]);
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
    // A letter where the occurrence had none (a hex digit in a GUID)
    // takes the case of the occurrence's other letters.
    bool anyLower = false;
    bool anyUpper = false;
    for (std::size_t i = 0; i < found->standIn.size(); ++i) {
      anyLower = anyLower || (text[at + i] >= 'a' && text[at + i] <= 'z');
      anyUpper = anyUpper || (text[at + i] >= 'A' && text[at + i] <= 'Z');
    }
    for (std::size_t i = 0; i < found->standIn.size(); ++i, ++at) {
      const bool lower = IsLetter(text[at]) ? text[at] >= 'a' : anyLower && !anyUpper;
      const WCHAR c = found->standIn[i];
      text[at] = lower && IsLetter(c) ? static_cast<WCHAR>(c + 32) : c;
    }
  }
}

// Data as UTF-16LE text, as the scan reads names, keys and mount records;
// an odd last byte stays as it is.
void ScrubBytes(CapturedBytes& data, const std::vector<Replacement>& replacements) {
  CapturedText text = TextOf(data);
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
