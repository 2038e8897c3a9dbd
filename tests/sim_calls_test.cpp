// The simulated allocation limit, version, registry and Setup API calls keep
// the outputs and last-error codes Windows documents and Wine shows, since
// the command is measured against them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/sim/machine_file.h"
#include "setupapi/setupapi_binding.h"
#include "test_support.h"

namespace {

const DWORD kUntouched = 0xDEADu;

void InstallJson(const std::string& json) { SimInstall(ParseMachine(json, "test")); }

TEST(SimAllocation, BlocksUpToTheLargestAllocationAreGrantedAndNoLarger) {
  struct Case {
    const char* machine;
    SIZE_T bytes;
    bool granted;
  };
  const Case cases[] = {
      {R"({"maxAllocation": 4096})", 4096, true},
      {R"({"maxAllocation": 4096})", 4097, false},
      {R"({"maxAllocation": 0})", 1, false},
      {"{}", kSimDefaultLargestAllocation + 1, false},
      {"{}", 0xFFFFFFFFu, false},
  };
  for (const Case& c : cases) {
    InstallJson(c.machine);
    SetLastError(kUntouched);
    const HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE, c.bytes);
    EXPECT_EQ(global != nullptr, c.granted) << c.machine << " " << c.bytes;
    EXPECT_EQ(GetLastError(), c.granted ? kUntouched : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    GlobalFree(global);

    SetLastError(kUntouched);
    const LPVOID heap = HeapAlloc(GetProcessHeap(), 0, c.bytes);
    EXPECT_EQ(heap != nullptr, c.granted) << c.machine << " " << c.bytes;
    // Measured on Windows, against its documentation: a refused block sets the code.
    EXPECT_EQ(GetLastError(), c.granted ? kUntouched : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HeapFree(GetProcessHeap(), 0, heap);
    EXPECT_EQ(Sim().counters.globalBlocks + Sim().counters.heapBlocks, 0);
  }
  // Wine grants 512 MiB in one piece in every 32-bit process.
  EXPECT_EQ(kSimDefaultLargestAllocation, 0x20000000u);
}

TEST(SimVersion, TakesBothStructureSizesAndFailsOthersWithoutALastError) {
  InstallJson(R"({"os": {"major": 5, "minor": 1, "build": 2600, "csdVersion": "Service Pack 3",
                         "servicePackMajor": 3, "servicePackMinor": 1, "suiteMask": 768, "productType": 3}})");
  for (DWORD size : {0u, 1u, 275u, 277u, 283u, 285u, 0xFFFFFFFFu}) {
    OSVERSIONINFOEXW info;
    std::memset(&info, 0xAB, sizeof info);
    info.dwOSVersionInfoSize = size;
    SetLastError(kUntouched);
    EXPECT_FALSE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info))) << size;
    EXPECT_EQ(GetLastError(), kUntouched) << size;
    EXPECT_EQ(info.dwMajorVersion, 0xABABABABu) << size;
  }

  OSVERSIONINFOEXW extended;
  std::memset(&extended, 0xAB, sizeof extended);
  extended.dwOSVersionInfoSize = sizeof extended;
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&extended)));
  EXPECT_EQ(extended.dwMajorVersion * 100 + extended.dwMinorVersion, 501u);
  EXPECT_EQ(extended.dwBuildNumber, 2600u);
  EXPECT_EQ(std::u16string(extended.szCSDVersion), u"Service Pack 3");
  EXPECT_EQ(extended.wServicePackMajor, 3);
  EXPECT_EQ(extended.wServicePackMinor, 1);
  EXPECT_EQ(extended.wSuiteMask, 768);
  EXPECT_EQ(extended.wProductType, 3);
  EXPECT_EQ(extended.wReserved, 0xAB);  // reserved stays the caller's

  // The plain structure ends before the service-pack numbers.
  OSVERSIONINFOEXW plain;
  std::memset(&plain, 0xAB, sizeof plain);
  plain.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&plain)));
  EXPECT_EQ(std::u16string(plain.szCSDVersion), u"Service Pack 3");
  EXPECT_EQ(plain.wServicePackMajor, 0xABAB);
  EXPECT_EQ(plain.wProductType, 0xAB);
}

TEST(SimVersion, ExtendedFieldsDefaultByVersion) {
  struct Case {
    const char* os;
    WORD suiteMask;
  };
  const Case cases[] = {{"{}", VER_SUITE_SINGLEUSERTS},
                        {R"({"major": 5, "minor": 1})", VER_SUITE_SINGLEUSERTS},
                        {R"({"major": 5, "minor": 0})", 0},
                        {R"({"major": 4})", 0}};
  for (const Case& c : cases) {
    InstallJson(std::string(R"({"os": )") + c.os + "}");
    OSVERSIONINFOEXW info;
    std::memset(&info, 0xAB, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info))) << c.os;
    EXPECT_EQ(info.szCSDVersion[0], 0) << c.os;
    EXPECT_EQ(info.wServicePackMajor, 0) << c.os;
    EXPECT_EQ(info.wSuiteMask, c.suiteMask) << c.os;
    EXPECT_EQ(info.wProductType, VER_NT_WORKSTATION) << c.os;
  }
}

TEST(SimMachineFile, RejectsSizesAndVersionFieldsOutOfRange) {
  const char* bad[] = {
      R"({"devices": [{"instanceId": "A\\B\\C", "hardwareIds": {"hex": "4100", "size": 1}}]})",
      R"({"devices": [{"instanceId": "A\\B\\C", "hardwareIds": {"hex": "4100", "size": 4294967296}}]})",
      R"({"devices": [{"instanceId": "A\\B\\C", "hardwareIds": {"error": 5, "size": 4}}]})",
      R"({"devices": [{"instanceId": "A\\B\\C", "hardwareIds": {"size": 4}}]})",
      R"({"devices": [{"instanceId": "A\\B\\C", "service": {"hex": "4100", "size": 4}}]})",
      R"({"maxAllocation": -1})",
      R"({"maxAllocation": 4294967296})",
      R"({"maxAllocation": "512 MiB"})",
      R"({"os": {"suiteMask": 65536}})",
      R"({"os": {"servicePackMajor": 65536}})",
      R"({"os": {"productType": 256}})",
      R"({"os": {"csdVersion": 3}})",
  };
  for (const char* json : bad) EXPECT_THROW(ParseMachine(json, "test"), MachineFileError) << json;
  const std::string longest(127, 'x');
  EXPECT_NO_THROW(ParseMachine(R"({"os": {"csdVersion": ")" + longest + R"("}})", "test"));
  EXPECT_THROW(ParseMachine(R"({"os": {"csdVersion": ")" + longest + R"(x"}})", "test"), MachineFileError);
}

class SimRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallJson(R"({"registry": {"K": {"LongName": {"type": "REG_BINARY", "hex": "01 02 03 04 05"}}}})");
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_READ, &key), ERROR_SUCCESS);
  }
  void TearDown() override { RegCloseKey(key); }
  HKEY key = nullptr;
};

TEST_F(SimRegistryTest, NameTooLongStillGivesTypeAndDataSize) {
  struct Case {
    bool withData;
    DWORD offeredData;
  };
  for (const Case c : {Case{true, 64}, Case{true, 2}, Case{false, 64}}) {
    WCHAR name[4] = {u'x', u'x', u'x', 0};
    BYTE data[64];
    std::memset(data, 0xAB, sizeof data);
    DWORD chars = 4, type = kUntouched, size = c.offeredData;
    EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, &type, c.withData ? data : nullptr, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(chars, 4u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::u16string(name), u"xxx");  // neither name nor data is written
    EXPECT_EQ(data[0], 0xAB);
  }
}

TEST_F(SimRegistryTest, MissingValueAnswersASizeQueryWithZero) {
  DWORD type = kUntouched, size = 123;
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 0u);
  BYTE data[16];
  size = sizeof data;
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, sizeof data);
  EXPECT_EQ(type, kUntouched);
}

// A property of no bytes reads as one never set (ERROR_INVALID_DATA, as
// Windows answers once a property is set to empty data), whatever the room;
// a property of two bytes keeps the size protocol, and so does one that
// declares more than the file holds: the rest reads as zeros.
TEST(SimSetupApi, SuccessSetsTheLastErrorAndAnEmptyPropertyReadsAsAbsent) {
  InstallJson(R"({"devices": [{"instanceId": "USB\\X\\1", "hardwareIds": {"hex": ""}, "service": "disk"},
                              {"instanceId": "USB\\X\\2", "hardwareIds": {"hex": "4100"}, "service": "disk"},
                              {"instanceId": "USB\\X\\3", "hardwareIds": {"hex": "4100", "size": 6}},
                              {"instanceId": "USB\\X\\4", "hardwareIds": {"hex": "", "size": 2}}]})");
  SetupApiBinding setupApi;
  SetLastError(kUntouched);
  const HDEVINFO set = setupApi.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);

  struct Case {
    DWORD member;
    bool buffer;
    DWORD size;
    BOOL result;
    DWORD error;
    DWORD required;
    std::vector<BYTE> read = {};
  };
  const Case cases[] = {
      {0, false, 0, FALSE, ERROR_INVALID_DATA, kUntouched},
      {0, true, 0, FALSE, ERROR_INVALID_DATA, kUntouched},
      {0, true, 2, FALSE, ERROR_INVALID_DATA, kUntouched},
      {1, false, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 2},  // a size query
      {1, true, 1, FALSE, ERROR_INSUFFICIENT_BUFFER, 2},
      {1, true, 2, TRUE, kUntouched, 2, {0x41, 0, 0xAB}},
      {1, false, 2, FALSE, ERROR_INVALID_DATA, kUntouched},  // room claimed without a buffer
      {2, false, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 6},
      {2, true, 5, FALSE, ERROR_INSUFFICIENT_BUFFER, 6},
      {2, true, 6, TRUE, kUntouched, 6, {0x41, 0, 0, 0, 0, 0, 0xAB}},
      {3, true, 2, TRUE, kUntouched, 2, {0, 0, 0xAB}},
  };
  for (const Case& c : cases) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(setupApi.SetupDiEnumDeviceInfo(set, c.member, &device));
    BYTE buffer[8];
    std::memset(buffer, 0xAB, sizeof buffer);
    DWORD required = kUntouched;
    SetLastError(kUntouched);
    EXPECT_EQ(setupApi.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                                         c.buffer ? buffer : nullptr, c.size, &required),
              c.result);
    EXPECT_EQ(GetLastError(), c.error) << c.member << " " << c.buffer << " " << c.size;
    EXPECT_EQ(required, c.required) << c.member << " " << c.buffer << " " << c.size;
    EXPECT_EQ(std::vector<BYTE>(buffer, buffer + c.read.size()), c.read) << c.member;
  }

  SetLastError(kUntouched);
  EXPECT_TRUE(setupApi.SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(GetLastError(), 0u);
}

// A device whose instance ID cannot be read fails every read with its code,
// a size query and a generous buffer alike, in every set made.
TEST(SimSetupApi, AnUnreadableInstanceIdFailsWithItsCodeWhateverTheBuffer) {
  const DWORD kNoSuchDevinst = 0xE000020Bu;
  const SimulatedMachine machine = ParseMachine(
      R"({"devices": [{"instanceId": {"error": 3758096907}, "hardwareIds": ["USB\\X"]}, {"instanceId": "A\\B\\C"}]})",
      "test");
  EXPECT_EQ(machine.registry.size(), 1u);  // the readable device's key only
  SimInstall(machine);
  SetupApiBinding setupApi;
  for (int pass = 0; pass < 2; ++pass) {
    const HDEVINFO set = setupApi.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    ASSERT_TRUE(setupApi.SetupDiEnumDeviceInfo(set, 0, &device));
    for (DWORD chars : {0u, 256u, 4096u}) {
      std::vector<WCHAR> id(chars + 1, u'x');
      DWORD required = kUntouched;
      SetLastError(kUntouched);
      EXPECT_FALSE(setupApi.SetupDiGetDeviceInstanceIdW(set, &device, chars != 0 ? id.data() : nullptr, chars,
                                                        &required));
      EXPECT_EQ(GetLastError(), kNoSuchDevinst) << chars;
      EXPECT_EQ(required, kUntouched);
      EXPECT_EQ(id[0], u'x');
    }
    BYTE ids[64];
    EXPECT_TRUE(setupApi.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, ids,
                                                           sizeof ids, nullptr));
    ASSERT_TRUE(setupApi.SetupDiEnumDeviceInfo(set, 1, &device));
    WCHAR other[8];
    EXPECT_TRUE(setupApi.SetupDiGetDeviceInstanceIdW(set, &device, other, 8, nullptr));
    EXPECT_EQ(std::u16string(other), u"A\\B\\C");
    EXPECT_TRUE(setupApi.SetupDiDestroyDeviceInfoList(set));
  }
}

TEST(SimMachineFile, AnUnreadableInstanceIdNeedsACodeAndHasNoKey) {
  const char* bad[] = {
      R"({"devices": [{"instanceId": {"error": 0}}]})",
      R"({"devices": [{"instanceId": {"error": 5, "hex": "4100"}}]})",
      R"({"devices": [{"instanceId": {"error": 5}, "enumKey": true}]})",
      R"({"devices": [{"instanceId": {"error": 5}, "values": {"ParentIdPrefix": "7&1"}}]})",
      R"({"volumes": [{"guid": {"error": 5}}]})",
  };
  for (const char* json : bad) EXPECT_THROW(ParseMachine(json, "test"), MachineFileError) << json;
  EXPECT_NO_THROW(ParseMachine(R"({"devices": [{"instanceId": {"error": 5}, "enumKey": false}]})", "test"));
}

TEST(SimText, Utf16BecomesUtf8WithOnlyRealPairsJoined) {
  struct Case {
    std::u16string text;
    std::string utf8;
  };
  const Case cases[] = {
      {u"A\u00E9\u20AC", "A\xC3\xA9\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      // A high surrogate before anything but a low one stands alone.
      {std::u16string{0xD800, u'A'}, "\xED\xA0\x80" "A"},
      {std::u16string{0xD800, 0xD800, 0xDC00}, "\xED\xA0\x80\xF0\x90\x80\x80"},
      {std::u16string{0xDC00}, "\xED\xB0\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(SimToUtf8(c.text), c.utf8) << c.utf8;
}

}  // namespace
