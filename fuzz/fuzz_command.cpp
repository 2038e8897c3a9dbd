// The whole scan on a machine made from the input: devices, their Enum
// keys, the mount table, drives, volumes with descriptors, the Windows
// version and up to two failing platform calls, drawn mostly from realistic
// pieces so that inputs reach every step. The report must be empty or well
// formed, the platform left as found, and a second scan of a machine
// without faults must report the same.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.h"
#include "platform/sim/sim.h"
#include "scan_checks.h"

namespace {

const char16_t* const kGuids[] = {u"{10000000-0000-0000-0000-000000000001}", u"{20000000-0000-0000-0000-000000000002}",
                                  u"{30000000-0000-0000-0000-000000000003}", u"{40000000-0000-0000-0000-000000000004}"};

const char* const kCalls[] = {"SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo", "SetupDiGetDeviceRegistryPropertyW",
                              "SetupDiGetDeviceInstanceIdW", "SetupDiDestroyDeviceInfoList", "HeapAlloc",
                              "GetVersionExW", "RegOpenKeyExW", "RegQueryValueExW", "RegEnumValueW", "RegCloseKey",
                              "GetLogicalDrives", "GetFileAttributesW", "CreateFileW", "GetFileSize", "ReadFile",
                              "CloseHandle", "GlobalAlloc", "GlobalLock", "GlobalUnlock", "GlobalFree",
                              "MultiByteToWideChar"};

const DWORD kErrors[] = {ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_DATA, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS,
                         ERROR_NOT_READY, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED};

template <typename T, std::size_t N>
const T& Pick(FuzzedDataProvider& in, const T (&choices)[N]) {
  return choices[in.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

std::u16string FreeText(FuzzedDataProvider& in, std::size_t longest) {
  const std::string text = in.ConsumeRandomLengthString(longest);
  std::u16string wide;
  for (char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  return wide;
}

std::u16string RandomCase(FuzzedDataProvider& in, std::u16string text) {
  const bool lower = in.ConsumeBool();
  for (char16_t& c : text) {
    if (lower && c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
  }
  return text;
}

SimBytes MultiString(const std::vector<std::u16string>& strings) {
  SimBytes bytes;
  for (const std::u16string& text : strings) {
    const SimBytes one = Utf16Bytes(text, true);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

struct Pools {
  std::vector<std::u16string> serials;
  std::vector<std::u16string> keys;  // what mount records may hold
};

std::u16string Serial(FuzzedDataProvider& in, const Pools& pools) {
  return pools.serials[in.ConsumeIntegralInRange<std::size_t>(0, pools.serials.size() - 1)];
}

void AddDevice(FuzzedDataProvider& in, Pools& pools, SimulatedMachine& machine) {
  SimDevice device;
  SimKey key;
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: {  // a matching device
      const char16_t* const ids[] = {u"USB\\VID_045E&PID_FFFF", u"USB\\VID_7A5C&PID_FFFF",
                                     u"USB\\VID_045E&PID_FFFF&REV_0100", u"USB\\ROOT_HUB30"};
      std::vector<std::u16string> list;
      for (int n = in.ConsumeIntegralInRange(1, 3); n > 0; --n) list.push_back(RandomCase(in, Pick(in, ids)));
      device.hardwareIds = MultiString(list);
      device.instanceId = std::u16string(Pick(in, ids)).substr(0, 21) + u"\\" + Serial(in, pools);
      const char16_t* const services[] = {u"USBSTOR", u"disk", u""};
      if (in.ConsumeIntegralInRange(0, 7) != 0) device.service = Utf16Bytes(Pick(in, services), true);
      break;
    }
    case 1: {  // a storage child, known by ParentIdPrefix or by its last ID component
      const std::u16string last = Serial(in, pools) + u"&" + static_cast<char16_t>(u'0' + in.ConsumeIntegralInRange(0, 3));
      device.instanceId = u"USBSTOR\\DISK&VEN_X&PROD_Y&REV_1.00\\" + last;
      device.service = Utf16Bytes(u"disk", true);
      pools.keys.push_back(last);
      if (in.ConsumeBool()) {
        const std::u16string prefix = u"7&" + FreeText(in, 8) + u"&0";
        const DWORD types[] = {REG_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY};
        key.values.push_back({u"ParentIdPrefix", Pick(in, types), Utf16Bytes(prefix, in.ConsumeIntegralInRange(0, 7) != 0)});
        pools.keys.push_back(prefix);
      }
      break;
    }
    default:  // anything else
      device.instanceId = FreeText(in, 64);
      if (in.ConsumeBool()) device.hardwareIds = in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<std::size_t>(0, 96));
      if (in.ConsumeBool()) device.service = in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<std::size_t>(0, 24));
  }
  if (in.ConsumeIntegralInRange(0, 7) != 0) {
    key.path = u"SYSTEM\\CurrentControlSet\\Enum\\" + device.instanceId;
    machine.registry.push_back(key);
  }
  machine.devices.push_back(device);
}

SimValue MountValue(FuzzedDataProvider& in, const Pools& pools) {
  SimValue value;
  value.type = in.ConsumeIntegralInRange(0, 7) != 0 ? REG_BINARY : in.ConsumeIntegral<BYTE>();
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
    case 1:
      value.name = RandomCase(in, u"\\DosDevices\\") + static_cast<char16_t>(u'A' + in.ConsumeIntegralInRange(0, 25)) + u":";
      break;
    case 2:
    case 3:
      value.name = u"\\??\\Volume" + std::u16string(Pick(in, kGuids));
      break;
    default:
      value.name = FreeText(in, 300);
  }
  if (!pools.keys.empty() && in.ConsumeIntegralInRange(0, 7) != 0) {
    const std::u16string key = pools.keys[in.ConsumeIntegralInRange<std::size_t>(0, pools.keys.size() - 1)];
    value.data = Utf16Bytes(u"_??_USBSTOR#Disk&Ven_X#" + RandomCase(in, key) + u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                            in.ConsumeBool());
  } else {
    value.data = in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<std::size_t>(0, 1100));
  }
  return value;
}

SimVolume Volume(FuzzedDataProvider& in, const char16_t* guid) {
  SimVolume volume;
  volume.guid = guid;
  const SimMedium media[] = {SimMedium::Ready, SimMedium::Ready, SimMedium::Ready, SimMedium::NoMedium,
                             SimMedium::AccessDenied};
  volume.medium = Pick(in, media);
  const char* const descriptors[] = {"<hardware><type>main</type></hardware>", "<hardware><type></type></hardware>",
                                     "<device><hardware>\r\n<type>x</type></hardware>"};
  for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n) {
    const char16_t* const paths[] = {u"device.xml", u"__TFAT_HIDDEN_ROOT_DIR__\\device.xml",
                                     u"__TFAT_HIDDEN_ROOT_DIR__"};
    SimFile file;
    const std::u16string path = Pick(in, paths);
    file.directory = in.ConsumeIntegralInRange(0, 7) == 0;
    if (in.ConsumeBool()) {
      const std::string text = Pick(in, descriptors);
      file.bytes.assign(text.begin(), text.end());
    } else {
      file.bytes = in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<std::size_t>(0, 300));
    }
    volume.entries[path] = file;
  }
  return volume;
}

SimVersion Version(DWORD major, DWORD minor, DWORD build, DWORD platformId) {
  SimVersion version;
  version.major = major;
  version.minor = minor;
  version.build = build;
  version.platformId = platformId;
  return version;
}

SimulatedMachine MachineFrom(FuzzedDataProvider& in) {
  SimulatedMachine machine;
  const SimVersion versions[] = {Version(5, 1, 2600, VER_PLATFORM_WIN32_NT), Version(6, 0, 6000, VER_PLATFORM_WIN32_NT),
                                 Version(10, 0, 19045, VER_PLATFORM_WIN32_NT), Version(4, 10, 2222, 1)};
  if (in.ConsumeIntegralInRange(0, 7) != 0) machine.version = Pick(in, versions);
  else machine.version.reset();
  Pools pools;
  const char16_t* const serials[] = {u"0123456789AB", u"A1", u"SN0042", u"5&2C3D&0&2"};
  for (int n = in.ConsumeIntegralInRange(1, 3); n > 0; --n) {
    pools.serials.push_back(in.ConsumeBool() ? std::u16string(Pick(in, serials)) : FreeText(in, 24));
  }
  for (int n = in.ConsumeIntegralInRange(0, 10); n > 0; --n) AddDevice(in, pools, machine);
  machine.driveMask = in.ConsumeIntegral<DWORD>() & 0x3FFFFFFu;
  SimKey mount{u"SYSTEM\\MountedDevices", {}};
  for (int n = in.ConsumeIntegralInRange(0, 12); n > 0; --n) mount.values.push_back(MountValue(in, pools));
  if (in.ConsumeIntegralInRange(0, 15) != 0) machine.registry.push_back(mount);
  for (const char16_t* guid : kGuids) machine.volumes.push_back(Volume(in, guid));
  for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n) {
    machine.faults.push_back({Pick(in, kCalls), in.ConsumeIntegralInRange<DWORD>(1, 20), Pick(in, kErrors)});
  }
  machine.callLimit = 100000;
  return machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const SimulatedMachine machine = MachineFrom(in);
  SimInstall(machine);
  DeviceInventory inventory;
  inventory.Refresh();
  const std::string report = ReportOf(inventory);
  const std::string problem = ReportProblem(report, inventory.Count() != 0 ? 0 : 1, machine.driveMask) + PlatformProblem();
  Require(problem.empty(), problem);
  if (machine.faults.empty()) {
    inventory.Refresh();
    Require(ReportOf(inventory) == report, "a second scan reported otherwise");
  }
  ReleaseSim();
  return 0;
}
