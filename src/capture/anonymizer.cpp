#include "capture/anonymizer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

struct Replacement {
  CapturedText original;  // upper-cased
  CapturedText standIn;   // upper-cased; takes each occurrence's letter case
  // An address is replaced only where it stands alone, as where it was
  // found, so that it cuts into no longer run of hex digits (an offset).
  bool alone;
};

WCHAR Upper(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 32) : c; }
bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }
bool IsLetterOrDigit(WCHAR c) { return IsLetter(c) || IsDigit(c); }

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
  if (!Known(replacements, text)) replacements.push_back(Replacement{text, {}, false});
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

CapturedText Slice(const CapturedText& text, std::size_t begin, std::size_t end) {
  return CapturedText(text.begin() + static_cast<std::ptrdiff_t>(begin), text.begin() + static_cast<std::ptrdiff_t>(end));
}

std::size_t Find(const CapturedText& text, WCHAR c, std::size_t from) {
  while (from < text.size() && text[from] != c) ++from;
  return from;
}

// Where an instance ID's last component starts: the bus and device parts
// before it name hardware.
std::size_t LastComponent(const CapturedText& id) {
  std::size_t last = id.size();
  while (last > 0 && id[last - 1] != '\\') --last;
  return last;
}

// ---- GUIDs: "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"

const std::size_t kGuidChars = 38;
const std::size_t kGuidBytes = 16;
// The text's hex pair of each of the 16 bytes Windows stores: the first
// three fields little-endian, the last two in their written order.
const unsigned char kPairOfByte[kGuidBytes] = {7, 5, 3, 1, 12, 10, 17, 15, 20, 22, 25, 27, 29, 31, 33, 35};

bool IsHexDigit(WCHAR c) { return IsDigit(c) || (Upper(c) >= 'A' && Upper(c) <= 'F'); }

WCHAR GuidFrame(std::size_t at) {
  return at == 0 ? '{' : at == kGuidChars - 1 ? '}' : (at == 9 || at == 14 || at == 19 || at == 24) ? '-' : 0;
}

bool IsGuidAt(const CapturedText& text, std::size_t at) {
  if (at > text.size() || text.size() - at < kGuidChars) return false;
  for (std::size_t i = 0; i < kGuidChars; ++i) {
    const WCHAR frame = GuidFrame(i);
    if (frame != 0 ? text[at + i] != frame : !IsHexDigit(text[at + i])) return false;
  }
  return true;
}

bool IsGuid(const CapturedText& text) { return text.size() == kGuidChars && IsGuidAt(text, 0); }

void AddGuidsIn(std::vector<CapturedText>& guids, const CapturedText& text) {
  for (std::size_t at = 0; at + kGuidChars <= text.size(); ++at) {
    if (IsGuidAt(text, at)) guids.push_back(Slice(text, at, at + kGuidChars));
  }
}

int HexValue(WCHAR c) { return IsDigit(c) ? c - '0' : Upper(c) - 'A' + 10; }

void GuidBytes(const CapturedText& guid, BYTE* bytes) {
  for (std::size_t i = 0; i < kGuidBytes; ++i) {
    bytes[i] = static_cast<BYTE>(HexValue(guid[kPairOfByte[i]]) << 4 | HexValue(guid[kPairOfByte[i] + 1u]));
  }
}

CapturedText GuidText(const BYTE* bytes) {
  CapturedText text(kGuidChars);
  for (std::size_t i = 0; i < kGuidChars; ++i) text[i] = GuidFrame(i);
  for (std::size_t i = 0; i < kGuidBytes; ++i) {
    text[kPairOfByte[i]] = static_cast<WCHAR>(kHexDigits[bytes[i] >> 4]);
    text[kPairOfByte[i] + 1u] = static_cast<WCHAR>(kHexDigits[bytes[i] & 15]);
  }
  return text;
}

// The interface class that ends a device path, "\??\...#{GUID}" or
// "_??_...#{GUID}", names a kind of device.
void AddInterfaceClass(std::vector<CapturedText>& guids, const CapturedText& path) {
  if (!StartsWithNoCase(path, "\\??\\") && !StartsWithNoCase(path, "_??_")) return;
  std::size_t hash = path.size();
  while (hash > 0 && path[hash - 1] != '#') --hash;
  if (hash > 0 && IsGuidAt(path, hash)) guids.push_back(Slice(path, hash, hash + kGuidChars));
}

// The GUIDs the capture shows naming a kind (see Anonymize).
std::vector<CapturedText> WellKnownGuids(const CapturedMachine& machine) {
  std::vector<CapturedText> guids;
  for (const CapturedDevice& device : machine.devices) {
    const std::size_t last = LastComponent(device.instanceId);
    AddGuidsIn(guids, TextOf(device.hardwareIds.bytes));
    AddGuidsIn(guids, Slice(device.instanceId, 0, last));
    AddInterfaceClass(guids, Slice(device.instanceId, last, device.instanceId.size()));
  }
  for (const CapturedValue& value : machine.mountTable) AddInterfaceClass(guids, TextOf(value.data));
  return guids;
}

bool IsDmioRecord(const CapturedBytes& data) {
  return data.size() >= 8 + kGuidBytes && std::memcmp(data.data(), "DMIO:ID:", 8) == 0;
}

// Every GUID where the machine's own can be: in the last component of
// instance IDs, in the mount table's names and records, and after
// "DMIO:ID:" as bytes.
std::vector<CapturedText> GuidsOfTheMachine(const CapturedMachine& machine) {
  std::vector<CapturedText> guids;
  for (const CapturedDevice& device : machine.devices) {
    AddGuidsIn(guids, Slice(device.instanceId, LastComponent(device.instanceId), device.instanceId.size()));
  }
  for (const CapturedValue& value : machine.mountTable) {
    AddGuidsIn(guids, value.name);
    AddGuidsIn(guids, TextOf(value.data));
    if (IsDmioRecord(value.data)) guids.push_back(GuidText(&value.data[8]));
  }
  for (const CapturedVolume& volume : machine.volumes) AddGuidsIn(guids, volume.guid);
  return guids;
}

// ---- Addresses: MAC addresses and other serials written in hex

// A MAC address has 12 hex digits; shorter runs name kinds too (a class
// code, a subsystem, a revision).
const std::size_t kShortestAddress = 12;

struct Run {
  std::size_t begin;
  std::size_t end;
};

bool StandsAlone(const CapturedText& text, std::size_t begin, std::size_t end) {
  return (begin == 0 || !IsLetterOrDigit(text[begin - 1])) && (end == text.size() || !IsLetterOrDigit(text[end]));
}

// A partition's offset follows its disk's GUID and '#'
// ("STORAGE\VOLUME\{GUID}#0000000000100000"): it is kept, as the mount
// table's binary records keep it.
bool IsOffsetAt(const CapturedText& text, std::size_t at) {
  return at > kGuidChars && text[at - 1] == '#' && IsGuidAt(text, at - 1 - kGuidChars);
}

// Every run of kShortestAddress or more hex digits that stands alone,
// outside GUIDs (which have their own rule) and offsets: no kind is named
// so, while a Bluetooth radio ("SWD\RADIO\BLUETOOTH_<address>"), a paired
// device ("BTHENUM\DEV_<address>", "...&0&<address>_C00000000") or a
// network card's serial (a PCI instance ID's last part) is.
std::vector<Run> AddressRuns(const CapturedText& text) {
  std::vector<Run> runs;
  for (std::size_t at = 0; at < text.size();) {
    if (IsGuidAt(text, at)) {
      at += kGuidChars;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && IsHexDigit(text[end])) ++end;
    if (end - at >= kShortestAddress && StandsAlone(text, at, end) && !IsOffsetAt(text, at)) {
      runs.push_back(Run{at, end});
    }
    at = std::max(end, at + 1);
  }
  return runs;
}

void AddAddressesIn(std::vector<Replacement>& replacements, const CapturedText& text) {
  for (const Run& run : AddressRuns(text)) {
    CapturedText address = Slice(text, run.begin, run.end);
    for (WCHAR& c : address) c = Upper(c);
    if (!Known(replacements, address)) replacements.push_back(Replacement{address, {}, true});
  }
}

// In every part of every instance ID, and in hardware IDs.
void AddAddresses(std::vector<Replacement>& replacements, const CapturedMachine& machine) {
  for (const CapturedDevice& device : machine.devices) {
    AddAddressesIn(replacements, device.instanceId);
    AddAddressesIn(replacements, TextOf(device.hardwareIds.bytes));
  }
}

// ---- Disk signatures: the first 4 bytes of a 12-byte record, whose other
// 8 are the partition's offset, a multiple of 512.

struct Signature {
  BYTE original[4];
  BYTE standIn[4];
};

bool IsSignatureRecord(const CapturedBytes& data) { return data.size() == 12 && data[4] == 0 && (data[5] & 1) == 0; }

bool SameSignature(const BYTE* left, const BYTE* right) { return std::memcmp(left, right, 4) == 0; }

// An original, or a stand-in drawn before the one at drawn.
bool Taken(const std::vector<Signature>& signatures, std::size_t drawn, const BYTE* bytes) {
  for (std::size_t i = 0; i < signatures.size(); ++i) {
    if (SameSignature(signatures[i].original, bytes) || (i < drawn && SameSignature(signatures[i].standIn, bytes))) {
      return true;
    }
  }
  return false;
}

// Each half of a stand-in is zero where the original's is, as the scan
// reads a record as UTF-16 up to its first zero, and otherwise a character
// beyond ASCII and short of the surrogates, in which no key can occur.
void DrawSignature(std::vector<Signature>& signatures, std::size_t at, std::uint32_t& seed) {
  Signature& signature = signatures[at];
  for (int attempt = 0; attempt < 8; ++attempt) {
    for (std::size_t half = 0; half < 4; half += 2) {
      const bool zero = signature.original[half] == 0 && signature.original[half + 1] == 0;
      const std::uint32_t c = zero ? 0 : 0x100u + Next(seed) % (0xD800u - 0x100u);
      signature.standIn[half] = static_cast<BYTE>(c & 0xFF);
      signature.standIn[half + 1] = static_cast<BYTE>(c >> 8);
    }
    if (!Taken(signatures, at, signature.standIn)) return;
  }
}

std::vector<Signature> Signatures(const CapturedMachine& machine) {
  static const BYTE kNone[4] = {0, 0, 0, 0};
  std::vector<Signature> signatures;
  for (const CapturedValue& value : machine.mountTable) {
    if (!IsSignatureRecord(value.data) || SameSignature(value.data.data(), kNone)) continue;
    if (Taken(signatures, 0, value.data.data())) continue;
    Signature signature{};
    std::memcpy(signature.original, value.data.data(), 4);
    signatures.push_back(signature);
  }
  std::uint32_t seed = 20261209u;
  for (std::size_t at = 0; at < signatures.size(); ++at) DrawSignature(signatures, at, seed);
  return signatures;
}

// A signature as the text of its number, as Windows XP writes it into the
// instance ID of the disk's volumes ("...&Signature129D3C8AOffset7E00...").
CapturedText SignatureText(const BYTE* bytes) {
  CapturedText text;
  for (std::size_t i = 4; i > 0; --i) {
    text.push_back(static_cast<WCHAR>(kHexDigits[bytes[i - 1] >> 4]));
    text.push_back(static_cast<WCHAR>(kHexDigits[bytes[i - 1] & 15]));
  }
  return text;
}

void ReplaceSignature(CapturedBytes& data, const std::vector<Signature>& signatures) {
  if (!IsSignatureRecord(data)) return;
  for (const Signature& signature : signatures) {
    if (SameSignature(signature.original, data.data())) {
      std::memcpy(data.data(), signature.standIn, 4);
      return;
    }
  }
}

// ---- Which texts are replaced

// A text of fewer than four characters found only in a value (a record's
// serial, a ParentIdPrefix) occurs by chance in any text (a LUN, a
// revision), so replacing it everywhere would garble records it has
// nothing to do with; it is left.
const std::size_t kShortest = 4;

void AddLongEnough(std::vector<Replacement>& replacements, const CapturedText& text) {
  if (text.size() >= kShortest) Add(replacements, text);
}

// A stick's mount record names its disk, "USBSTOR#<device>#<serial>&<lun>#",
// and the table keeps the records of sticks long gone, whose serials no
// listed device shows.
void AddRecordSerials(std::vector<Replacement>& replacements, const CapturedBytes& data) {
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
    AddLongEnough(replacements, Slice(text, begin, serialEnd));
    at = end;
  }
}

// A ParentIdPrefix as the scan takes it: UTF-16 up to its first zero.
CapturedText PrefixText(const CapturedBytes& data) {
  const CapturedText text = TextOf(data);
  return Slice(text, 0, Find(text, 0, 0));
}

// USB serials and ParentIdPrefix values, which the IDs of the devices under
// them begin with.
void AddInstanceTexts(std::vector<Replacement>& replacements, const CapturedMachine& machine,
                      const std::vector<CapturedText>& usbPrefixes) {
  for (const CapturedDevice& device : machine.devices) {
    if (!StartsWithNoCase(device.instanceId, "USB\\")) continue;
    Add(replacements, Slice(device.instanceId, LastComponent(device.instanceId), device.instanceId.size()));
  }
  for (const CapturedValue& value : machine.mountTable) AddRecordSerials(replacements, value.data);
  for (const CapturedDevice& device : machine.devices) {
    if (device.prefixFound) AddLongEnough(replacements, PrefixText(device.prefix));
  }
  for (const CapturedText& prefix : usbPrefixes) AddLongEnough(replacements, prefix);
}

// Volume names, then every other GUID that is not well known.
void AddMachineGuids(std::vector<Replacement>& replacements, const CapturedMachine& machine,
                     const std::vector<Replacement>& wellKnown) {
  for (const CapturedValue& value : machine.mountTable) {
    if (!StartsWithNoCase(value.name, "\\??\\Volume{")) continue;
    const std::size_t close = Find(value.name, '}', 10);
    if (close < value.name.size()) Add(replacements, Slice(value.name, 10, close + 1));
  }
  for (const CapturedVolume& volume : machine.volumes) Add(replacements, volume.guid);
  for (CapturedText& guid : GuidsOfTheMachine(machine)) {
    for (WCHAR& c : guid) c = Upper(c);
    if (!Known(wellKnown, guid)) Add(replacements, guid);
  }
}

// Serials and prefixes first, then GUIDs and addresses, each group with
// stand-ins of its own shape; then the signatures' texts, and the
// well-known GUIDs, which stand for themselves, so that no shorter text
// cuts into them. Longest first, so that no shorter one cuts into a longer.
std::vector<Replacement> Replacements(const CapturedMachine& machine, const std::vector<CapturedText>& usbPrefixes,
                                      const std::vector<Signature>& signatures) {
  std::vector<Replacement> kept;
  for (const CapturedText& guid : WellKnownGuids(machine)) Add(kept, guid);
  for (Replacement& guid : kept) guid.standIn = guid.original;
  std::vector<Replacement> replacements;
  AddInstanceTexts(replacements, machine, usbPrefixes);
  const std::size_t instanceTexts = replacements.size();
  AddMachineGuids(replacements, machine, kept);
  AddAddresses(replacements, machine);
  const std::size_t replaced = replacements.size();
  for (const Signature& signature : signatures) {
    const Replacement text{SignatureText(signature.original), SignatureText(signature.standIn), false};
    if (!Known(replacements, text.original)) replacements.push_back(text);
  }
  for (const Replacement& guid : kept) {
    if (!Known(replacements, guid.original)) replacements.push_back(guid);
  }
  AssignStandIns(replacements, 0, instanceTexts, false);
  AssignStandIns(replacements, instanceTexts, replaced, true);
  for (std::size_t i = 1; i < replacements.size(); ++i) {  // stable, and without a temporary buffer
    for (std::size_t j = i; j > 0 && replacements[j].original.size() > replacements[j - 1].original.size(); --j) {
      std::swap(replacements[j], replacements[j - 1]);
    }
  }
  return replacements;
}

// ---- Replacing

// How many characters of the original occur at at: all of them, or with
// cutAtEnd the rest of the text when it ends within the original after
// kShortest characters or more; 0 for no occurrence.
std::size_t MatchAt(const CapturedText& text, std::size_t at, const CapturedText& upper, bool cutAtEnd) {
  std::size_t length = upper.size();
  if (text.size() - at < length) {
    if (!cutAtEnd || text.size() - at < kShortest) return 0;
    length = text.size() - at;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (Upper(text[at + i]) != upper[i]) return 0;
  }
  return length;
}

// Writes the first length characters of standIn over the occurrence at at,
// in its letter case. A letter where the occurrence had none (a hex digit
// in a GUID) takes the case of the occurrence's other letters.
void PutStandIn(CapturedText& text, std::size_t at, const CapturedText& standIn, std::size_t length) {
  bool anyLower = false;
  bool anyUpper = false;
  for (std::size_t i = 0; i < length; ++i) {
    anyLower = anyLower || (text[at + i] >= 'a' && text[at + i] <= 'z');
    anyUpper = anyUpper || (text[at + i] >= 'A' && text[at + i] <= 'Z');
  }
  for (std::size_t i = 0; i < length; ++i) {
    const bool lower = IsLetter(text[at + i]) ? text[at + i] >= 'a' : anyLower && !anyUpper;
    const WCHAR c = standIn[i];
    text[at + i] = lower && IsLetter(c) ? static_cast<WCHAR>(c + 32) : c;
  }
}

// How many characters the replacement takes at at; 0 for none.
std::size_t ReplacesAt(const CapturedText& text, std::size_t at, const Replacement& replacement, bool cutAtEnd) {
  const std::size_t length = MatchAt(text, at, replacement.original, cutAtEnd);
  return length != 0 && (!replacement.alone || StandsAlone(text, at, at + length)) ? length : 0;
}

// cutAtEnd: the text may end within an identifier (a key the scan cut to
// its field), whose characters there still get the stand-in's.
void Scrub(CapturedText& text, const std::vector<Replacement>& replacements, std::size_t from = 0,
           bool cutAtEnd = false) {
  for (std::size_t at = from; at < text.size();) {
    const Replacement* found = nullptr;
    std::size_t length = 0;
    for (const Replacement& replacement : replacements) {
      length = ReplacesAt(text, at, replacement, cutAtEnd);
      if (length != 0) {
        found = &replacement;
        break;
      }
    }
    if (found == nullptr) {
      ++at;
      continue;
    }
    PutStandIn(text, at, found->standIn, length);
    at += length;
  }
}

// Only the addresses in text before end: there text names hardware, and a
// short serial could cut into it.
void ScrubAddresses(CapturedText& text, std::size_t end, const std::vector<Replacement>& replacements) {
  for (const Run& run : AddressRuns(Slice(text, 0, end))) {
    CapturedText found = Slice(text, run.begin, run.end);
    for (WCHAR& c : found) c = Upper(c);
    for (const Replacement& replacement : replacements) {
      if (replacement.original == found) {
        PutStandIn(text, run.begin, replacement.standIn, replacement.standIn.size());
        break;
      }
    }
  }
}

void SetText(CapturedBytes& data, const CapturedText& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    data[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    data[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
}

// Data as UTF-16LE text, as the scan reads names, keys and mount records;
// an odd last byte stays as it is.
void ScrubBytes(CapturedBytes& data, const std::vector<Replacement>& replacements) {
  CapturedText text = TextOf(data);
  Scrub(text, replacements);
  SetText(data, text);
}

// Hardware IDs name kinds: only the addresses in them are replaced.
void ScrubHardwareIds(CapturedBytes& data, const std::vector<Replacement>& replacements) {
  CapturedText text = TextOf(data);
  ScrubAddresses(text, text.size(), replacements);
  SetText(data, text);
}

// A GUID's 16 bytes, wherever a binary record holds them.
void ScrubGuidBytes(CapturedBytes& data, const std::vector<Replacement>& replacements) {
  for (const Replacement& replacement : replacements) {
    if (data.size() < kGuidBytes || !IsGuid(replacement.original)) continue;
    BYTE original[kGuidBytes];
    BYTE standIn[kGuidBytes];
    GuidBytes(replacement.original, original);
    GuidBytes(replacement.standIn, standIn);
    for (std::size_t at = 0; at + kGuidBytes <= data.size(); ++at) {
      if (std::memcmp(&data[at], original, kGuidBytes) == 0) std::memcpy(&data[at], standIn, kGuidBytes);
    }
  }
}

// The last component whole; in the bus and device parts, which name
// hardware, only addresses ("BTHENUM\DEV_<address>").
void ScrubInstanceId(CapturedText& id, const std::vector<Replacement>& replacements) {
  const std::size_t last = LastComponent(id);
  ScrubAddresses(id, last, replacements);
  Scrub(id, replacements, last);
}

}  // namespace

void Anonymize(CapturedMachine& machine, const std::vector<CapturedText>& usbPrefixes, const OtherTexts& others) {
  const std::vector<Signature> signatures = Signatures(machine);
  const std::vector<Replacement> replacements = Replacements(machine, usbPrefixes, signatures);
  for (CapturedDevice& device : machine.devices) {
    ScrubInstanceId(device.instanceId, replacements);
    ScrubHardwareIds(device.hardwareIds.bytes, replacements);
    ScrubBytes(device.prefix, replacements);
  }
  for (CapturedValue& value : machine.mountTable) {
    Scrub(value.name, replacements);
    ScrubBytes(value.data, replacements);
    ScrubGuidBytes(value.data, replacements);
    ReplaceSignature(value.data, signatures);
  }
  for (CapturedText* text : others.texts) Scrub(*text, replacements, 0, true);
  for (CapturedText* id : others.instanceIds) ScrubInstanceId(*id, replacements);
  for (CapturedText* id : others.hardwareIds) ScrubAddresses(*id, id->size(), replacements);
  for (CapturedVolume& volume : machine.volumes) {
    Scrub(volume.guid, replacements);
    for (CapturedPath& path : volume.paths) {
      path.contentKept = false;
      path.content.clear();
    }
  }
}
