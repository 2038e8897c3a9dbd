// The native command's trace of its platform calls: on standard error only
// when DEVDRIVES_TRACE asks for it, with the report and everything else the
// run does unchanged, and with the calls that decide whether a device is
// found readable in the order the scan makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "test_support.h"

namespace {

// An environment variable the child processes started in its scope inherit,
// or do not have at all when its value is null.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() { unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

// DEVDRIVES_TRACE set to value for the run, or unset when it is null.
CommandResult RunWithTrace(const std::string& machine, const char* value) {
  ScopedVariable trace("DEVDRIVES_TRACE", value);
  return RunCommand(machine);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first part that no line after the previous part's line contains; empty
// when every part is found, in order.
std::string FirstMissingInOrder(const std::string& trace, const std::vector<std::string>& parts) {
  const std::vector<std::string> lines = Lines(trace);
  auto from = lines.begin();
  for (const std::string& part : parts) {
    from = std::find_if(from, lines.end(),
                        [&](const std::string& line) { return line.find(part) != std::string::npos; });
    if (from == lines.end()) return part;
    ++from;
  }
  return "";
}

std::string Machine(const std::string& name) { return std::string(MACHINES_DIR) + "/" + name; }

struct TemporaryMachine {
  explicit TemporaryMachine(const std::string& json) : path(TemporaryFile(json)) {}
  ~TemporaryMachine() { std::remove(path.c_str()); }
  std::string path;
};

TEST(Trace, FollowsTheScanOfTheCardReaderOnWindowsXp) {
  const CommandResult result = RunWithTrace(Machine("card-reader-on-windows-xp.json"), "1");
  EXPECT_EQ(result.out, R"([{"iDrive":"K","sdDriveA":"F","sdDriveB":"G"}])");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(FirstMissingInOrder(result.err, {
      R"(LoadLibraryExW("C:\Windows\system32\SetupApi.dll", NULL, LOAD_WITH_ALTERED_SEARCH_PATH) = module 1)",
      R"(GetProcAddress(module 1, "SetupDiGetClassDevsW") = found)",
      "SetupDiGetClassDevsW(NULL, NULL, DIGCF_PRESENT|DIGCF_ALLCLASSES) = set 1",
      R"(GetVersionExW(276 bytes) = TRUE, 5.1.2600, platform 2, "")",
      "SetupDiGetDeviceRegistryPropertyW(set 1, device 0, SPDRP_HARDWAREID, 512 bytes offered) = FALSE, "
      "last error 13 ERROR_INVALID_DATA",
      R"(SetupDiGetDeviceRegistryPropertyW(set 1, device 2, SPDRP_HARDWAREID, 512 bytes offered) = TRUE, )"
      R"(REG_MULTI_SZ 108 bytes "USB\Vid_045e&Pid_ffff&Rev_0001\0USB\Vid_045e&Pid_ffff\0\0")",
      R"(SetupDiGetDeviceInstanceIdW(set 1, device 2, 256 chars offered) = TRUE, "USB\VID_045E&PID_FFFF\SN0042")",
      R"(SPDRP_SERVICE, 512 bytes offered) = TRUE, REG_SZ 16 bytes "USBSTOR\0")",
      "SetupDiEnumDeviceInfo(set 1, index 8) = FALSE, last error 259 ERROR_NO_MORE_ITEMS",
      R"(RegQueryValueExW(key 1, "ParentIdPrefix", 512 bytes offered) = 0 ERROR_SUCCESS, REG_SZ 18 bytes "7&aaa1&0\0")",
      R"(RegOpenKeyExW(HKLM, "SYSTEM\CurrentControlSet\Enum\USBSTOR\DISK&VEN_GENERIC&PROD_XD&REV_1.00\SN0042&4", )"
      "KEY_READ) = 0 ERROR_SUCCESS, key 5",
      R"(RegQueryValueExW(key 5, "ParentIdPrefix", 512 bytes offered) = 2 ERROR_FILE_NOT_FOUND)",
      "SetupDiDestroyDeviceInfoList(set 1) = TRUE",
      R"(RegOpenKeyExW(HKLM, "SYSTEM\MountedDevices", KEY_READ) = 0 ERROR_SUCCESS, key 6)",
      "GetLogicalDrives() = 0xC65, A C F G K L",
      R"(RegQueryValueExW(key 6, "\DosDevices\C:", 1024 bytes offered) = 0 ERROR_SUCCESS, )"
      "REG_BINARY 12 bytes hex 8a3c9d120000007e00000000",
      R"(RegEnumValueW(key 6, index 2, 256 chars offered, 1024 bytes offered) = 0 ERROR_SUCCESS, )"
      R"("\??\Volume{a0000001-0000-0000-0000-000000000001}", REG_BINARY 154 bytes )"
      R"("\??\STORAGE#RemovableMedia#7&aaa1&0&RM#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}")",
      "SetErrorMode(SEM_FAILCRITICALERRORS|SEM_NOOPENFILEERRORBOX) = 0",
      R"(GetFileAttributesW("\\?\Volume{a0000002-0000-0000-0000-000000000002}\device.xml") = )"
      "INVALID_FILE_ATTRIBUTES, last error 21 ERROR_NOT_READY",
      R"(GetFileAttributesW("\\?\Volume{a0000003-0000-0000-0000-000000000003}\device.xml") = FILE_ATTRIBUTE_ARCHIVE)",
      R"(CreateFileW("\\?\Volume{a0000003-0000-0000-0000-000000000003}\device.xml", GENERIC_READ, )"
      "FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN) = file 1",
      "GetFileSize(file 1) = 57, high 0",
      R"(ReadFile(file 1, 57 bytes asked) = TRUE, 57 bytes read )"
      R"("<device><hardware>\n<type>main</type>\n</hardware></device>")",
      R"(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "main", 4 bytes, 255 chars offered) = 4, "main")",
      "CloseHandle(file 1) = TRUE",
      "SetErrorMode(0) = SEM_FAILCRITICALERRORS|SEM_NOOPENFILEERRORBOX",
      R"(wprintf("%s", "[{"iDrive":"K","sdDriveA":"F","sdDriveB":"G"}]") = 46)",
      "FreeLibrary(module 1) = TRUE",
  }), "");
}

TEST(Trace, ShowsTheMissingParentIdPrefixThatLeavesADeviceOut) {
  const CommandResult result = RunWithTrace(Machine("device-without-parent-id-prefix-on-windows-xp.json"), "1");
  EXPECT_EQ(result.out, R"([{"iDrive":"E"}])");
  EXPECT_EQ(FirstMissingInOrder(result.err, {
      R"(GetVersionExW(276 bytes) = TRUE, 5.1.2600)",
      R"(SetupDiGetDeviceInstanceIdW(set 1, device 1, 256 chars offered) = TRUE, "USB\VID_7A5C&PID_FFFF\SN0002")",
      R"(RegOpenKeyExW(HKLM, "SYSTEM\CurrentControlSet\Enum\USBSTOR\DISK&VEN_X&PROD_Y&REV_1.00\SN0002&0", )"
      "KEY_READ) = 0 ERROR_SUCCESS, key 2",
      R"(RegQueryValueExW(key 2, "ParentIdPrefix", 512 bytes offered) = 2 ERROR_FILE_NOT_FOUND)",
      "RegCloseKey(key 2) = 0 ERROR_SUCCESS",
      R"(RegQueryValueExW(key 3, "\DosDevices\H:", 1024 bytes offered) = 0 ERROR_SUCCESS, REG_BINARY 172 bytes )"
      R"("_??_USBSTOR#Disk&Ven_X&Prod_Y&Rev_1.00#SN0002&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}")",
      R"(GetFileAttributesW("\\?\Volume{b0000001-0000-0000-0000-000000000001}\device.xml") = FILE_ATTRIBUTE_ARCHIVE)",
  }), "");
  // The letter's record holds no key the scan has, so the volume is never probed.
  EXPECT_EQ(result.err.find("Volume{b0000002-0000-0000-0000-000000000002}\\"), std::string::npos);
}

// Both passes show the read that leaves the device out, with its code.
TEST(Trace, ShowsAnInstanceIdThatCannotBeRead) {
  const CommandResult result = RunWithTrace(Machine("instance-id-read-fails.json"), "1");
  EXPECT_EQ(result.out, R"([{"iDrive":"H"}])");
  const std::string failed = "SetupDiGetDeviceInstanceIdW(set 1, device 0, 256 chars offered) = FALSE, "
                             "last error 3758096907 ERROR_NO_SUCH_DEVINST";
  EXPECT_EQ(FirstMissingInOrder(result.err, {
      "device 0, SPDRP_HARDWAREID, 512 bytes offered) = TRUE",
      failed,
      "SetupDiEnumDeviceInfo(set 1, index 1) = TRUE",
      failed,
      "SetupDiEnumDeviceInfo(set 1, index 1) = TRUE",
  }), "") << result.err;
}

// Text and bytes as the system returned them, whatever they hold: control
// characters, unpaired surrogates, characters beyond ASCII, odd byte counts,
// long file contents; failures by number, with a name where there is one.
TEST(Trace, ShowsOddDataReadably) {
  const std::string descriptor = "<hardware><type>caf\u00e9</type></hardware>" + std::string(262, 'x');
  TemporaryMachine machine(R"({
    "devices": [
      { "instanceId": "ROOT\\ODD\\0000", "hardwareIds": { "hex": "4100010000d8e9003dd800de0000" } },
      { "instanceId": "USB\\VID_045E&PID_FFFF\\SN1", "hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR" },
      { "instanceId": "USB\\VID_7A5C&PID_FFFF\\SN9", "hardwareIds": ["USB\\VID_7A5C&PID_FFFF"],
        "service": { "hex": "410042" } },
      { "instanceId": "USBSTOR\\DISK\\SN1&0", "values": { "ParentIdPrefix": "9&1&0" } }
    ],
    "drives": "H",
    "registry": { "SYSTEM\\MountedDevices": {
      "\\DosDevices\\H:": { "type": "REG_BINARY", "text": "\\??\\STORAGE#RemovableMedia#9&1&0&RM" },
      "\\??\\Volume{c0000001-0000-0000-0000-000000000001}":
        { "type": "REG_BINARY", "text": "\\??\\STORAGE#RemovableMedia#9&1&0&RM" }
    } },
    "volumes": [ { "guid": "{c0000001-0000-0000-0000-000000000001}", "files": { "device.xml": ")" +
                          descriptor + R"(" } } ],
    "faults": [ { "call": "RegCloseKey", "nth": 1, "error": 1167 } ]
  })");
  const CommandResult result = RunWithTrace(machine.path, "1");
  EXPECT_EQ(result.out, R"([{"iDrive":"H"}])");
  EXPECT_EQ(FirstMissingInOrder(result.err, {
      "device 0, SPDRP_HARDWAREID, 512 bytes offered) = TRUE, REG_MULTI_SZ 14 bytes "
      "\"A\\x01\\uD800\xC3\xA9\xF0\x9F\x98\x80\\0\"",
      "device 2, SPDRP_SERVICE, 512 bytes offered) = TRUE, REG_SZ 3 bytes hex 410042",
      "RegCloseKey(key 1) = 1167",
      // The first 256 of the 300 bytes: 38 of markup, 218 of padding.
      "ReadFile(file 1, 300 bytes asked) = TRUE, 300 bytes read \"<hardware><type>caf\\xE9</type></hardware>" +
          std::string(218, 'x') + "\" and 44 bytes more",
      R"(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "caf\xE9", 4 bytes, 255 chars offered) = 4, )"
      "\"caf\xC3\xA9\"",
  }), "") << result.err;
}

// Every machine file: the same report, exit code and handles left with the
// trace as without it, nothing on standard error without it, and with it
// nothing there but call lines.
TEST(Trace, ChangesNothingButStandardError) {
  const std::regex callLine(R"([A-Za-z_]+\(.*\) = .+)");
  for (const auto& entry : std::filesystem::directory_iterator(MACHINES_DIR)) {
    const std::string machine = entry.path().string();
    const CommandResult plain = RunWithTrace(machine, nullptr);
    const CommandResult off = RunWithTrace(machine, "0");
    const CommandResult traced = RunWithTrace(machine, "1");
    EXPECT_EQ(plain.err, "") << machine;
    EXPECT_EQ(off.err, "") << machine;
    EXPECT_EQ(traced.out, plain.out) << machine;
    EXPECT_EQ(traced.exitCode, plain.exitCode) << machine;
    EXPECT_EQ(traced.trace, plain.trace) << machine;
    const std::vector<std::string> lines = Lines(traced.err);
    EXPECT_GT(lines.size(), 1u) << machine;
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, callLine)) << machine << ": " << line;
  }
}

}  // namespace
