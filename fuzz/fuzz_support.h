// Helpers shared by the fuzz targets: splitting an input into parts and
// stopping at the first broken property with a message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/sim.h"

// A finding: the property that does not hold, then abort for libFuzzer.
[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "finding: %s\n", what.c_str());
  std::abort();
}

inline void Require(bool holds, const std::string& what) {
  if (!holds) Finding(what);
}

// Releases what a run left in the sim, so that libFuzzer sees every
// allocation of the run freed and does not go looking for a leak.
inline void ReleaseSim() { SimInstall(SimulatedMachine{}); }

// The input's parts between occurrences of "\n--\n", at most limit parts
// (the last one keeps the rest).
inline std::vector<SimBytes> SplitInput(const std::uint8_t* data, std::size_t size, std::size_t limit) {
  static const std::string kSeparator = "\n--\n";
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<SimBytes> parts;
  std::size_t start = 0;
  while (parts.size() + 1 < limit) {
    const std::size_t at = text.find(kSeparator, start);
    if (at == std::string::npos) break;
    parts.emplace_back(data + start, data + at);
    start = at + kSeparator.size();
  }
  parts.emplace_back(data + start, data + size);
  return parts;
}

// Little-endian UTF-16 code units of bytes; an odd last byte is the low
// half of a unit whose high half is zero.
inline std::u16string Utf16Units(const SimBytes& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const unsigned high = i + 1 < bytes.size() ? bytes[i + 1] : 0u;
    units += static_cast<char16_t>(bytes[i] | high << 8);
  }
  return units;
}

inline SimBytes Utf16Bytes(const std::u16string& text, bool terminated) {
  SimBytes bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}
