// The whole scan on generated machines against the work no scan can avoid:
// one pass over the same devices reading each one's hardware IDs and
// instance ID once. Prints the cost per device and per mount value and,
// last, the ratio of the scan to that baseline at every size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "inventory/device_inventory.h"
#include "platform/sim/sim.h"
#include "setupapi/setupapi_binding.h"

namespace {

SimBytes Utf16(const std::u16string& text) {
  SimBytes bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

SimBytes MultiString(std::initializer_list<std::u16string> strings) {
  SimBytes bytes;
  for (const std::u16string& text : strings) {
    const SimBytes one = Utf16(text);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

std::u16string VolumeGuid(unsigned n) { return Wide("{" + Hex(n, 8) + "-0000-0000-0000-000000000000}"); }

std::u16string Record(const std::string& key) {
  return Wide("_??_USBSTOR#Disk&Ven_X&Prod_Y&Rev_1.00#" + key + "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
}

// A Windows 10 machine with `devices` present devices, every one with its
// Enum key, of which `candidates` match, each with one storage child
// whose volume carries a descriptor; all 26 drive letters in use and
// `mountValues` values in the mount table, the candidates' volume names
// last (the longest lookups).
SimulatedMachine GeneratedMachine(unsigned devices, unsigned candidates, unsigned mountValues) {
  SimulatedMachine machine;
  machine.driveMask = (1u << 26) - 1;
  SimKey mount{u"SYSTEM\\MountedDevices", {}};
  std::vector<SimValue> candidateVolumes;
  unsigned placed = 0;
  for (unsigned i = 0; machine.devices.size() < devices; ++i) {
    if (placed < candidates && machine.devices.size() + 1 >= (placed + 1) * devices / (candidates + 1)) {
      const std::string serial = "SERIAL" + Hex(placed, 6);
      SimDevice device{u"USB\\VID_045E&PID_FFFF\\" + Wide(serial),
                       MultiString({u"USB\\VID_045E&PID_FFFF&REV_0100", u"USB\\VID_045E&PID_FFFF"}), Utf16(u"USBSTOR")};
      SimDevice child{u"USBSTOR\\DISK&VEN_MSFT&PROD_MAIN&REV_1.00\\" + Wide(serial) + u"&0",
                      MultiString({u"USBSTOR\\DiskMSFT____MAIN____________1.00", u"GenDisk"}), Utf16(u"disk")};
      machine.devices.push_back(device);
      machine.devices.push_back(child);
      const unsigned letter = 3 + placed % 23;
      mount.values.push_back({u"\\DosDevices\\" + std::u16string(1, static_cast<char16_t>('A' + letter)) + u":",
                              REG_BINARY, Utf16(Record(serial + "&0"))});
      candidateVolumes.push_back({u"\\??\\Volume" + VolumeGuid(placed), REG_BINARY, Utf16(Record(serial + "&0"))});
      SimVolume volume;
      volume.guid = VolumeGuid(placed);
      volume.entries[u"device.xml"].bytes = {'<', 'h', 'a', 'r', 'd', 'w', 'a', 'r', 'e', '>', '<', 't', 'y', 'p',
                                             'e', '>', 'm', '<', '/', 't', 'y', 'p', 'e', '>'};
      machine.volumes.push_back(volume);
      ++placed;
      continue;
    }
    const std::string pci = "PCI\\VEN_8086&DEV_" + Hex(i, 4) + "&SUBSYS_82191043&REV_21";
    machine.devices.push_back({Wide(pci + "\\3&11583659&0&" + Hex(i % 256, 2)),
                               MultiString({Wide(pci), Wide("PCI\\VEN_8086&DEV_" + Hex(i, 4) + "&SUBSYS_82191043"),
                                            Wide("PCI\\VEN_8086&DEV_" + Hex(i, 4) + "&CC_0C0330"), u"PCI\\VEN_8086&CC_0C03"}),
                               Utf16(u"pci")});
  }
  for (const SimDevice& device : machine.devices) {
    machine.registry.push_back({u"SYSTEM\\CurrentControlSet\\Enum\\" + device.instanceId, {}});
  }
  for (unsigned letter = 0; letter < 26; ++letter) {
    const std::u16string name = u"\\DosDevices\\" + std::u16string(1, static_cast<char16_t>('A' + letter)) + u":";
    bool taken = false;
    for (const SimValue& value : mount.values) taken = taken || value.name == name;
    if (!taken) mount.values.push_back({name, REG_BINARY, Utf16(Record("OTHER" + Hex(letter, 2) + "&0"))});
  }
  for (unsigned n = 0; mount.values.size() + candidateVolumes.size() < mountValues; ++n) {
    mount.values.push_back({u"\\??\\Volume" + VolumeGuid(0x80000000u + n), REG_BINARY,
                            Utf16(Record("OTHERVOLUME" + Hex(n, 5) + "&0"))});
  }
  mount.values.insert(mount.values.end(), candidateVolumes.begin(), candidateVolumes.end());
  machine.registry.push_back(mount);
  return machine;
}

void Scan(benchmark::State& state, unsigned devices, unsigned candidates, unsigned mountValues) {
  SimInstall(GeneratedMachine(devices, candidates, mountValues));
  DeviceInventory inventory;
  for (auto _ : state) {
    inventory.Refresh();
    benchmark::DoNotOptimize(inventory.Count());
  }
  if (inventory.Count() != candidates) state.SkipWithError("the scan did not find every device");
}

// What no scan can avoid: the device set, and each device's hardware IDs
// and instance ID read once.
[[gnu::noinline]] void ReadEveryDeviceOnce() {
  const HDEVINFO set = setupApi.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  BYTE ids[1024];
  WCHAR id[256];
  DWORD required = 0;
  for (DWORD index = 0; setupApi.SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    setupApi.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, ids, sizeof ids, &required);
    setupApi.SetupDiGetDeviceInstanceIdW(set, &device, id, 256, &required);
    benchmark::DoNotOptimize(ids);
    benchmark::DoNotOptimize(id);
  }
  setupApi.SetupDiDestroyDeviceInfoList(set);
}

void Baseline(benchmark::State& state, unsigned devices, unsigned candidates) {
  SimInstall(GeneratedMachine(devices, candidates, 0));
  for (auto _ : state) ReadEveryDeviceOnce();
}

// Keeps each benchmark's time per iteration, in microseconds, by name: the
// fastest repetition when there are several. Other work on the machine
// only ever adds time, so the fastest run is the one it disturbed least;
// a median still moves with a burst of load.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.run_name.str();
      const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == kFastest;
      if (fastest || (run.run_type == Run::RT_Iteration && fastest_.count(name) == 0)) {
        micros[name] = run.GetAdjustedCPUTime();  // in the unit set: microseconds
      }
      if (fastest) fastest_.insert(name);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> micros;
  static constexpr const char* kFastest = "min";

 private:
  std::set<std::string> fastest_;
};

double Fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

const unsigned kDeviceCounts[] = {100, 1000, 10000};
const unsigned kCandidateCounts[] = {1, 2, 20};
const unsigned kMountValueCounts[] = {50, 500, 5000};
constexpr unsigned kFixedMountValues = 50;
constexpr unsigned kFixedDevices = 1000;

std::string ScanName(unsigned devices, unsigned candidates, unsigned mountValues) {
  return "scan/devices:" + std::to_string(devices) + "/candidates:" + std::to_string(candidates) +
         "/mountValues:" + std::to_string(mountValues);
}

std::string BaselineName(unsigned devices) { return "baseline/devices:" + std::to_string(devices); }

// Times in microseconds, with the fastest repetition among the statistics.
template <class Function, class... Args>
void Register(const std::string& name, Function& function, Args... args) {
  benchmark::RegisterBenchmark(name.c_str(), function, args...)
      ->Unit(benchmark::kMicrosecond)
      ->ComputeStatistics(Collector::kFastest, Fastest);
}

}  // namespace

int main(int argc, char** argv) {
  for (unsigned devices : kDeviceCounts) {
    Register(BaselineName(devices), Baseline, devices, 2u);
    for (unsigned candidates : kCandidateCounts) {
      Register(ScanName(devices, candidates, kFixedMountValues), Scan, devices, candidates, kFixedMountValues);
    }
  }
  for (unsigned mountValues : kMountValueCounts) {
    if (mountValues == kFixedMountValues) continue;  // registered above
    Register(ScanName(kFixedDevices, 2, mountValues), Scan, kFixedDevices, 2u, mountValues);
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  std::map<std::string, double>& t = collector.micros;
  std::printf("\nCost per device (scan time / devices, %u mount values), in ns:\n", kFixedMountValues);
  std::printf("%10s %12s %12s %12s %12s\n", "devices", "baseline", "1 candidate", "2 candidates", "20 candidates");
  for (unsigned devices : kDeviceCounts) {
    std::printf("%10u %12.1f", devices, 1000 * t[BaselineName(devices)] / devices);
    for (unsigned candidates : kCandidateCounts) {
      std::printf(" %12.1f", 1000 * t[ScanName(devices, candidates, kFixedMountValues)] / devices);
    }
    std::printf("\n");
  }
  std::printf("\nCost per mount value (%u devices, 2 candidates, 26 letters), in ns:\n", kFixedDevices);
  std::printf("%12s %12s %22s\n", "mount values", "scan (us)", "added per extra value");
  unsigned previous = 0;
  for (unsigned mountValues : kMountValueCounts) {
    const double micros = t[ScanName(kFixedDevices, 2, mountValues)];
    std::printf("%12u %12.1f", mountValues, micros);
    if (previous != 0) {
      std::printf(" %22.1f", 1000 * (micros - t[ScanName(kFixedDevices, 2, previous)]) / (mountValues - previous));
    }
    std::printf("\n");
    previous = mountValues;
  }
  std::printf("\nRatio of the whole scan to the baseline (target < 3 with 1 or 2 candidates):\n");
  std::printf("%10s %12s %12s %12s\n", "devices", "1 candidate", "2 candidates", "20 candidates");
  for (unsigned devices : kDeviceCounts) {
    std::printf("%10u", devices);
    for (unsigned candidates : kCandidateCounts) {
      std::printf(" %12.2f", t[ScanName(devices, candidates, kFixedMountValues)] / t[BaselineName(devices)]);
    }
    std::printf("\n");
  }
  return 0;
}
