// An arbitrary capture, written by the capture's writer and read back by the
// machine-file reader, is the same machine: every byte, name and failure
// survives, whatever the system returned (control characters, lone
// surrogates, odd byte counts, duplicate names). So is the same capture
// anonymized, which keeps every count, type and size the scan meets, and
// gives the same stand-ins each time.
#include <string>

#include "capture/anonymizer.h"
#include "capture/machine_writer.h"
#include "capture_support.h"
#include "fuzz_support.h"
#include "platform/sim/machine_file.h"

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Flag() { return (Byte() & 1) != 0; }
  std::size_t Count(std::size_t limit) { return Byte() % (limit + 1); }

  DWORD Number() {
    DWORD number = 0;
    for (int i = 0; i < 4; ++i) number = number << 8 | Byte();
    return number;
  }

  // Small numbers mostly, the interesting error codes among them.
  DWORD Code() {
    static const DWORD kCodes[] = {ERROR_SUCCESS, ERROR_INVALID_DATA, ERROR_ACCESS_DENIED,
                                   ERROR_INSUFFICIENT_BUFFER, ERROR_NOT_READY};
    const std::uint8_t pick = Byte();
    return pick < 200 ? kCodes[pick % 5] : Number();
  }

  CapturedBytes Bytes(std::size_t limit) {
    CapturedBytes bytes(Count(limit));
    for (BYTE& b : bytes) b = Byte();
    return bytes;
  }

  // Text drawn from characters that stress the writer: quotes, controls,
  // both halves of surrogate pairs, letters beyond ASCII; and those that
  // the anonymizer looks for around GUIDs and paths.
  CapturedText Text(std::size_t limit) {
    static const WCHAR kAwkward[] = {'"', '\\', 0,   1,   '\n', 0x7F, 0xE9, 0xD83D,
                                     0xDE00, 0xDC00, 0xFFFF, 0x2028, '{', '}', '-', '#'};
    CapturedText text(Count(limit));
    for (WCHAR& c : text) {
      const std::uint8_t pick = Byte();
      c = pick < 64 ? kAwkward[pick % 16] : pick < 128 ? static_cast<WCHAR>(Byte() << 8 | Byte())
                                                       : static_cast<WCHAR>('0' + pick % 75);
    }
    return text;
  }

  CapturedProperty Property() {
    CapturedProperty property;
    property.read = Flag();
    property.error = Code();
    if (property.error == ERROR_SUCCESS) property.bytes = Bytes(24);
    return property;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

const char* const kEntryPoints[] = {"SetupDiEnumDeviceInfo", "SetupDiGetClassDevsW", "CM_Request_Device_EjectW"};
const char16_t* const kProbedPaths[] = {u"__TFAT_HIDDEN_ROOT_DIR__", u"device.xml",
                                        u"__TFAT_HIDDEN_ROOT_DIR__\\device.xml"};

CapturedMachine Machine(Input& in) {
  CapturedMachine machine;
  machine.setupApiLoaded = in.Flag();
  for (const char* name : kEntryPoints) {
    if (in.Flag()) machine.missingEntryPoints.push_back(name);
  }
  for (std::size_t n = in.Count(6); n > 0; --n) {
    CapturedDevice device;
    device.instanceId = in.Text(12);
    device.instanceIdError = in.Flag() ? in.Code() : ERROR_SUCCESS;
    device.hardwareIds = in.Property();
    device.service = in.Property();
    device.keyOpened = in.Flag();
    device.keyFound = in.Flag();
    device.prefixFound = in.Flag();
    device.prefixType = in.Flag() ? REG_SZ : in.Number();
    device.prefix = in.Bytes(16);
    machine.devices.push_back(device);
  }
  machine.mountTableFound = in.Flag();
  for (std::size_t n = in.Count(6); n > 0; --n) {
    const DWORD type = in.Flag() ? in.Byte() % 8 : in.Number();
    const CapturedText name = in.Text(10);
    machine.mountTable.push_back(CapturedValue{name, type, in.Bytes(24)});
  }
  machine.driveMask = in.Number();
  machine.versionAsked = in.Flag();
  machine.versionRead = in.Flag();
  machine.version = CapturedVersion{in.Number(), in.Number(), in.Number(), in.Number(), in.Text(8)};
  machine.codePage = in.Number();
  for (std::size_t n = in.Count(3); n > 0; --n) {
    CapturedVolume volume;
    volume.guid = in.Text(8);
    volume.guid.insert(volume.guid.begin(), '{');
    volume.guid.push_back('}');
    for (const char16_t* inside : kProbedPaths) {
      if (!in.Flag()) continue;
      CapturedPath path;
      path.inside = CapturedText(inside, inside + std::char_traits<char16_t>::length(inside));
      path.attributes = in.Flag() ? INVALID_FILE_ATTRIBUTES : in.Number();
      path.error = path.attributes == INVALID_FILE_ATTRIBUTES ? in.Code() : ERROR_SUCCESS;
      path.opened = in.Flag();
      path.read = in.Flag();
      path.contentKept = in.Flag();
      path.content = in.Bytes(32);
      path.valueChars = in.Byte();
      volume.paths.push_back(path);
    }
    machine.volumes.push_back(volume);
  }
  return machine;
}

void CheckReadBack(const CapturedMachine& machine, const CapturedResult& result) {
  CaptureStamp stamp;
  std::vector<char> text;
  WriteMachineFile(machine, result, stamp, text);
  const std::string written(text.begin(), text.end());
  SimulatedMachine read;
  try {
    read = ParseMachine(written, "written");
  } catch (const MachineFileError& error) {
    Finding(std::string("the reader refuses the writer's file: ") + error.what() + "\n" + written);
  }
  const std::string got = DumpMachine(read);
  const std::string wanted = DumpMachine(ExpectedReplay(machine));
  Require(got == wanted, "read back differently:\n" + written + "\nread:\n" + got + "\nwanted:\n" + wanted);
}

// Every count, type and size a replay offers the scan.
std::string Shape(const CapturedMachine& machine) {
  std::string shape;
  for (const CapturedDevice& device : machine.devices) {
    shape += "device " + std::to_string(device.instanceId.size()) + " " +
             std::to_string(device.hardwareIds.bytes.size()) + " " + std::to_string(device.prefixType) + " " +
             std::to_string(device.prefix.size()) + "\n";
  }
  for (const CapturedValue& value : machine.mountTable) {
    shape += "value " + std::to_string(value.name.size()) + " " + std::to_string(value.type) + " " +
             std::to_string(value.data.size()) + "\n";
  }
  for (const CapturedVolume& volume : machine.volumes) shape += "volume " + std::to_string(volume.guid.size()) + "\n";
  return shape;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const CapturedMachine machine = Machine(in);
  CapturedResult result;
  result.exitCode = in.Flag() ? 0 : 1;
  result.stdoutBytes = {'[', '{', '"', ']'};
  CheckReadBack(machine, result);

  const std::vector<CapturedText> usbPrefixes = {in.Text(12), in.Text(12)};
  CapturedMachine anonymized = machine;
  Anonymize(anonymized, usbPrefixes);
  Require(Shape(anonymized) == Shape(machine), "anonymizing changed a size:\n" + Shape(anonymized));
  CapturedMachine again = machine;
  Anonymize(again, usbPrefixes);
  Require(DumpMachine(ExpectedReplay(again)) == DumpMachine(ExpectedReplay(anonymized)),
          "two anonymizations of one capture differ");
  CheckReadBack(anonymized, result);
  return 0;
}
