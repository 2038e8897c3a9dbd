#include "setupapi/setupapi_binding.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

SimulatedMachine MachineWithDevice() {
  SimulatedMachine machine;
  machine.devices.push_back({u"USB\\VID_045E&PID_FFFF\\1", std::nullopt, std::nullopt});
  return machine;
}

// A system directory of the given length, "C:\D...D".
std::u16string DirectoryOfLength(std::size_t length) { return u"C:\\" + std::u16string(length - 3, u'D'); }

TEST(SetupApiBinding, LoadsOnlyFromTheSystemDirectoryAndOnlyWhenThePathFits) {
  struct Case {
    const char* what;
    std::u16string systemDirectory;
    std::vector<SimFault> faults;
    bool loaded;
  };
  const Case cases[] = {
      {"the default directory", u"C:\\Windows\\system32", {}, true},
      {"another drive and case", u"D:\\WINNT\\SYSTEM32", {}, true},
      {"a root directory, which ends with a backslash", u"C:\\", {}, true},
      {"a path of exactly MAX_PATH with its terminator", DirectoryOfLength(246), {}, true},
      {"a path one character over", DirectoryOfLength(247), {}, false},
      {"a directory that fits, the path not", DirectoryOfLength(259), {}, false},
      {"a directory that does not fit", DirectoryOfLength(260), {}, false},
      {"a directory far over", DirectoryOfLength(1000), {}, false},
      {"the directory call failing", u"C:\\Windows\\system32", {{"GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED}}, false},
      {"the load failing", u"C:\\Windows\\system32", {{"LoadLibraryExW", 1, ERROR_MOD_NOT_FOUND}}, false},
  };
  for (const Case& c : cases) {
    SimulatedMachine machine = MachineWithDevice();
    machine.systemDirectory = c.systemDirectory;
    machine.faults = c.faults;
    SimInstall(machine);
    {
      SetupApiBinding binding;
      SP_DEVINFO_DATA data{};
      data.cbSize = sizeof data;
      const HDEVINFO set = binding.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
      EXPECT_EQ(binding.SetupDiEnumDeviceInfo(set, 0, &data) == TRUE, c.loaded) << c.what;
      EXPECT_EQ(binding.SetupDiDestroyDeviceInfoList(set) == TRUE, c.loaded) << c.what;
      EXPECT_EQ(Sim().counters.procLookups.size(), c.loaded ? 8u : 0u) << c.what;
    }
    EXPECT_EQ(Sim().counters.librariesLoaded, c.loaded ? 1 : 0) << c.what;
    EXPECT_EQ(Sim().counters.librariesFreed, c.loaded ? 1 : 0) << c.what;
    EXPECT_EQ(Sim().counters.calls["GetSystemDirectoryW"], 1) << c.what;
  }
}

TEST(SetupApiBinding, LooksUpEightEntryPointsInOrder) {
  SimInstall(SimulatedMachine{});
  { SetupApiBinding binding; }
  const std::vector<std::string> expected = {
      "SetupDiDeleteDevRegKey",      "SetupDiDestroyDeviceInfoList", "SetupDiEnumDeviceInfo",
      "SetupDiRemoveDevice",         "SetupDiGetClassDevsW",         "SetupDiGetDeviceInstanceIdW",
      "SetupDiGetDeviceRegistryPropertyW", "CM_Request_Device_EjectW"};
  EXPECT_EQ(Sim().counters.procLookups, expected);
  EXPECT_EQ(Sim().counters.librariesLoaded, 1);
  EXPECT_EQ(Sim().counters.librariesFreed, 1);
}

TEST(SetupApiBinding, AbsentLibraryMakesEveryCallFailWithoutTouchingLastError) {
  SimulatedMachine machine = MachineWithDevice();
  machine.setupApiPresent = false;
  SimInstall(machine);
  {
    SetupApiBinding binding;
    SetLastError(12345);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    DWORD size = 0;
    WCHAR id[256];
    BYTE buffer[64];
    const HDEVINFO set = binding.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    EXPECT_EQ(set, nullptr);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(binding.SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_FALSE(binding.SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, nullptr, buffer,
                                                           sizeof buffer, &size));
    EXPECT_FALSE(binding.SetupDiGetDeviceInstanceIdW(set, &data, id, 256, &size));
    EXPECT_FALSE(binding.SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), 12345u);
    EXPECT_TRUE(Sim().counters.procLookups.empty());
  }
  EXPECT_EQ(Sim().counters.librariesFreed, 0);
}

TEST(SetupApiBinding, MissingEntryPointFailsOnlyItsOwnCall) {
  const char* used[] = {"SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo", "SetupDiGetDeviceInstanceIdW",
                        "SetupDiGetDeviceRegistryPropertyW", "SetupDiDestroyDeviceInfoList"};
  for (const char* missing : used) {
    SimulatedMachine machine = MachineWithDevice();
    machine.missingEntryPoints = {missing};
    SimInstall(machine);
    SetupApiBinding binding;
    const HDEVINFO set = binding.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    const bool setMissing = std::string(missing) == "SetupDiGetClassDevsW";
    EXPECT_EQ(set == nullptr, setMissing) << missing;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const BOOL enumerated = binding.SetupDiEnumDeviceInfo(set, 0, &data);
    EXPECT_EQ(enumerated == FALSE, setMissing || std::string(missing) == "SetupDiEnumDeviceInfo") << missing;
    WCHAR id[256];
    DWORD size = 0;
    if (enumerated) {
      EXPECT_EQ(binding.SetupDiGetDeviceInstanceIdW(set, &data, id, 256, &size) == FALSE,
                std::string(missing) == "SetupDiGetDeviceInstanceIdW") << missing;
      // The device has no hardware IDs: present, the call fails with the platform's own code.
      SetLastError(0);
      EXPECT_FALSE(binding.SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size));
      EXPECT_EQ(GetLastError(), std::string(missing) == "SetupDiGetDeviceRegistryPropertyW" ? 0u
                                                                                            : DWORD{ERROR_INVALID_DATA});
    }
    if (!setMissing) {
      EXPECT_EQ(binding.SetupDiDestroyDeviceInfoList(set) == FALSE,
                std::string(missing) == "SetupDiDestroyDeviceInfoList") << missing;
    }
  }
  SimInstall(SimulatedMachine{});  // forget the set left open on purpose
}

TEST(SetupApiBinding, UnusedEntryPointsMissingChangeNothing) {
  SimulatedMachine machine = MachineWithDevice();
  machine.missingEntryPoints = {"SetupDiDeleteDevRegKey", "SetupDiRemoveDevice", "CM_Request_Device_EjectW"};
  SimInstall(machine);
  SetupApiBinding binding;
  const HDEVINFO set = binding.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  ASSERT_NE(set, nullptr);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  EXPECT_TRUE(binding.SetupDiEnumDeviceInfo(set, 0, &data));
  EXPECT_TRUE(binding.SetupDiDestroyDeviceInfoList(set));
}

TEST(SetupApiBinding, PassesResultsThroughUnchanged) {
  SimulatedMachine machine = MachineWithDevice();
  machine.faults.push_back({"SetupDiGetClassDevsW", 1, ERROR_ACCESS_DENIED});
  SimInstall(machine);
  SetupApiBinding binding;
  EXPECT_EQ(binding.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  const HDEVINFO set = binding.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  WCHAR id[256];
  DWORD size = 0;
  ASSERT_TRUE(binding.SetupDiEnumDeviceInfo(set, 0, &data));
  ASSERT_TRUE(binding.SetupDiGetDeviceInstanceIdW(set, &data, id, 256, &size));
  EXPECT_EQ(Utf8(id), "USB\\VID_045E&PID_FFFF\\1");
  EXPECT_EQ(size, 24u);  // characters, terminator included
  EXPECT_FALSE(binding.SetupDiEnumDeviceInfo(set, 1, &data));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_ITEMS});
  EXPECT_TRUE(binding.SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(Sim().counters.openSets, 0);
}

// The sim is the yardstick of the load: it must refuse every weaker form.
TEST(SimLibraryLoading, FindsTheSetupApiOnlyByItsSystemPathWithAlteredSearchPath) {
  SimulatedMachine machine;
  machine.systemDirectory = u"C:\\WINDOWS\\system32";
  SimInstall(machine);
  struct Case {
    const char16_t* name;
    DWORD flags;
    bool found;
  };
  const Case cases[] = {
      {u"C:\\WINDOWS\\system32\\SetupApi.dll", LOAD_WITH_ALTERED_SEARCH_PATH, true},
      {u"c:\\windows\\SYSTEM32\\setupapi.DLL", LOAD_WITH_ALTERED_SEARCH_PATH, true},
      {u"C:\\WINDOWS\\system32\\SetupApi.dll", 0, false},
      {u"SetupApi.dll", LOAD_WITH_ALTERED_SEARCH_PATH, false},
      {u"SetupApi", 0, false},
      {u"C:\\Windows\\SetupApi.dll", LOAD_WITH_ALTERED_SEARCH_PATH, false},
      {u"C:\\WINDOWS\\system32\\SetupApi.dll.", LOAD_WITH_ALTERED_SEARCH_PATH, false},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    const HMODULE module = LoadLibraryExW(c.name, nullptr, c.flags);
    EXPECT_EQ(module != nullptr, c.found) << SimToUtf8(c.name) << " " << c.flags;
    if (module != nullptr) {
      EXPECT_TRUE(FreeLibrary(module));
    } else {
      EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND}) << SimToUtf8(c.name);
    }
    // LoadLibraryW is LoadLibraryExW without flags: never the safe form.
    EXPECT_EQ(LoadLibraryW(c.name), nullptr) << SimToUtf8(c.name);
  }
  int file = 0;
  EXPECT_EQ(LoadLibraryExW(u"C:\\WINDOWS\\system32\\SetupApi.dll", &file, LOAD_WITH_ALTERED_SEARCH_PATH), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(Sim().counters.librariesLoaded, Sim().counters.librariesFreed);
}

TEST(SimLibraryLoading, SystemDirectoryFollowsTheSizeProtocol) {
  SimulatedMachine machine;
  machine.systemDirectory = u"C:\\WINNT\\system32";  // 17 characters
  SimInstall(machine);
  WCHAR buffer[32];
  for (UINT size : {0u, 1u, 17u}) {
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetSystemDirectoryW(buffer, size), 18u) << size;  // terminator included
    EXPECT_EQ(buffer[0], u'#') << size;                           // nothing written
  }
  EXPECT_EQ(GetSystemDirectoryW(nullptr, 0), 18u);
  EXPECT_EQ(GetSystemDirectoryW(buffer, 18), 17u);  // terminator not counted
  EXPECT_EQ(Utf8(buffer), "C:\\WINNT\\system32");
  EXPECT_EQ(buffer[18], u'#');

  machine.faults.push_back({"GetSystemDirectoryW", 1, ERROR_NOT_ENOUGH_MEMORY});
  SimInstall(machine);
  EXPECT_EQ(GetSystemDirectoryW(buffer, 32), 0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
}

}  // namespace
