// The descriptor reader on arbitrary file bytes and tag names, the file
// also standing as a directory, on a volume without a medium, missing, or
// reporting another size than it holds. The length must be what a literal
// tag search defines, the value copied only when it fits, with no control
// characters and nothing written past it. Input: outer tag, inner tag, then
// a mode byte and the file bytes, in three parts.
#include <algorithm>

#include "fuzz_support.h"
#include "platform/sim/sim.h"
#include "platform/text.h"
#include "scan_checks.h"
#include "volumes/device_xml_reader.h"

namespace {

const WCHAR kPath[] = u"\\\\?\\Volume{f0000000-0000-0000-0000-000000000001}\\device.xml";
constexpr WCHAR kUntouched = 0xAAAA;

std::string Text(const SimBytes& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  return text.substr(0, text.find('\0'));
}

// The value's bytes: between the first inner opening tag inside the first
// outer element and the inner closing tag, or the outer closing tag, or the
// end of the text, whichever comes first.
std::string ExpectedValue(const std::string& content, const std::string& outer, const std::string& inner) {
  if (outer.size() > 252 || inner.size() > 252) return "";  // the tags do not fit 256 bytes
  const std::string text = content.substr(0, content.find('\0'));
  const std::size_t outerAt = text.find("<" + outer + ">");
  if (outerAt == std::string::npos) return "";
  std::size_t cursor = outerAt + outer.size() + 2;
  const std::size_t outerEnd = std::min(text.find("</" + outer + ">", cursor), text.size());
  const std::size_t innerAt = text.find("<" + inner + ">", cursor);
  if (innerAt == std::string::npos || innerAt + inner.size() + 2 > outerEnd) return "";
  cursor = innerAt + inner.size() + 2;
  std::size_t end = text.find("</" + inner + ">", cursor);
  if (end == std::string::npos || end + inner.size() + 3 > outerEnd) end = outerEnd;
  return text.substr(cursor, end - cursor);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<SimBytes> parts = SplitInput(data, size, 3);
  if (parts.size() < 3 || parts[2].empty()) return 0;
  const std::string outer = Text(parts[0]), inner = Text(parts[1]);
  const BYTE mode = parts[2][0] % 6;
  SimFile file;
  file.bytes.assign(parts[2].begin() + 1, parts[2].end());
  if (mode == 4) file.reportedSize = file.bytes.size() + 7;
  if (mode == 5) file.reportedSize = 0x100000000u + file.bytes.size();
  file.directory = mode == 1;
  SimVolume volume;
  volume.guid = u"{F0000000-0000-0000-0000-000000000001}";
  if (mode == 2) volume.medium = SimMedium::NoMedium;
  if (mode != 3) volume.entries[u"device.xml"] = file;
  SimulatedMachine machine;
  machine.volumes.push_back(volume);
  SimInstall(machine);

  const bool readable = mode == 0 || mode == 4 || mode == 5;
  const std::string expected = readable ? ExpectedValue(Text(file.bytes), outer, inner) : "";
  WCHAR dst[1024];
  std::fill(std::begin(dst), std::end(dst), kUntouched);
  const int length = ReadDeviceXmlValue(dst, 1024, kPath, outer.c_str(), inner.c_str());
  // A value beyond the 255 characters the reader holds is either dropped or cut.
  // A file of 4 GiB or more may count as holding no value.
  if (mode == 5 && length == 0) {
  } else if (expected.size() <= 255) {
    Require(length == static_cast<int>(expected.size()), "length " + std::to_string(length) + ", expected " +
                                                              std::to_string(expected.size()));
  } else {
    Require(length == 0 || length == 255, "over-long value gave length " + std::to_string(length));
  }
  Require(TextLength(dst) == static_cast<DWORD>(length), "dst does not hold the length");
  Require(std::all_of(dst + length + 1, std::end(dst), [](WCHAR c) { return c == kUntouched; }),
          "written past the value");
  for (int i = 0; i < length; ++i) {
    Require(dst[i] >= 32, "control character in dst");
    const unsigned char byte = static_cast<unsigned char>(expected[static_cast<std::size_t>(i)]);
    if (byte < 128) Require(dst[i] == (byte < 32 ? u' ' : byte), "wrong character in dst");
  }
  Require(ReadDeviceXmlValue(nullptr, 0, kPath, outer.c_str(), inner.c_str()) == length,
          "another length without dst");
  if (length > 0) {
    std::fill(std::begin(dst), std::end(dst), kUntouched);
    Require(ReadDeviceXmlValue(dst, static_cast<DWORD>(length), kPath, outer.c_str(), inner.c_str()) == length,
            "another length with a small dst");
    Require(std::all_of(std::begin(dst), std::end(dst), [](WCHAR c) { return c == kUntouched; }),
            "a dst too small was written");
  }
  const std::string problem = PlatformProblem();
  Require(problem.empty(), problem);
  ReleaseSim();
  return 0;
}
