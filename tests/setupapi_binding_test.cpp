#include "setupapi/setupapi_binding.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

SimulatedMachine MachineWithDevice() {
  SimulatedMachine machine;
  machine.devices.push_back({u"USB\\VID_045E&PID_FFFF\\1", std::nullopt, std::nullopt});
  return machine;
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

}  // namespace
