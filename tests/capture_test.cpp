// The field capture over the sim: a capture replays to the command's own
// result, a capture of the replay is the same file, anonymized captures
// keep the result (that they lose the identifying text, tests/hive and
// tests/wine/round-trip check, from one table), and the writer says
// exactly what was read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>

#include "capture/anonymizer.h"
#include "capture/capture_run.h"
#include "capture/machine_writer.h"
#include "capture/reason_codes.h"
#include "capture/recording.h"
#include "capture_support.h"
#include "platform/sim/machine_file.h"
#include "test_support.h"

namespace {

std::string Written(const CapturedMachine& machine, const CapturedResult& result) {
  CaptureStamp stamp;
  stamp.version = "test";
  std::vector<char> text;
  WriteMachineFile(machine, result, stamp, text);
  return std::string(text.begin(), text.end());
}

std::string CapturePath() { return DEVDRIVES_CAPTURE; }

// Machines a capture can be taken of in process: no injected faults, and
// the Setup API whole (the binding resolved it once, at start-up).
bool Capturable(const SimulatedMachine& machine) {
  return machine.faults.empty() && machine.setupApiPresent && machine.missingEntryPoints.empty() &&
         machine.callLimit == 0;
}

// Each device as the Setup API lists it: the ID in the upper case the
// system gives it, or the failure of its read.
std::vector<std::u16string> ListedIds(const SimulatedMachine& machine) {
  std::vector<std::u16string> ids;
  for (const SimDevice& device : machine.devices) {
    std::u16string id = device.instanceId;
    for (char16_t& c : id) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    const std::u16string failed = u"error " + SimFromUtf8(std::to_string(device.instanceIdError));
    ids.push_back(device.instanceIdError != ERROR_SUCCESS ? failed : id);
  }
  return ids;
}

struct Case {
  std::string name;
  std::string text;  // the machine file
  std::string kept = "";  // what the capture must hold, though the scan read less of it
};

void PrintTo(const Case& source, std::ostream* out) { *out << source.name; }

std::vector<Case> MachineFiles() {
  std::vector<Case> cases;
  for (const auto& entry : std::filesystem::directory_iterator(MACHINES_DIR)) {
    cases.push_back({entry.path().stem().string(), ReadWholeFile(entry.path().string()), ""});
  }
  std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
  return cases;
}

const std::string kMount = R"("SYSTEM\\MountedDevices": {
      "\\DosDevices\\H:": {"type": "REG_BINARY", "text": "_??_USBSTOR#Disk#SER1&0#"},
      "\\DosDevices\\I:": {"type": "REG_BINARY", "text": "_??_USBSTOR#Disk#SER1&1#"},
      "\\??\\Volume{aaaaaaaa-0000-0000-0000-000000000001}": {"type": "REG_BINARY", "text": "_??_USBSTOR#Disk#SER1&0#"},
      "\\??\\Volume{aaaaaaaa-0000-0000-0000-000000000002}": {"type": "REG_BINARY", "text": "_??_USBSTOR#Disk#SER1&1#"}})";

std::string DeviceMachine(const std::string& service, const std::string& mainFile, const std::string& more = "") {
  return R"({"drives": "CHI", "devices": [
    {"instanceId": "USB\\VID_045E&PID_FFFF\\SER1", "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": ")" +
         service + R"("},
    {"instanceId": "USBSTOR\\DISK\\SER1&0"}, {"instanceId": "USBSTOR\\DISK\\SER1&1"}],
  "registry": {)" + kMount + R"(},
  "volumes": [{"guid": "{aaaaaaaa-0000-0000-0000-000000000001}", "files": {"device.xml": )" + mainFile + R"(}},
              {"guid": "{aaaaaaaa-0000-0000-0000-000000000002}")" + more + "}]}";
}

// Machines that show what a real one can: data larger than the scan's
// buffers, descriptors beyond the kept size, failures of every kind.
std::vector<Case> AwkwardMachines() {
  const std::string longText(300, 'L');
  const std::string bigDescriptor = "\"<hardware><type>big</type></hardware>" + std::string(70000, ' ') + "\"";
  const std::string keptValue = "<hardware><type>kept</type></hardware>";
  const std::string keptDescriptor = "\"" + keptValue + std::string(kLargestKeptDescriptor - keptValue.size(), ' ') + "\"";
  return {
      {"service_longer_than_the_scan_reads", DeviceMachine(longText, "\"<hardware><type>m</type></hardware>\""),
       "\"service\": \"" + longText + "\""},
      {"descriptor_beyond_the_kept_size", DeviceMachine("USBSTOR", bigDescriptor)},
      {"value_too_long_to_convert",
       DeviceMachine("USBSTOR", "\"<hardware><type>" + std::string(300, 'v') + "</type></hardware>\"")},
      {"descriptor_with_bytes_beyond_ascii", DeviceMachine("USBSTOR", "{\"hex\": \"3c68617264776172653e3c747970653ee93c2f747970653e\"}")},
      {"card_volume_without_medium", DeviceMachine("USBSTOR", "\"<hardware><type>m</type></hardware>\"", ", \"medium\": \"none\"")},
      {"card_volume_refusing_access",
       DeviceMachine("USBSTOR", "\"<hardware><type>m</type></hardware>\"", ", \"medium\": \"denied\"")},
      {"descriptor_of_the_kept_size", DeviceMachine("USBSTOR", keptDescriptor), keptValue},
      {"hardware_ids_refused", R"({"devices": [
         {"instanceId": "USB\\VID_045E&PID_FFFF\\QSERIAL7", "hardwareIds": {"error": 5}, "service": "USBSTOR"}]})"},
      {"hardware_ids_of_odd_length", R"({"devices": [
         {"instanceId": "USB\\VID_045E&PID_FFFF\\QSERIAL7", "hardwareIds": {"hex": "5500 5300 42"}}]})"},
      {"parent_id_prefix_longer_than_the_scan_reads", R"({"os": {"major": 5, "minor": 1}, "drives": "H", "devices": [
         {"instanceId": "USB\\VID_045E&PID_FFFF\\PSERIAL3", "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR"},
         {"instanceId": "USBSTOR\\DISK\\PSERIAL3&0", "values": {"ParentIdPrefix": ")" + longText + R"("}},
         {"instanceId": "USBSTOR\\DISK\\PSERIAL3&1", "values": {"ParentIdPrefix": {"type": "REG_BINARY", "hex": "3700 2600"}}},
         {"instanceId": "USBSTOR\\DISK\\PSERIAL3&2", "enumKey": false}],
       "registry": {"SYSTEM\\MountedDevices": {"\\DosDevices\\H:": "x"}}})",
       "\"ParentIdPrefix\": \"" + longText + "\""},
      {"mount_record_longer_than_the_scan_reads", R"({"drives": "H", "devices": [
         {"instanceId": "USB\\VID_045E&PID_FFFF\\PSERIAL3", "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR"},
         {"instanceId": "USBSTOR\\DISK\\PSERIAL3&0"}],
       "registry": {"SYSTEM\\MountedDevices": {
         "\\??\\Volume{bbbbbbbb-0000-0000-0000-000000000001}": {"type": "REG_BINARY", "text": "PSERIAL3&0)" +
           std::string(600, '#') + R"("},
         "\\??\\Volume{bbbbbbbb-0000-0000-0000-000000000002}": {"type": "REG_BINARY", "text": "PSERIAL3&0"},
         "\\DosDevices\\H:": {"type": "REG_BINARY", "text": "PSERIAL3&0"}}},
       "volumes": [{"guid": "{bbbbbbbb-0000-0000-0000-000000000002}", "files": {"device.xml": "<hardware><type>m</type></hardware>"}}]})",
       "PSERIAL3&0" + std::string(600, '#')},
      // Only the scan's buffer is too small for these IDs: they are kept whole.
      {"instance_ids_longer_than_the_scan_reads", R"({"drives": "CHI", "devices": [
         {"instanceId": "USB\\VID_045E&PID_FFFF\\)" + std::string(260, 'S') + R"(",
          "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR"},
         {"instanceId": "USB\\VID_045E&PID_FFFF\\SER1", "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR"},
         {"instanceId": "USBSTOR\\DISK\\SER1&0"},
         {"instanceId": "USBSTOR\\DISK&VEN_)" + longText + R"(\\SER1&1"}],
       "registry": {)" + kMount + R"(},
       "volumes": [{"guid": "{aaaaaaaa-0000-0000-0000-000000000001}", "files": {"device.xml": "<hardware><type>m</type></hardware>"}},
                   {"guid": "{aaaaaaaa-0000-0000-0000-000000000002}"}]})",
       "DISK&VEN_" + longText + "\\\\SER1&1"},
      // Names the lookup takes whatever they hold: cards at paths that reach no volume.
      {"malformed_volume_names", R"({"drives": "HIJ", "devices": [
         {"instanceId": "USB\\VID_045E&PID_FFFF\\SER1", "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR"},
         {"instanceId": "USBSTOR\\DISK\\SER1&0"}, {"instanceId": "USBSTOR\\DISK\\SER1&1"},
         {"instanceId": "USBSTOR\\DISK\\SER1&2"}],
       "registry": {"SYSTEM\\MountedDevices": {
         "\\DosDevices\\H:": {"type": "REG_BINARY", "text": "#SER1&0#"},
         "\\DosDevices\\I:": {"type": "REG_BINARY", "text": "#SER1&1#"},
         "\\DosDevices\\J:": {"type": "REG_BINARY", "text": "#SER1&2#"},
         "\\??\\Volume{": {"type": "REG_BINARY", "text": "#SER1&1#"},
         "\\??\\Volume{bbbbbbbb-0000-0000-0000-00000000000b": {"type": "REG_BINARY", "text": "#SER1&2#"},
         "\\??\\Volume{aaaaaaaa-0000-0000-0000-000000000001}": {"type": "REG_BINARY", "text": "#SER1&0#"}}},
       "volumes": [{"guid": "{aaaaaaaa-0000-0000-0000-000000000001}",
                    "files": {"device.xml": "<hardware><type>m</type></hardware>"}}]})"},
      {"version_refused", R"({"os": null, "devices": [
         {"instanceId": "USB\\VID_045E&PID_FFFF\\QSERIAL7", "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR"}]})"},
  };
}

class CaptureRoundTrip : public testing::TestWithParam<Case> {};

TEST_P(CaptureRoundTrip, ReplaysToTheCommandsResultAndRecapturesTheSame) {
  const Case& source = GetParam();
  const SimulatedMachine machine = ParseMachine(source.text, source.name);
  if (!Capturable(machine)) GTEST_SKIP() << "faults or a missing Setup API: taken by the capture exe (CaptureOfFailures)";
  const std::string sourcePath = TemporaryFile(source.text);
  const CommandResult command = RunCommand(sourcePath);

  SimInstall(machine);
  const CaptureRun run = RunCapture();
  const std::vector<CapturedText> usbPrefixes = UsbParentIdPrefixes(run.machine);
  EXPECT_EQ(std::string(run.result.stdoutBytes.begin(), run.result.stdoutBytes.end()), command.out);
  EXPECT_EQ(run.result.exitCode, command.exitCode);
  const std::string captured = Written(run.machine, run.result);
  EXPECT_NE(captured.find(source.kept), std::string::npos) << captured;

  EXPECT_EQ(ListedIds(ParseMachine(captured, "capture")), ListedIds(machine)) << captured;

  const std::string capturedPath = TemporaryFile(captured);
  const CommandResult replay = RunCommand(capturedPath);
  EXPECT_EQ(replay.out, command.out) << captured;
  EXPECT_EQ(replay.exitCode, command.exitCode);
  EXPECT_EQ(replay.err, "");

  SimInstall(ParseMachine(captured, "capture"));
  const CaptureRun again = RunCapture();
  EXPECT_EQ(Written(again.machine, again.result), captured);

  CapturedMachine anonymized = run.machine;
  Anonymize(anonymized, usbPrefixes);
  const std::string hidden = Written(anonymized, run.result);
  const std::string hiddenPath = TemporaryFile(hidden);
  const CommandResult hiddenReplay = RunCommand(hiddenPath);
  EXPECT_EQ(hiddenReplay.out, command.out) << hidden;
  EXPECT_EQ(hiddenReplay.exitCode, command.exitCode);
  std::remove(sourcePath.c_str());
  std::remove(capturedPath.c_str());
  std::remove(hiddenPath.c_str());
}

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(MachineFiles, CaptureRoundTrip, testing::ValuesIn(MachineFiles()), CaseName);
INSTANTIATE_TEST_SUITE_P(Awkward, CaptureRoundTrip, testing::ValuesIn(AwkwardMachines()), CaseName);

// The file without its "captured" line, which names the day it was taken.
std::string WithoutStamp(std::string file) {
  const std::size_t at = file.find("  \"captured\"");
  if (at != std::string::npos) file.erase(at, file.find('\n', at) + 1 - at);
  return file;
}

// Machines the capture exe must take in its own process: the binding
// resolves the Setup API once, at start-up, and faults are the machine's.
// Each capture says what failed, replays to the command's own result, and
// a capture of its replay is the same file.
TEST(CaptureOfFailures, SaysWhatFailedAndReplaysToTheCommandsResult) {
  const std::string main = "\"<hardware><type>m</type></hardware>\"";
  const auto with = [&](const std::string& field) { return "{" + field + ", " + DeviceMachine("USBSTOR", main).substr(1); };
  const auto fault = [&](const char* call, int nth, int error) {
    return with(R"("faults": [{"call": ")" + std::string(call) + R"(", "nth": )" + std::to_string(nth) +
                R"(, "error": )" + std::to_string(error) + "}]");
  };
  struct Row {
    std::string name;
    std::string machine;
    std::string said;  // what the capture must hold
  };
  const Row rows[] = {
      {"setupapi-missing", ReadWholeFile(MACHINES_DIR "/setupapi-missing.json"), R"("setupApi": {"present": false})"},
      {"hardware-id-read-denied", ReadWholeFile(MACHINES_DIR "/hardware-id-read-denied.json"),
       R"("hardwareIds": {"error": 5})"},
      {"instance ID entry point missing", with(R"("setupApi": {"missing": ["SetupDiGetDeviceInstanceIdW"]})"),
       R"("setupApi": {"missing": ["SetupDiGetDeviceInstanceIdW"]})"},
      {"unused entry point missing", with(R"("setupApi": {"missing": ["CM_Request_Device_EjectW"]})"),
       R"("setupApi": {"missing": ["CM_Request_Device_EjectW"]})"},
      {"every key refused", fault("RegOpenKeyExW", 0, ERROR_ACCESS_DENIED), R"("enumKey": false)"},
      {"descriptor refused", fault("CreateFileW", 0, ERROR_ACCESS_DENIED),
       R"("device.xml": {"text": "", "size": 4294967296})"},
  };
  for (const Row& row : rows) {
    const std::string source = TemporaryFile(row.machine);
    const CommandResult command = RunCommand(source);
    const CommandResult capture = RunProgram(CapturePath(), source);
    EXPECT_EQ(capture.exitCode, 0) << row.name << capture.err;
    EXPECT_NE(capture.out.find(row.said), std::string::npos) << row.name << "\n" << capture.out;
    const std::string captured = TemporaryFile(capture.out);
    const MachineExpectation expected = LoadMachineExpectation(captured);
    EXPECT_EQ(expected.stdoutBytes, command.out) << row.name;
    EXPECT_EQ(expected.exitCode, command.exitCode) << row.name;
    const CommandResult replay = RunCommand(captured);
    EXPECT_EQ(replay.out, command.out) << row.name << "\n" << capture.out;
    EXPECT_EQ(replay.exitCode, command.exitCode) << row.name;
    EXPECT_EQ(WithoutStamp(RunProgram(CapturePath(), captured).out), WithoutStamp(capture.out)) << row.name;
    std::remove(source.c_str());
    std::remove(captured.c_str());
  }
}

constexpr DWORD kElementNotFound = 1168;

CapturedText Wide(const std::u16string& text) { return CapturedText(text.begin(), text.end()); }

CapturedBytes Bytes(std::initializer_list<int> bytes) {
  CapturedBytes out;
  for (int b : bytes) out.push_back(static_cast<BYTE>(b));
  return out;
}

CapturedProperty Read(const CapturedBytes& bytes, DWORD error = ERROR_SUCCESS) {
  CapturedProperty property;
  property.read = true;
  property.error = error;
  property.bytes = bytes;
  return property;
}

// Whatever the system returned, the file says it exactly and stays valid
// UTF-8 JSON that the machine-file reader takes back.
TEST(CaptureWriter, WritesWhatTheSystemReturnedExactly) {
  CapturedMachine machine;
  machine.setupApiLoaded = true;
  machine.codePage = 932;
  machine.versionAsked = true;
  machine.versionRead = true;
  machine.version = CapturedVersion{5, 1, 2600, 2, Wide(u"Service Pack 3")};
  machine.driveMask = 0xFC000081u;  // bits beyond Z are not letters

  CapturedDevice lone;
  lone.instanceId = Wide(u"USB\\VID_045E&PID_FFFF\\A\xD800" u"B");
  lone.hardwareIds = Read(Bytes({'U', 0, 0, 0, 0, 0}));
  lone.service = Read({}, kElementNotFound);
  lone.keyOpened = true;
  lone.keyFound = true;
  lone.prefixFound = true;
  lone.prefixType = REG_SZ;
  lone.prefix = Bytes({'7', 0, '&', 0});  // no terminator
  machine.devices.push_back(lone);

  CapturedDevice text;
  text.instanceId = Wide(u"USBSTOR\\\"quoted\"\\tab\there\x01\xE9\x07FF\x0800\xFFFF\xD83D\xDE00");
  text.hardwareIds = Read(Bytes({'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0, 0, 0}));  // an empty string inside the list
  text.service = Read(Bytes({'s', 0, 0, 0}));
  text.keyOpened = true;
  text.keyFound = false;
  machine.devices.push_back(text);

  machine.mountTableFound = true;
  machine.mountTable.push_back(CapturedValue{Wide(u"\\DosDevices\\H:"), REG_BINARY, Bytes({'S', 0, 'x'})});
  machine.mountTable.push_back(CapturedValue{Wide(u"lone\xDC00"), REG_SZ, Bytes({'a', 0, 0, 0})});
  machine.mountTable.push_back(CapturedValue{Wide(u"high\xD800\xDBFF"), REG_SZ, Bytes({'b', 0, 0, 0})});
  machine.mountTable.push_back(CapturedValue{Wide(u"ctrl\n"), 0x12345u, Bytes({})});
  machine.mountTable.push_back(CapturedValue{Wide(u"multi"), REG_MULTI_SZ, Bytes({0, 0})});
  machine.mountTable.push_back(CapturedValue{Wide(u"dword"), REG_DWORD, Bytes({1, 0, 0, 0})});
  // The first type the writer has no name for.
  machine.mountTable.push_back(CapturedValue{Wide(u"big-endian"), 5, Bytes({0, 0, 0, 1})});
  machine.mountTable.push_back(CapturedValue{Wide(u"expand"), REG_EXPAND_SZ, Bytes({'%', 0, 0xD8, 0xD8, 0, 0})});

  CapturedVolume volume;
  volume.guid = Wide(u"{cccccccc-0000-0000-0000-000000000001}");
  CapturedPath binary;
  binary.inside = Wide(u"device.xml");
  binary.attributes = FILE_ATTRIBUTE_ARCHIVE;
  binary.opened = true;
  binary.contentKept = true;
  binary.content = Bytes({0, 0xFF, '"', '\\', 0x7F, 0x80});
  volume.paths.push_back(binary);
  CapturedPath missing;
  missing.inside = Wide(u"gone");
  missing.error = ERROR_FILE_NOT_FOUND;
  volume.paths.push_back(missing);
  machine.volumes.push_back(volume);

  CapturedResult result;
  const std::string written = Written(machine, result);
  EXPECT_EQ(DumpMachine(ParseMachine(written, "written")), DumpMachine(ExpectedReplay(machine))) << written;
}

TEST(CaptureWriter, SaysWhichFailuresAVolumeShowed) {
  for (DWORD error : {DWORD{ERROR_NOT_READY}, DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_PATH_NOT_FOUND}}) {
    CapturedMachine machine;
    machine.setupApiLoaded = true;
    CapturedVolume volume;
    volume.guid = Wide(u"{dddddddd-0000-0000-0000-000000000001}");
    for (const char16_t* inside : {u"__TFAT_HIDDEN_ROOT_DIR__", u"device.xml"}) {
      CapturedPath path;
      path.inside = Wide(inside);
      path.error = error;
      volume.paths.push_back(path);
    }
    machine.volumes.push_back(volume);
    const SimulatedMachine read = ParseMachine(Written(machine, CapturedResult{}), "written");
    ASSERT_EQ(read.volumes.size(), 1u);
    EXPECT_EQ(read.volumes[0].medium, error == ERROR_NOT_READY       ? SimMedium::NoMedium
                                      : error == ERROR_ACCESS_DENIED ? SimMedium::AccessDenied
                                                                     : SimMedium::Ready);
    EXPECT_TRUE(read.volumes[0].entries.empty());
  }
}

// One serial in several letter cases, and a volume GUID: every occurrence
// gets the same stand-in, in the occurrence's own letter case.
TEST(CaptureAnonymizer, ReplacesEachSerialAndGuidConsistentlyInAnyCase) {
  CapturedMachine machine;
  CapturedDevice device;
  device.instanceId = Wide(u"USB\\VID_045E&PID_FFFF\\AB12cd");
  device.hardwareIds = Read(Bytes({'A', 0, 'B', 0, '1', 0, '2', 0, 0, 0, 0, 0}));
  machine.devices.push_back(device);
  CapturedDevice child;
  child.instanceId = Wide(u"USBSTOR\\DISK&VEN_AB12CD\\AB12CD&0");
  child.prefixFound = true;
  child.prefix = Bytes({'a', 0, 'b', 0, '1', 0, '2', 0, 'c', 0, 'd', 0, 0, 0});
  machine.devices.push_back(child);
  // A name with more after the GUID: the GUID alone is replaced.
  machine.mountTable.push_back(CapturedValue{Wide(u"\\??\\Volume{eeeeeeee-0000-0000-0000-00000000000a}\\"), REG_NONE, {}});
  machine.mountTable.push_back(CapturedValue{Wide(u"\\??\\Volume{eeeeeeee-0000-0000-0000-00000000000a}"), REG_BINARY,
                                             Bytes({'#', 0, 'a', 0, 'B', 0, '1', 0, '2', 0, 'C', 0, 'd', 0, '&', 0})});
  CapturedVolume volume;
  volume.guid = Wide(u"{EEEEEEEE-0000-0000-0000-00000000000A}");
  CapturedPath descriptor;
  descriptor.inside = Wide(u"device.xml");
  descriptor.attributes = FILE_ATTRIBUTE_ARCHIVE;
  descriptor.opened = true;
  descriptor.contentKept = true;
  descriptor.content = Bytes({'<', 's', 'e', 'c', 'r', 'e', 't', '>'});
  descriptor.valueChars = 3;
  volume.paths.push_back(descriptor);
  machine.volumes.push_back(volume);

  Anonymize(machine, {});
  const std::u16string id(machine.devices[0].instanceId.begin(), machine.devices[0].instanceId.end());
  const std::u16string serial = id.substr(id.rfind(u'\\') + 1);
  ASSERT_EQ(serial.size(), 6u);
  EXPECT_NE(serial, u"AB12cd");
  EXPECT_EQ(id.substr(0, id.rfind(u'\\')), u"USB\\VID_045E&PID_FFFF");
  // The stand-in keeps the shape: letters where letters were, digits where digits were.
  EXPECT_TRUE(std::isupper(serial[0]) && std::isupper(serial[1]) && std::isdigit(serial[2]) &&
              std::isdigit(serial[3]) && std::islower(serial[4]) && std::islower(serial[5]));
  std::u16string upper = serial;
  for (char16_t& c : upper) c = static_cast<char16_t>(std::toupper(c));
  // Only the child's last component: the device part names hardware.
  EXPECT_EQ(Wide(u"USBSTOR\\DISK&VEN_AB12CD\\" + upper + u"&0"), machine.devices[1].instanceId);
  EXPECT_EQ(machine.devices[0].hardwareIds.bytes, device.hardwareIds.bytes);
  std::u16string lower = upper;
  for (char16_t& c : lower) c = static_cast<char16_t>(std::tolower(c));
  CapturedBytes prefix;
  for (char16_t c : lower + u'\0') prefix.insert(prefix.end(), {static_cast<BYTE>(c), 0});
  EXPECT_EQ(machine.devices[1].prefix, prefix);
  CapturedBytes expectedRecord = Bytes({'#', 0});
  const std::u16string mixed = std::u16string() + lower[0] + upper[1] + upper[2] + upper[3] + upper[4] + lower[5];
  for (char16_t c : mixed + u'&') expectedRecord.insert(expectedRecord.end(), {static_cast<BYTE>(c), 0});
  EXPECT_EQ(machine.mountTable[1].data, expectedRecord);
  // The GUID: the same stand-in in the value name and on the volume.
  const std::u16string name(machine.mountTable[1].name.begin(), machine.mountTable[1].name.end());
  EXPECT_EQ(machine.mountTable[0].name, Wide(name + u"\\"));
  const std::u16string guid(machine.volumes[0].guid.begin(), machine.volumes[0].guid.end());
  std::u16string lowerGuid = guid;
  for (char16_t& c : lowerGuid) c = static_cast<char16_t>(std::tolower(c));
  EXPECT_EQ(name, u"\\??\\Volume" + lowerGuid);
  EXPECT_EQ(guid.size(), 38u);
  for (std::size_t i : {0u, 9u, 14u, 19u, 24u, 37u}) EXPECT_EQ(guid[i], u"{EEEEEEEE-0000-0000-0000-00000000000A}"[i]);
  EXPECT_NE(guid, u"{EEEEEEEE-0000-0000-0000-00000000000A}");
  // The descriptor: only the length of its value is kept.
  EXPECT_FALSE(machine.volumes[0].paths[0].contentKept);
  EXPECT_TRUE(machine.volumes[0].paths[0].content.empty());
  EXPECT_EQ(machine.volumes[0].paths[0].valueChars, 3u);
}

CapturedBytes Utf16(const std::u16string& text) {
  CapturedBytes bytes;
  for (char16_t c : text) bytes.insert(bytes.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
  return bytes;
}

// The mount table keeps the records of sticks that are gone: their serials
// go as well, the same stand-in wherever one occurs, the rest of the record kept.
TEST(CaptureAnonymizer, ReplacesTheSerialsInSticksMountRecords) {
  const std::u16string guid = u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  struct Row {
    std::u16string record;
    std::u16string serial;  // what must not be left; empty where nothing is replaced
    std::u16string kept;    // what must stay
  };
  const Row rows[] = {
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_Flash&Rev_1.00#GONE4242&0" + guid, u"GONE4242", u"#Disk&Ven_Acme&Prod_Flash&Rev_1.00#"},
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_SD&Rev_1.00#gone4242&1" + guid, u"GONE4242", u"&1" + guid},
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_Flash&Rev_1.00#6&1f0e2d3c&0" + guid, u"6&1F0E2D3C", u"&0" + guid},
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_Flash&Rev_1.00#NOLUN777" + guid, u"NOLUN777", u"_??_USBSTOR#Disk"},
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_Flash&Rev_1.00#UNENDED9", u"", u"UNENDED9"},
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_Flash&Rev_1.00#0&0" + guid, u"", u"Rev_1.00#0&0"},
      {u"_??_USBSTOR#Disk&Ven_Acme&Pr", u"", u"_??_USBSTOR#Disk&Ven_Acme&Pr"},
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_SD&Rev_1.00#QZ42&0" + guid, u"QZ42", u"&0" + guid},  // four: long enough
      {u"_??_USBSTOR#Disk&Ven_Acme&Prod_SD&Rev_1.00#QZ4&0" + guid, u"", u"QZ4&0"},
      {u"\\??\\SCSI#CdRom&Ven_X&Prod_Y#4&1c2b3a49&0&010000" + guid, u"", u"4&1c2b3a49&0&010000"},
  };
  CapturedMachine machine;
  CapturedDevice present;
  present.instanceId = Wide(u"USB\\VID_045E&PID_FFFF\\PRESENT1");
  machine.devices.push_back(present);
  for (const Row& row : rows) machine.mountTable.push_back(CapturedValue{Wide(u"\\??\\Volume{x}"), REG_BINARY, Utf16(row.record)});
  Anonymize(machine, {});
  std::vector<std::u16string> standIns;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const CapturedBytes& data = machine.mountTable[i].data;
    std::u16string text;
    for (std::size_t at = 0; at + 1 < data.size(); at += 2) text += static_cast<char16_t>(data[at] | (data[at + 1] << 8));
    std::u16string upper = text;
    for (char16_t& c : upper) c = static_cast<char16_t>(std::toupper(c));
    EXPECT_EQ(text.size(), rows[i].record.size()) << i;
    EXPECT_NE(text.find(rows[i].kept), std::u16string::npos) << SimToUtf8(text);
    if (rows[i].serial.empty()) {
      EXPECT_EQ(text, rows[i].record);
      continue;
    }
    EXPECT_EQ(upper.find(rows[i].serial), std::u16string::npos) << SimToUtf8(text);
    const std::size_t at = rows[i].record.find(u'#', 12) + 1;
    standIns.push_back(upper.substr(at, rows[i].serial.size()));
  }
  EXPECT_EQ(standIns[0], standIns[1]);  // one gone stick, two of its volumes
  EXPECT_NE(machine.devices[0].instanceId, present.instanceId);
}

std::u16string Upper16(std::u16string text) {
  for (char16_t& c : text) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  return text;
}

std::u16string TextOfBytes(const CapturedBytes& data) {
  std::u16string text;
  for (std::size_t at = 0; at + 1 < data.size(); at += 2) text += static_cast<char16_t>(data[at] | (data[at + 1] << 8));
  return text;
}

// Every text of an anonymized machine, upper-cased: IDs, hardware IDs, prefixes, names, records.
std::u16string AllText(const CapturedMachine& machine) {
  std::u16string all;
  for (const CapturedDevice& device : machine.devices) {
    all += std::u16string(device.instanceId.begin(), device.instanceId.end()) + u"|" +
           TextOfBytes(device.hardwareIds.bytes) + u"|" + TextOfBytes(device.prefix) + u"|";
  }
  for (const CapturedValue& value : machine.mountTable) {
    all += std::u16string(value.name.begin(), value.name.end()) + u"|" + TextOfBytes(value.data) + u"|";
  }
  return Upper16(all);
}

CapturedDevice Device(const std::u16string& id, const std::u16string& hardwareId = u"") {
  CapturedDevice device;
  device.instanceId = Wide(id);
  device.hardwareIds = Read(Utf16(hardwareId + u'\0' + u'\0'));
  return device;
}

// Every hex digit of a GUID is one to replace: a GUID of one letter alone,
// each letter in turn, in each place a GUID is replaced, leaves none of it.
TEST(CaptureAnonymizer, ReplacesGuidsOfEachHexLetterWhereverTheyStand) {
  const auto lower = [](std::u16string text) {
    for (char16_t& c : text) c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    return text;
  };
  const std::vector<std::function<void(CapturedMachine&, const std::u16string&)>> places = {
      [&](CapturedMachine& m, const std::u16string& g) {
        m.mountTable.push_back(CapturedValue{Wide(u"\\??\\Volume" + lower(g)), REG_BINARY, Utf16(u"x")});
      },
      [&](CapturedMachine& m, const std::u16string& g) { m.volumes.push_back(CapturedVolume{Wide(g), {}}); },
      [&](CapturedMachine& m, const std::u16string& g) {
        m.devices.push_back(Device(u"STORAGE\\VOLUME\\" + g + u"#0000000006500000"));
      },
      [&](CapturedMachine& m, const std::u16string& g) {
        m.mountTable.push_back(CapturedValue{Wide(u"#" + lower(g)), REG_BINARY, Utf16(u"x")});
      },
      [&](CapturedMachine& m, const std::u16string& g) {
        m.mountTable.push_back(CapturedValue{Wide(u"#x"), REG_BINARY, Utf16(u"\\??\\Volume" + lower(g))});
      },
  };
  for (char16_t letter : std::u16string(u"ABCDEF")) {
    std::u16string guid = u"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    for (char16_t& c : guid) c = c == u'x' ? letter : c;
    for (std::size_t place = 0; place < places.size(); ++place) {
      CapturedMachine machine;
      places[place](machine, guid);
      Anonymize(machine, {});
      std::u16string all = AllText(machine);
      for (const CapturedVolume& volume : machine.volumes) {
        all += Upper16(std::u16string(volume.guid.begin(), volume.guid.end()));
      }
      EXPECT_EQ(all.find(guid), std::u16string::npos) << SimToUtf8(guid) << " at place " << place << ":\n" << SimToUtf8(all);
    }
    // As the 16 bytes a DMIO record holds.
    const CapturedBytes dmio = Bytes({'D', 'M', 'I', 'O', ':', 'I', 'D', ':'});
    CapturedBytes record = dmio;
    const BYTE byte = static_cast<BYTE>((letter - u'A' + 10) * 17);
    record.insert(record.end(), 16, byte);
    CapturedMachine machine;
    machine.mountTable.push_back(CapturedValue{Wide(u"\\DosDevices\\F:"), REG_BINARY, record});
    Anonymize(machine, {});
    const CapturedBytes& data = machine.mountTable[0].data;
    EXPECT_EQ(CapturedBytes(data.begin(), data.begin() + 8), dmio);
    EXPECT_NE(data, record) << SimToUtf8(guid);
  }
}

// A GUID is kept where the capture shows it naming a kind, and replaced
// everywhere when it shows it nowhere so.
TEST(CaptureAnonymizer, KeepsOnlyTheGuidsThatNameAKind) {
  struct Row {
    std::u16string guid;
    bool kept;
  };
  const Row rows[] = {
      {u"{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}", true},   // the interface class ending device paths
      {u"{EEAB7790-C514-11D1-B42B-00805FC1270E}", true},   // a device part, and in a hardware ID
      {u"{0F4130DD-19C7-7AB6-99A1-980F03B2EE4E}", true},   // in a hardware ID, also in an ID's last component
      {u"{9E8D7C6B-5A49-4F38-8E27-D16C05B4A392}", false},  // a disk's, in its volumes' IDs and in a path
      {u"{5D6E7F80-91A2-11EE-B3C4-0242AC120002}", false},  // a #{GUID} value name
      {u"{4B5C6D7E-8F90-11EE-A1B2-0242AC120002}", false},  // a volume name inside a record
  };
  CapturedMachine machine;
  machine.devices = {
      Device(u"STORAGE\\VOLUME\\_??_USBSTOR#DISK&VEN_A#SER1&0#{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}"),
      Device(u"SW\\{EEAB7790-C514-11D1-B42B-00805FC1270E}\\ASYNCMAC",
             u"SW\\{eeab7790-c514-11d1-b42b-00805fc1270e}"),
      Device(u"SWD\\PRINTENUM\\{0F4130DD-19C7-7AB6-99A1-980F03B2EE4E}", u"PRINTENUM\\{0f4130dd-19c7-7ab6-99a1-980f03b2ee4e}"),
      Device(u"STORAGE\\VOLUME\\{9E8D7C6B-5A49-4F38-8E27-D16C05B4A392}#0000000006500000"),
      Device(u"USB\\VID_045E&PID_FFFF\\B6BF")};  // a serial that must not cut into a kept GUID
  machine.mountTable = {
      CapturedValue{Wide(u"#{5d6e7f80-91a2-11ee-b3c4-0242ac120002}"), REG_BINARY,
                    Utf16(u"\\??\\STORAGE#Volume#{9e8d7c6b-5a49-4f38-8e27-d16c05b4a392}#0000#"
                          u"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}")},
      CapturedValue{Wide(u"\\DosDevices\\H:"), REG_BINARY,
                    Utf16(u"_??_USBSTOR#Disk&Ven_A#SER1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}")},
      CapturedValue{Wide(u"#{a7c1e3f5-0b2d-11ee-9c4e-0242ac120002}"), REG_BINARY,
                    Utf16(u"\\??\\Volume{4b5c6d7e-8f90-11ee-a1b2-0242ac120002}")}};
  Anonymize(machine, {});
  const std::u16string all = AllText(machine);
  for (const Row& row : rows) {
    EXPECT_EQ(all.find(row.guid) != std::u16string::npos, row.kept) << SimToUtf8(row.guid) << " in\n" << SimToUtf8(all);
  }
  EXPECT_NE(all.find(u"{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}"), std::u16string::npos);
}

// A run of 12 or more hex digits standing alone, in any part of an
// instance ID or in a hardware ID, is an address or a serial: one stand-in,
// hex digit for hex digit, in each occurrence's case; a GUID and a
// partition's offset are no such run.
TEST(CaptureAnonymizer, ReplacesTheAddressesThatStandAloneInIds) {
  const std::u16string service = u"{0000111E-0000-1000-8000-00805F9B34FB}_VID&0001005D_PID&A001";
  struct Row {
    std::u16string id;
    std::u16string address;  // upper-cased; empty where the ID is kept whole
    std::u16string kept;
  };
  const Row rows[] = {
      {u"SWD\\RADIO\\BLUETOOTH_784f439fa657", u"784F439FA657", u"SWD\\RADIO\\BLUETOOTH_"},
      {u"SWD\\RADIO\\BLUETOOTH_A483E7C21469", u"A483E7C21469", u"SWD\\RADIO\\BLUETOOTH_"},
      {u"BTHENUM\\DEV_BC7E8B5F5C76\\8&2A4E5B3C&0&BLUETOOTHDEVICE_BC7E8B5F5C76", u"BC7E8B5F5C76", u"BTHENUM\\DEV_"},
      {u"BTHLE\\Dev_bc7e8b5f5c76\\8&1d2e3f4a&0&bc7e8b5f5c76", u"BC7E8B5F5C76", u"BTHLE\\Dev_"},
      {u"BTHENUM\\" + service + u"\\7&2A4E5B3C&0&BC7E8B5F5C76_C00000000", u"BC7E8B5F5C76", service},
      {u"BTHENUM\\" + service + u"\\7&2A4E5B3C&0&000000000000_00000000", u"000000000000", u"_00000000"},
      {u"PCI\\VEN_8086&DEV_10D3&SUBSYS_07D015AD&REV_00\\000C29FFFFF3FFDE00", u"000C29FFFFF3FFDE00", u"SUBSYS_07D015AD"},
      {u"STORAGE\\VOLUME\\{5AAE765E-77CB-11E9-BCF1-784F439FA657}#0000000000004400", u"", u"}#0000000000004400"},
      {u"SCSI\\DISK&VEN_X&PROD_ABCDEF0123456789XYZ\\5&1A2B3C4D&0&000000", u"",
       u"SCSI\\DISK&VEN_X&PROD_ABCDEF0123456789XYZ\\5&1A2B3C4D&0&000000"},
      {u"XYZ\\DEV_0123456789A\\1", u"", u"XYZ\\DEV_0123456789A\\1"},
  };
  CapturedMachine machine;
  for (const Row& row : rows) machine.devices.push_back(Device(row.id));
  machine.devices.push_back(Device(u"BTHENUM\\OTHER\\1", u"BTHENUM\\Dev_BC7E8B5F5C76"));
  machine.devices.push_back(Device(u"USB\\VID_045E&PID_FFFF\\5&1&0&1", u"USB\\VID_045E&PID_FFFF"));
  const std::u16string volumePath = u"\\??\\STORAGE#Volume#{5aae765e-77cb-11e9-bcf1-784f439fa657}#0000000000004400#";
  machine.mountTable = {CapturedValue{Wide(u"#x"), REG_BINARY, Utf16(volumePath)}};
  Anonymize(machine, {});

  const std::u16string all = AllText(machine);
  std::u16string standIns[std::size(rows)];
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const std::u16string id(machine.devices[i].instanceId.begin(), machine.devices[i].instanceId.end());
    EXPECT_NE(id.find(rows[i].kept), std::u16string::npos) << SimToUtf8(id);
    const std::u16string& address = rows[i].address;
    if (address.empty()) continue;
    EXPECT_EQ(Upper16(id).find(address), std::u16string::npos) << SimToUtf8(id);
    const std::u16string upper = Upper16(rows[i].id);
    standIns[i] = id.substr(upper.find(address), address.size());
    for (char16_t c : standIns[i]) EXPECT_TRUE(std::isxdigit(c)) << SimToUtf8(id);
    // The device part's occurrence and the last part's get the same stand-in.
    for (std::size_t at = upper.find(address); at != std::u16string::npos; at = upper.find(address, at + 1)) {
      EXPECT_EQ(id.substr(at, address.size()), standIns[i]) << SimToUtf8(id);
    }
  }
  for (std::size_t i : {0u, 2u}) {  // nor in a GUID, a hardware ID or a record
    EXPECT_EQ(all.find(rows[i].address), std::u16string::npos) << SimToUtf8(rows[i].address) << " in " << SimToUtf8(all);
  }
  EXPECT_EQ(standIns[2], Upper16(standIns[3]));
  for (char16_t c : standIns[3]) EXPECT_FALSE(std::isupper(c)) << SimToUtf8(standIns[3]);  // as it stood
  EXPECT_EQ(standIns[2], standIns[4]);
  EXPECT_EQ(TextOfBytes(machine.devices[std::size(rows)].hardwareIds.bytes).substr(0, 24), u"BTHENUM\\Dev_" + standIns[2]);
  EXPECT_EQ(TextOfBytes(machine.devices.back().hardwareIds.bytes).substr(0, 21), u"USB\\VID_045E&PID_FFFF");
  EXPECT_LT(Upper16(standIns[0]), Upper16(standIns[1]));  // the radios sort as before
  // The partition's offset stays whole, in the mount record too, though its zeros hold an address's.
  EXPECT_NE(TextOfBytes(machine.mountTable[0].data).find(u"}#0000000000004400#"), std::u16string::npos);
}

// A disk's signature, a partition's GUID and a USB device's ParentIdPrefix
// each get one stand-in, in whatever form each place holds them.
TEST(CaptureAnonymizer, GivesEachDiskIdentifierOneStandInInEveryForm) {
  const CapturedBytes dmio = Bytes({'D', 'M', 'I', 'O', ':', 'I', 'D', ':', 0x4a, 0x7b, 0x9c, 0x2d, 0x3e, 0x5f, 0x11,
                                    0xea, 0x8a, 0x01, 0x00, 0x15, 0x5d, 0x01, 0x02, 0x03});
  CapturedMachine machine;
  machine.devices = {Device(u"STORAGE\\Volume\\1&30a96598&0&Signature129D3C8AOffset7E00Length3A37A9E00"),
                     Device(u"USB\\VID_413C&PID_8197\\28E347017777"), Device(u"BTH\\MS_BTHBRB\\7&D1CBEA8&0&1"),
                     Device(u"BTH\\MS_RFCOMM\\7&D1CBEA8&0&0"), Device(u"STORAGE\\RemovableMedia\\7&1A2B3C4D&0&RM"),
                     Device(u"USBSTOR\\DISK&VEN_A\\SN0001&0")};
  machine.devices[5].prefixFound = true;  // as the scan read it
  machine.devices[5].prefix = Utf16(u"7&1a2b3c4d&0" + std::u16string(1, u'\0'));
  machine.mountTable = {
      CapturedValue{Wide(u"\\DosDevices\\C:"), REG_BINARY, Bytes({0x8a, 0x3c, 0x9d, 0x12, 0, 0x7e, 0, 0, 0, 0, 0, 0})},
      CapturedValue{Wide(u"\\??\\Volume{1}"), REG_BINARY, Bytes({0x8a, 0x3c, 0x9d, 0x12, 0, 0x7e, 0, 0, 0, 0, 0, 0})},
      CapturedValue{Wide(u"\\DosDevices\\E:"), REG_BINARY, Bytes({0, 0, 0x9d, 0x12, 0, 0, 0x10, 0, 0, 0, 0, 0})},
      CapturedValue{Wide(u"\\DosDevices\\F:"), REG_BINARY, dmio},
      CapturedValue{Wide(u"\\??\\Volume{2d9c7b4a-5f3e-ea11-8a01-00155d010203}"), REG_BINARY,
                    Utf16(u"\\??\\STORAGE#RemovableMedia#7&1a2b3c4d&0&RM#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}")},
      // Halves with one zero byte, 0x3C00 and 0x0041, are characters all the same.
      CapturedValue{Wide(u"\\DosDevices\\G:"), REG_BINARY, Bytes({0, 0x3c, 0x41, 0, 0, 0x7e, 0, 0, 0, 0, 0, 0})},
      // Offsets that are no multiple of 512: no signature, nothing replaced.
      CapturedValue{Wide(u"\\DosDevices\\J:"), REG_BINARY, Bytes({0x11, 0x22, 0x33, 0x44, 0, 1, 0, 0, 0, 0, 0, 0})},
      CapturedValue{Wide(u"\\DosDevices\\K:"), REG_BINARY, Bytes({0x11, 0x22, 0x33, 0x44, 1, 0, 0, 0, 0, 0, 0, 0})}};
  Anonymize(machine, {Wide(u"7&d1cbea8&0")});  // read from the adapter's key

  const CapturedBytes& c = machine.mountTable[0].data;
  EXPECT_EQ(machine.mountTable[1].data, c);  // one disk, two of its records
  EXPECT_EQ(CapturedBytes(c.begin() + 4, c.end()), Bytes({0, 0x7e, 0, 0, 0, 0, 0, 0}));  // the offset
  EXPECT_NE(CapturedBytes(c.begin(), c.begin() + 4), Bytes({0x8a, 0x3c, 0x9d, 0x12}));
  char hex[9];
  std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", c[3], c[2], c[1], c[0]);
  EXPECT_EQ(Upper16(std::u16string(machine.devices[0].instanceId.begin(), machine.devices[0].instanceId.end())),
            u"STORAGE\\VOLUME\\1&30A96598&0&SIGNATURE" + SimFromUtf8(hex) + u"OFFSET7E00LENGTH3A37A9E00");
  const CapturedBytes& e = machine.mountTable[2].data;  // a zero half stays zero, where the scan's text ends
  EXPECT_EQ(e[0] | e[1], 0);
  EXPECT_NE(e[2] | e[3] << 8, 0x129d);
  // Any other half becomes a character beyond ASCII, short of the surrogates.
  for (std::size_t value : {0u, 2u, 5u}) {
    const CapturedBytes& data = machine.mountTable[value].data;
    for (std::size_t half = value == 2 ? 2 : 0; half < 4; half += 2) {
      const int character = data[half] | data[half + 1] << 8;
      EXPECT_TRUE(character >= 0x100 && character < 0xD800) << value << " " << half << " " << character;
    }
  }

  EXPECT_EQ(machine.mountTable[6].data, Bytes({0x11, 0x22, 0x33, 0x44, 0, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(machine.mountTable[7].data, Bytes({0x11, 0x22, 0x33, 0x44, 1, 0, 0, 0, 0, 0, 0, 0}));

  const CapturedBytes& f = machine.mountTable[3].data;
  EXPECT_EQ(CapturedBytes(f.begin(), f.begin() + 8), CapturedBytes(dmio.begin(), dmio.begin() + 8));
  char guid[39];
  std::snprintf(guid, sizeof guid, "{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}", f[11],
                f[10], f[9], f[8], f[13], f[12], f[15], f[14], f[16], f[17], f[18], f[19], f[20], f[21], f[22], f[23]);
  EXPECT_EQ(machine.mountTable[4].name, Wide(u"\\??\\Volume" + SimFromUtf8(guid)));

  const std::u16string all = AllText(machine);
  for (const char16_t* gone : {u"D1CBEA8", u"1A2B3C4D", u"129D3C8A", u"28E347017777"}) {
    EXPECT_EQ(all.find(gone), std::u16string::npos) << SimToUtf8(gone) << " in\n" << SimToUtf8(all);
  }
  const auto id = [&](std::size_t i) {
    return std::u16string(machine.devices[i].instanceId.begin(), machine.devices[i].instanceId.end());
  };
  // The adapter's prefix begins its Bluetooth children's IDs, the disk's its volume's.
  EXPECT_EQ(id(2).substr(14, 11), id(3).substr(14, 11));
  const std::u16string stick = TextOfBytes(machine.devices[5].prefix).substr(0, 12);
  EXPECT_EQ(Upper16(id(4)), u"STORAGE\\REMOVABLEMEDIA\\" + Upper16(stick) + u"&RM");
  EXPECT_NE(TextOfBytes(machine.mountTable[4].data).find(stick + u"&RM#"), std::u16string::npos);
}

// A volume name that does not close its braces names no GUID: it stays as it is.
TEST(CaptureAnonymizer, LeavesMalformedVolumeNamesAsTheyAre) {
  const std::u16string names[] = {u"\\??\\Volume{", u"\\??\\Volume{bbbbbbbb-0000-0000-0000-00000000000b",
                                  u"\\??\\Volume}{", u"\\??\\Volume"};
  CapturedMachine machine;
  for (const std::u16string& name : names) {
    machine.mountTable.push_back(CapturedValue{Wide(name), REG_BINARY, Utf16(u"x")});
  }
  Anonymize(machine, {});
  for (std::size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(machine.mountTable[i].name, Wide(names[i])) << i;
}

// A device whose ID could not be read has nothing to hide: it stays a failed
// read; nor has one whose ID ends before its serial.
TEST(CaptureAnonymizer, LeavesAnUnreadableInstanceIdUnreadable) {
  CapturedMachine machine;
  CapturedDevice gone;
  gone.instanceIdError = 0xE000020Bu;
  gone.hardwareIds = Read(Bytes({'U', 0, 0, 0, 0, 0}));
  machine.devices.push_back(gone);
  CapturedDevice present;
  present.instanceId = Wide(u"USB\\VID_045E&PID_FFFF\\SERIAL1");
  machine.devices.push_back(present);
  CapturedDevice noSerial;
  noSerial.instanceId = Wide(u"USB\\VID_7A5C&PID_FFFF\\");
  machine.devices.push_back(noSerial);
  const std::u16string record = u"_??_USBSTOR#Disk#SERIAL1&0#";
  machine.mountTable.push_back(CapturedValue{Wide(u"\\DosDevices\\H:"), REG_BINARY, Utf16(record)});
  Anonymize(machine, {});
  EXPECT_EQ(machine.devices[0].instanceIdError, 0xE000020Bu);
  EXPECT_TRUE(machine.devices[0].instanceId.empty());
  EXPECT_NE(machine.devices[1].instanceId, present.instanceId);
  EXPECT_EQ(machine.devices[1].instanceId.size(), present.instanceId.size());
  EXPECT_EQ(machine.devices[2].instanceId, noSerial.instanceId);
  const std::u16string serial(machine.devices[1].instanceId.end() - 7, machine.devices[1].instanceId.end());
  EXPECT_EQ(TextOfBytes(machine.mountTable[0].data), u"_??_USBSTOR#Disk#" + serial + u"&0#");
  const std::string written = Written(machine, CapturedResult{});
  EXPECT_NE(written.find(R"({"instanceId": {"error": 3758096907}, "hardwareIds": ["U"]})"),
            std::string::npos)
      << written;
}

// Where the system sorts keys and values by name (as Wine does), a replay
// of the anonymized capture must list them in the same order.
TEST(CaptureAnonymizer, StandInsSortAsTheirOriginals) {
  const std::vector<std::u16string> serials = {u"0001", u"0002", u"000A", u"0A1", u"AB12", u"AB12X", u"AB_3",
                                               u"ab9Z", u"Z", u"5&1A2B3C&0&1", u"5&1A2B3C&0&2", u"5&1A2B3D&0"};
  CapturedMachine machine;
  for (const std::u16string& serial : serials) {
    CapturedDevice device;
    device.instanceId = Wide(u"USB\\VID_1234&PID_5678\\" + serial);
    machine.devices.push_back(device);
  }
  Anonymize(machine, {});
  auto folded = [](const CapturedText& id) {
    std::u16string text(id.begin(), id.end());
    for (char16_t& c : text) c = static_cast<char16_t>(std::tolower(c));
    return text;
  };
  for (std::size_t i = 0; i < serials.size(); ++i) {
    for (std::size_t j = 0; j < serials.size(); ++j) {
      std::u16string a = serials[i], b = serials[j];
      for (char16_t& c : a) c = static_cast<char16_t>(std::tolower(c));
      for (char16_t& c : b) c = static_cast<char16_t>(std::tolower(c));
      EXPECT_EQ(a < b, folded(machine.devices[i].instanceId) < folded(machine.devices[j].instanceId))
          << SimToUtf8(serials[i]) << " and " << SimToUtf8(serials[j]);
    }
    EXPECT_NE(machine.devices[i].instanceId, Wide(u"USB\\VID_1234&PID_5678\\" + serials[i]));
  }
}

TEST(CaptureCommandLine, RefusesUnknownArgumentsWithUsage) {
  const std::string empty = TemporaryFile("{}");
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--verbose"}, {"--output"}, {"--output", "a", "--output", "b"}, {"x"}, {"--json"},
        {"--keep-identifiers", "--anonymize"}, {"--explain", "--explain"}}) {
    const CommandResult result = RunProgram(CapturePath(), empty, arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("usage: devdrives-capture", 0), 0u) << result.err;
  }
  std::remove(empty.c_str());
}

TEST(CaptureCommandLine, WritesTheFileOrSaysWhyNot) {
  const std::string machine = TemporaryFile(MachineFiles().front().text);
  const std::string output = TemporaryFile("");
  const CommandResult written = RunProgram(CapturePath(), machine, {"--anonymize", "--output", output});
  EXPECT_EQ(written.exitCode, 0);
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(written.err, "");
  const std::string file = ReadWholeFile(output);
  EXPECT_NO_THROW(ParseMachine(file, output));
  EXPECT_EQ(RunProgram(CapturePath(), machine, {"--anonymize"}).out, file);

  const CommandResult refused = RunProgram(CapturePath(), machine, {"--output", "/nonexistent/dir/capture.json"});
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  for (const std::vector<std::string>& form : {std::vector<std::string>{}, {"--explain"}, {"--explain", "--json"}}) {
    std::vector<std::string> arguments = form;
    arguments.insert(arguments.end(), {"--output", "/dev/full"});
    const CommandResult full = RunProgram(CapturePath(), machine, arguments);
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
  }
  std::remove(machine.c_str());
  std::remove(output.c_str());
}

// A replay on a code page the sim does not model says so.
TEST(CaptureReplay, NamesACodePageTheSimDoesNotModel) {
  const std::string machine = AwkwardMachines()[3].text;
  for (const char* codePage : {"932", "1252"}) {
    const std::string path = TemporaryFile("{\"codePage\": " + std::string(codePage) + ", " + machine.substr(1));
    const CommandResult replay = RunCommand(path);
    EXPECT_EQ(replay.out, "[{\"iDrive\":\"H\",\"sdDriveA\":\"I\"}]");
    EXPECT_EQ(replay.err.find("code page 932") != std::string::npos, codePage == std::string("932")) << replay.err;
    std::remove(path.c_str());
  }
}

// The docs list every reason code once, with the sentence and the next step
// the explanation prints.
TEST(ExplanationReasons, AreListedOnceInTheDocs) {
  const std::string doc = ReadWholeFile(SUPPORT_DOC);
  unsigned count = 0;
  const ReasonCode* reasons = Reasons(count);
  ASSERT_GT(count, 20u);
  for (unsigned i = 0; i < count; ++i) {
    const std::string row = std::string("| `") + reasons[i].code + "` | " + reasons[i].sentence + " | " +
                            reasons[i].next + " |";
    const std::size_t at = doc.find(row);
    EXPECT_NE(at, std::string::npos) << row;
    EXPECT_EQ(doc.find(std::string("| `") + reasons[i].code + "` |", at + 1), std::string::npos) << reasons[i].code;
    EXPECT_EQ(FindReason(reasons[i].code), &reasons[i]);
  }
}

}  // namespace
