// Candidate devices and their storage children, by direct calls on
// simulated machines.
#include <gtest/gtest.h>

#include "platform/sim/machine_file.h"
#include "test_support.h"

namespace {

struct Found {
  std::string tail;
  std::string service;
  std::vector<std::string> keys;
};

// Runs discovery on the machine and checks that it released all it took;
// a scan that would never end aborts.
std::vector<Found> Discover(const std::string& json) {
  SimulatedMachine machine = ParseMachine(json, "test");
  machine.callLimit = 10000;
  SimInstall(machine);
  DeviceInventory inventory;
  std::vector<CandidateDevice> candidates;
  InventoryTestAccess::DiscoverCandidates(inventory, candidates);
  EXPECT_EQ(Sim().counters.openSets, 0) << json;
  EXPECT_EQ(Sim().counters.openKeys, 0) << json;
  EXPECT_EQ(Sim().counters.heapBlocks, 0) << json;
  std::vector<Found> found;
  for (const CandidateDevice& candidate : candidates) {
    Found item{Utf8(candidate.instanceTail), Utf8(candidate.serviceName), {}};
    EXPECT_EQ(candidate.instanceTailLength, SimFromUtf8(item.tail).size());
    for (const VolumeEntry& entry : candidate.volumes) {
      EXPECT_EQ(entry.root[0], 0);
      EXPECT_EQ(entry.volumePath[0], 0);
      item.keys.push_back(Utf8(entry.matchKey));
    }
    found.push_back(item);
  }
  return found;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) out += (c == '\\' || c == '"') ? std::string("\\") + c : std::string(1, c);
  return out;
}

std::string Quote(const std::string& text) { return "\"" + Escape(text) + "\""; }

std::string List(const std::vector<std::string>& items) {
  std::string json = "[";
  for (std::size_t i = 0; i < items.size(); ++i) json += (i ? "," : "") + Quote(items[i]);
  return json + "]";
}

// A device; hardwareIds is JSON (a list, or raw hex), values the JSON of its key's values.
std::string Device(const std::string& id, const std::string& hardwareIds, const std::string& service = "usbccgp",
                   const std::string& values = "{}") {
  return "{\"instanceId\": " + Quote(id) + ", \"hardwareIds\": " + hardwareIds + ", \"service\": " + Quote(service) +
         ", \"values\": " + values + "}";
}

std::string Machine(const std::vector<std::string>& devices, const std::string& extra = "") {
  std::string json = "{\"devices\": [";
  for (std::size_t i = 0; i < devices.size(); ++i) json += (i ? "," : "") + devices[i];
  return json + "]" + extra + "}";
}

std::string Fault(const char* call, DWORD nth, DWORD error) {
  return ", \"faults\": [{\"call\": \"" + std::string(call) + "\", \"nth\": " + std::to_string(nth) +
         ", \"error\": " + std::to_string(error) + "}]";
}

const std::string kMain = List({"USB\\VID_045E&PID_FFFF"});
const std::string kOther = List({"USB\\VID_7A5C&PID_FFFF"});
const std::string kDisk = List({"USBSTOR\\DiskVen_X"});
const char* kXp = ", \"os\": {\"major\": 5, \"minor\": 1, \"build\": 2600}";

TEST(Discovery, MatchesWholeHardwareIdsIgnoringAsciiCase) {
  struct Case {
    std::vector<std::string> hardwareIds;
    bool matches;
  };
  const Case cases[] = {
      {{"USB\\VID_045E&PID_FFFF"}, true},
      {{"usb\\vid_7a5c&pid_ffff"}, true},
      {{"Usb\\Vid_7A5c&Pid_fFfF"}, true},
      {{"USB\\VID_045E&PID_FFFF&REV_0100", "USB\\VID_045E&PID_FFFF"}, true},
      {{"USB\\VID_045E&PID_FFFF&REV_0100"}, false},
      {{"USB\\VID_045E&PID_FFF"}, false},
      {{"USB\\VID_045E&PID_FFFE", "USB\\Class_08"}, false},
      {{"", "USB\\VID_045E&PID_FFFF"}, false},  // the list ends at its first empty string
      {{"USB\\VID_045E&PID_FFFF", "USB\\VID_7A5C&PID_FFFF"}, true},
  };
  for (const Case& c : cases) {
    const auto found = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\SERIAL1", List(c.hardwareIds))}));
    EXPECT_EQ(found.size(), c.matches ? 1u : 0u) << List(c.hardwareIds);
  }
}

TEST(Discovery, CutsTheInstanceTailAfterTheMatchedIdAndSeparator) {
  struct Case {
    const char* id;
    const char* tail;
  };
  const Case cases[] = {
      {"USB\\VID_045E&PID_FFFF\\0123456789AB", "0123456789AB"},
      {"USB\\VID_7A5C&PID_FFFF\\6&1b2c3d&0&2", "6&1B2C3D&0&2"},  // IDs come upper-cased
      {"USB\\VID_045E&PID_FFFF\\", ""},
      // Too short to carry a tail: kept whole, so it claims no unrelated child.
      {"USB\\VID_045E&PID_FFFF", "USB\\VID_045E&PID_FFFF"},
      {"X", "X"},
  };
  for (const Case& c : cases) {
    const auto found = Discover(Machine({Device(c.id, kMain, "USBSTOR")}));
    ASSERT_EQ(found.size(), 1u) << c.id;
    EXPECT_EQ(found[0].tail, c.tail) << c.id;
    EXPECT_EQ(found[0].service, "USBSTOR");
  }
}

TEST(Discovery, HardwareIdWalkStaysWithinTheReturnedBytes) {
  // Raw property bytes as drivers publish them: without the list's final
  // terminator, without any terminator, with an odd byte count.
  const std::string id =  // "USB\VID_045E&PID_FFFF" in UTF-16LE
      "5500530042005c005600490044005f00300034003500450026005000490044005f004600460046004600";
  const std::string end = "0000";
  struct Case {
    std::string hex;
    bool matches;
  };
  const Case cases[] = {
      {"", false},          {"00", false},         {end, false},
      {id + end + end, true}, {id + end, true},    {id, true},
      {id + "46", true},    // the odd last byte is dropped
      {id + "4600", false},  // one character more
      {id.substr(0, id.size() - 4), false},
      {id + end + "5800", true},
  };
  for (const Case& c : cases) {
    const auto found = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\S", "{\"hex\": \"" + c.hex + "\"}")}));
    EXPECT_EQ(found.size(), c.matches ? 1u : 0u) << c.hex;
  }
}

TEST(Discovery, GrowsTheWorkBufferInStepsAndReusesIt) {
  // 662 bytes of hardware IDs: read into 768 bytes; the next device reuses them.
  std::vector<std::string> longList(28, "USB\\ABC_01");
  longList.push_back("USB\\VID_045E&PID_FFFF");
  const auto found = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\A", List(longList)),
                                       Device("USB\\VID_7A5C&PID_FFFF\\B", kOther)}));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(Sim().counters.heapAllocations, (std::vector<std::size_t>{512, 768}));

  // A child ID of n characters needs (30 + n + 1) * 2 bytes for its key
  // path: 225 fill the first block exactly.
  struct Case {
    std::size_t idLength;
    std::vector<std::size_t> allocations;
  };
  const Case cases[] = {{225, {512}}, {226, {512, 768}}, {240, {512, 768}}};
  for (const Case& c : cases) {
    const std::string childId = "USBSTOR\\DISK&VEN_" + std::string(c.idLength - 39, 'V') + "&PROD_Y&REV_1.00\\SER&0";
    ASSERT_EQ(childId.size(), c.idLength);
    const auto child = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\SER", kMain, "USBSTOR"),
                                         Device(childId, kDisk, "disk")}));
    ASSERT_EQ(child.size(), 1u);
    EXPECT_EQ(child[0].keys, std::vector<std::string>{"SER&0"}) << c.idLength;
    EXPECT_EQ(Sim().counters.heapAllocations, c.allocations) << c.idLength;
  }
}

// A driver may report any size for its list. One at 0xFFFFFF00 or above has
// no next step of 256 bytes: the scan ends without trying to allocate it.
TEST(Discovery, RequiredSizeWithoutANextStepEndsTheScan) {
  const std::string id = "5500530042005c005600490044005f00300034003500450026005000490044005f004600460046004600";
  struct Case {
    DWORD size;
    std::size_t candidates;
    int heapAllocs;
  };
  const Case cases[] = {
      {0x1000, 3, 2},  // read whole into 0x1100 bytes, zeros after the list
      {0xFFFFFEFF, 1, 2},
      {0xFFFFFF00, 1, 1},
      {0xFFFFFFFF, 1, 1},
  };
  for (const Case& c : cases) {
    const std::string declared = "{\"hex\": \"" + id + "\", \"size\": " + std::to_string(c.size) + "}";
    const auto found = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\A", kMain),
                                         Device("USB\\VID_045E&PID_FFFF\\B", declared),
                                         Device("USB\\VID_7A5C&PID_FFFF\\C", kOther)}));
    EXPECT_EQ(found.size(), c.candidates) << c.size;
    EXPECT_EQ(Sim().counters.calls["HeapAlloc"], c.heapAllocs) << c.size;
  }
}

TEST(Discovery, SkipsDevicesWithoutIdsAndStopsOnOtherErrors) {
  const std::vector<std::string> devices = {
      Device("USB\\VID_045E&PID_FFFF\\A", kMain, "USBSTOR"),
      "{\"instanceId\": \"ROOT\\\\NOIDS\\\\0000\"}",
      Device("USBSTOR\\DISK\\A&0", kDisk, "disk"),
      Device("USB\\VID_7A5C&PID_FFFF\\B", kOther, "USBSTOR"),
  };
  const auto clean = Discover(Machine(devices));
  ASSERT_EQ(clean.size(), 2u);
  EXPECT_EQ(clean[0].keys, std::vector<std::string>{"A&0"});

  struct Case {
    DWORD nth;  // of the property reads (the service name is read after a match), 0 for all
    DWORD error;
    std::size_t candidates;
  };
  const Case cases[] = {
      {4, ERROR_ACCESS_DENIED, 1},  // at the child: the first candidate stays, without volumes
      {1, ERROR_NOT_ENOUGH_MEMORY, 0},
      {4, ERROR_INVALID_DATA, 2},         // "no list": skipped like the device without one
      {0, ERROR_INSUFFICIENT_BUFFER, 0},  // room asked for but never needed: ends, no endless retry
  };
  for (const Case& c : cases) {
    const auto found = Discover(Machine(devices, Fault("SetupDiGetDeviceRegistryPropertyW", c.nth, c.error)));
    ASSERT_EQ(found.size(), c.candidates) << c.nth;
    if (!found.empty()) {
      EXPECT_EQ(found[0].keys.empty(), c.error != ERROR_INVALID_DATA) << c.nth;
    }
    EXPECT_EQ(Sim().counters.calls["SetupDiDestroyDeviceInfoList"], 1);
  }
}

TEST(Discovery, EndStepReleasesExactlyWhatWasAcquired) {
  const std::string device = Device("USB\\VID_045E&PID_FFFF\\A", kMain);
  // No set: nothing to destroy, nothing allocated.
  EXPECT_TRUE(Discover(Machine({device}, Fault("SetupDiGetClassDevsW", 1, ERROR_ACCESS_DENIED))).empty());
  EXPECT_EQ(Sim().counters.calls["SetupDiDestroyDeviceInfoList"], 0);
  EXPECT_EQ(Sim().counters.calls["HeapAlloc"], 0);
  // The first block missing: the first read asks for room and gets it.
  EXPECT_EQ(Discover(Machine({device}, Fault("HeapAlloc", 1, 0))).size(), 1u);
  EXPECT_EQ(Sim().counters.heapAllocations, std::vector<std::size_t>{256});
  // Growing fails: the scan ends, the set is still destroyed.
  const std::string longList = List({"USB\\" + std::string(300, 'X'), "USB\\VID_045E&PID_FFFF"});
  EXPECT_TRUE(Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\A", longList)}, Fault("HeapAlloc", 2, 0))).empty());
  EXPECT_EQ(Sim().counters.calls["SetupDiDestroyDeviceInfoList"], 1);
}

TEST(Discovery, FailedReadsOfIdOrServiceName) {
  const std::string first = Device("USB\\VID_045E&PID_FFFF\\A", kMain, "USBSTOR");
  const std::string second = Device("USB\\VID_7A5C&PID_FFFF\\B", kOther, "USBSTOR");
  const auto noId = Discover(Machine({first, second}, Fault("SetupDiGetDeviceInstanceIdW", 1, ERROR_INVALID_PARAMETER)));
  ASSERT_EQ(noId.size(), 1u);
  EXPECT_EQ(noId[0].tail, "B");
  // Service name unreadable: the tail alone would make the device its own
  // child (key "A", found in most mount records), so it gets no children.
  const std::string child = Device("USBSTOR\\DISK\\A&0", kDisk, "disk");
  const auto noService = Discover(Machine({first, child}, Fault("SetupDiGetDeviceRegistryPropertyW", 2, ERROR_INVALID_DATA)));
  ASSERT_EQ(noService.size(), 1u);
  EXPECT_TRUE(noService[0].keys.empty());
}

// The service name's field holds 512 bytes: a name that fills it without
// a terminator is cut to 255 characters; one longer cannot be read.
TEST(Discovery, ServiceNameStaysWithinItsField) {
  std::string unterminated;
  for (int i = 0; i < 256; ++i) unterminated += "5300";
  struct Case {
    std::string service;  // JSON
    std::string read;
  };
  const Case cases[] = {
      {Quote(std::string(255, 'S')), std::string(255, 'S')},
      {"{\"hex\": \"" + unterminated + "\"}", std::string(255, 'S')},
      {Quote(std::string(256, 'S')), "\x01"},  // the stand-in of a name that cannot be read
  };
  for (const Case& c : cases) {
    const auto found = Discover(Machine({"{\"instanceId\": \"USB\\\\VID_045E&PID_FFFF\\\\A\", \"hardwareIds\": " + kMain +
                                         ", \"service\": " + c.service + "}"}));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].service, c.read) << c.service.substr(0, 20);
  }
}

TEST(Discovery, ChildrenCarryBothServiceNameAndTailExactly) {
  const std::string parent = Device("USB\\VID_045E&PID_FFFF\\SN1", kMain, "USBSTOR");
  struct Case {
    const char* childId;
    bool child;
  };
  const Case cases[] = {
      {"USBSTOR\\DISK&VEN_X\\SN1&0", true},
      {"USBSTOR\\DISK&VEN_X\\SN2&0", false},   // tail missing
      {"SCSI\\DISK&VEN_X\\SN1&0", false},      // service missing
      {"X\\SN1USBSTOR", true},                 // anywhere in the ID
      {"SN1", false},                          // shorter than service and tail together cannot hold both
  };
  for (const Case& c : cases) {
    const auto found = Discover(Machine({parent, Device(c.childId, kDisk, "disk")}));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].keys.size(), c.child ? 1u : 0u) << c.childId;
  }
  // A child matching two candidates gets an entry in each; two children keep enumeration order.
  const auto shared = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\SN", kMain, "USBSTOR"),
                                        Device("USB\\VID_7A5C&PID_FFFF\\SN", kOther, "USBSTOR"),
                                        Device("USBSTOR\\CDROM\\SN&1", kDisk, "cdrom"),
                                        Device("USBSTOR\\DISK\\SN&0", kDisk, "disk")}));
  ASSERT_EQ(shared.size(), 2u);
  EXPECT_EQ(shared[0].keys, (std::vector<std::string>{"SN&1", "SN&0"}));
  EXPECT_EQ(shared[1].keys, (std::vector<std::string>{"SN&1", "SN&0"}));
  // The service name must occur in the child's ID in the same letter case,
  // whatever the names of the candidates before and after.
  const auto mixedCase = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\SN1", kMain, "USBSTOR"),
                                           Device("USB\\VID_7A5C&PID_FFFF\\SN1", kOther, "UsbStor"),
                                           Device("USB\\VID_045E&PID_FFFF\\SN1", kMain, "USBSTOR"),
                                           Device("USBSTOR\\DISK&VEN_X\\SN1&0", kDisk, "disk")}));
  ASSERT_EQ(mixedCase.size(), 3u);
  EXPECT_EQ(mixedCase[0].keys, std::vector<std::string>{"SN1&0"});
  EXPECT_TRUE(mixedCase[1].keys.empty());
  EXPECT_EQ(mixedCase[2].keys, std::vector<std::string>{"SN1&0"});
  // A device is its own child only when its ID holds its service name.
  const auto own = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\SN", kMain, "USB")}));
  EXPECT_EQ(own[0].keys, std::vector<std::string>{"SN"});
  // A child whose whole ID is the tail, as long as it and no longer (the
  // device holds both too, so it is its own child first).
  const auto whole = Discover(Machine({Device("USB\\VID_045E&PID_FFFF\\USBSTOR&SN", kMain, "USBSTOR"),
                                       Device("USBSTOR&SN", kDisk, "disk", R"({"ParentIdPrefix": "7&1&0"})")}));
  EXPECT_EQ(whole[0].keys, (std::vector<std::string>{"USBSTOR&SN", "7&1&0"}));
}

TEST(Discovery, MatchKeyIsParentIdPrefixOrFromVistaOnTheLastIdComponent) {
  const std::string parent = Device("USB\\VID_045E&PID_FFFF\\SN", kMain, "USBSTOR");
  struct Case {
    const char* childId;
    const char* values;
    const char* keyOnVista;  // null: no entry
    const char* keyOnXp;
  };
  const Case cases[] = {
      {"USBSTOR\\DISK\\SN&0", R"({"ParentIdPrefix": "7&2a3b&0"})", "7&2a3b&0", "7&2a3b&0"},
      {"USBSTOR\\DISK\\SN&0", "{}", "SN&0", nullptr},
      {"USBSTOR\\DISK\\SN&0", R"({"ParentIdPrefix": {"type": "REG_EXPAND_SZ", "text": "7&1&0"}})", "SN&0", nullptr},
      {"USBSTOR\\DISK\\SN&0", R"({"ParentIdPrefix": {"type": "REG_BINARY", "text": "7&1&0"}})", "SN&0", nullptr},
      {"USBSTOR/DISK/SN&0", "{}", "SN&0", nullptr},
      {"USBSTOR\\DISK/SN&0", "{}", "SN&0", nullptr},
      {"USBSTOR\\DISK\\SN&0\\", "{}", "", nullptr},
      {"USBSTORSN&0", "{}", "USBSTORSN&0", nullptr},
      // Stored without its terminator: cut at the data's end.
      {"USBSTOR\\DISK\\SN&0", R"({"ParentIdPrefix": {"type": "REG_SZ", "text": "7&9&0", "terminated": false}})",
       "7&9&0", "7&9&0"},
  };
  for (const Case& c : cases) {
    for (bool vista : {true, false}) {
      const auto found = Discover(Machine({parent, Device(c.childId, kDisk, "disk", c.values)}, vista ? "" : kXp));
      const char* key = vista ? c.keyOnVista : c.keyOnXp;
      ASSERT_EQ(found.size(), 1u);
      EXPECT_EQ(found[0].keys, key ? std::vector<std::string>{key} : std::vector<std::string>{})
          << c.childId << " " << c.values << (vista ? " vista" : " xp");
    }
  }
}

TEST(Discovery, OverlongParentIdPrefixValues) {
  const std::string parent = Device("USB\\VID_045E&PID_FFFF\\SN", kMain, "USBSTOR");
  const std::string full(256, 'P');  // 512 bytes without a terminator: fills the field
  const std::string over(256, 'Q');  // 514 bytes with it: too long to read
  const auto fills = Discover(Machine(
      {parent, Device("USBSTOR\\DISK\\SN&0", kDisk, "disk",
                      R"({"ParentIdPrefix": {"type": "REG_SZ", "text": ")" + full + R"(", "terminated": false}})")},
      kXp));
  EXPECT_EQ(fills[0].keys, std::vector<std::string>{full.substr(0, 255)});
  for (const char* os : {"", kXp}) {
    const auto tooLong =
        Discover(Machine({parent, Device("USBSTOR\\DISK\\SN&0", kDisk, "disk", R"({"ParentIdPrefix": ")" + over + "\"}")}, os));
    EXPECT_EQ(tooLong[0].keys, *os ? std::vector<std::string>{} : std::vector<std::string>{"SN&0"});
  }
}

TEST(Discovery, VersionTestNeedsNtSixOrLater) {
  struct Case {
    const char* os;
    bool vista;
  };
  const Case cases[] = {
      {R"("os": {"major": 6, "minor": 0})", true},   {R"("os": {"major": 10})", true},
      {R"("os": {"major": 5, "minor": 2})", false},  {R"("os": {"major": 6, "platformId": 1})", false},
      {R"("os": null)", false},
  };
  for (const Case& c : cases) {
    SimInstall(ParseMachine(std::string("{") + c.os + "}", "test"));
    DeviceInventory inventory;
    EXPECT_EQ(InventoryTestAccess::IsVistaOrLater(inventory), c.vista) << c.os;
  }
}

TEST(Discovery, ChildKeyThatCannotBeOpenedGivesNoEntry) {
  const std::string parent = Device("USB\\VID_045E&PID_FFFF\\SN", kMain, "USBSTOR");
  const std::string noKey = R"({"instanceId": "USBSTOR\\DISK\\SN&0", "hardwareIds": ["x"], "enumKey": false})";
  EXPECT_TRUE(Discover(Machine({parent, noKey}))[0].keys.empty());
  // The key-path block cannot be grown: that child is skipped, the next one tries again.
  const std::string longChild = "USBSTOR\\DISK&VEN_" + std::string(201, 'V') + "&PROD_Y&REV_1.00\\SN&0";
  const auto found = Discover(Machine({parent, Device(longChild, kDisk, "disk"), Device("USBSTOR\\CD\\SN&1", kDisk, "cd")},
                                      Fault("HeapAlloc", 2, 0)));
  EXPECT_EQ(found[0].keys, std::vector<std::string>{"SN&1"});
}

}  // namespace

namespace {

// A card-reader device as Windows lists it: the composite parent, its
// interface, and two USBSTOR disks (main storage and card slot).
const char* kCardReaderMachine = R"({
  "devices": [
    {"instanceId": "USB\\ROOT_HUB20\\4&2A1B3C4D&0", "hardwareIds": ["USB\\ROOT_HUB20&VID8086&PID293A", "USB\\ROOT_HUB20"], "service": "usbhub"},
    {"instanceId": "USB\\VID_7A5C&PID_FFFF\\0001A2B3C4D5", "hardwareIds": ["USB\\VID_7A5C&PID_FFFF&REV_0200", "USB\\VID_7A5C&PID_FFFF"], "service": "USBSTOR"},
    {"instanceId": "USBSTOR\\DISK&VEN_ACME&PROD_STORAGE&REV_1.00\\0001A2B3C4D5&0", "hardwareIds": ["USBSTOR\\DiskACME____STORAGE________1.00"], "service": "disk",
     "values": {"ParentIdPrefix": "7&11ab22cd&0"}},
    {"instanceId": "USBSTOR\\DISK&VEN_ACME&PROD_CARD&REV_1.00\\0001A2B3C4D5&1", "hardwareIds": ["USBSTOR\\DiskACME____CARD___________1.00"], "service": "disk"},
    {"instanceId": "STORAGE\\VOLUME\\1&30A96598&0&SIGNATURE12345678", "hardwareIds": ["STORAGE\\Volume"], "service": "volsnap"}
  ]
})";

TEST(Discovery, CardReaderGetsOneEntryPerStorageChildOnBothPaths) {
  for (bool vista : {true, false}) {
    SimulatedMachine machine = ParseMachine(kCardReaderMachine, "card reader");
    machine.version->major = vista ? 6 : 5;
    SimInstall(machine);
    DeviceInventory inventory;
    std::vector<CandidateDevice> candidates;
    InventoryTestAccess::DiscoverCandidates(inventory, candidates);
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(Utf8(candidates[0].instanceTail), "0001A2B3C4D5");
    EXPECT_EQ(Utf8(candidates[0].serviceName), "USBSTOR");
    std::vector<std::string> keys;
    for (const VolumeEntry& entry : candidates[0].volumes) keys.push_back(Utf8(entry.matchKey));
    // The card slot's disk has no "ParentIdPrefix"; before Vista it cannot be found.
    const std::vector<std::string> expected =
        vista ? std::vector<std::string>{"7&11ab22cd&0", "0001A2B3C4D5&1"} : std::vector<std::string>{"7&11ab22cd&0"};
    EXPECT_EQ(keys, expected) << (vista ? "vista" : "xp");
    EXPECT_EQ(Sim().counters.openKeys + Sim().counters.openSets + Sim().counters.heapBlocks, 0);
  }
}

}  // namespace
