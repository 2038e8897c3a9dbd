// Drive-letter mapping: which entry takes which letter and volume path.
#include <gtest/gtest.h>

#include "volumes_test_support.h"

namespace {

const std::u16string kVolumeE = u"\\??\\Volume{EEEEEEEE-0000-0000-0000-000000000000}";
const std::u16string kVolumeF = u"\\??\\Volume{FFFFFFFF-0000-0000-0000-000000000000}";

class LettersTest : public ::testing::Test {
 protected:
  // Installs a machine whose mount table holds the values in this order.
  void Install(const std::string& letters, const std::vector<SimValue>& mountValues) {
    SimulatedMachine machine;
    for (char letter : letters) machine.driveMask |= 1u << (letter - 'A');
    machine.registry.push_back({u"SYSTEM\\MountedDevices", mountValues});
    SimInstall(machine);
  }

  void Map() {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\MountedDevices", 0, KEY_READ, &key), ERROR_SUCCESS);
    InventoryTestAccess::MapDriveLetters(inventory, key, candidates);
    RegCloseKey(key);
  }

  std::string Root(std::size_t candidate, std::size_t volume) {
    return Utf8(candidates.at(candidate).volumes.at(volume).root);
  }
  std::string Path(std::size_t candidate, std::size_t volume) {
    return Utf8(candidates.at(candidate).volumes.at(volume).volumePath);
  }

  DeviceInventory inventory;
  std::vector<CandidateDevice> candidates;
};

TEST_F(LettersTest, FirstUnmappedEntryInWalkOrderTakesTheLetter) {
  Install("EF", {LetterValue('E', u"#AB&0#CD&0#"), LetterValue('F', u"#CD&0#"), MountValue(kVolumeE, u"#AB&0#"),
                 MountValue(kVolumeF, u"#CD&0#")});
  candidates = {Candidate({FoundEntry(u"AB&0")}), Candidate({FoundEntry(u"XX"), FoundEntry(u"CD&0")})};
  Map();
  EXPECT_EQ(Root(0, 0), "E:\\");
  EXPECT_EQ(Path(0, 0), "\\\\?\\Volume{EEEEEEEE-0000-0000-0000-000000000000}\\");
  EXPECT_EQ(Root(1, 0), "");
  EXPECT_EQ(Root(1, 1), "F:\\");
  EXPECT_EQ(Path(1, 1), "\\\\?\\Volume{FFFFFFFF-0000-0000-0000-000000000000}\\");
  EXPECT_EQ(Calls("GetLogicalDrives"), 1);
}

TEST_F(LettersTest, VolumeAtTwoLettersKeepsTheEarlierOne) {
  Install("EG", {LetterValue('E', u"#AB&0#"), LetterValue('G', u"#AB&0#"), MountValue(kVolumeE, u"#AB&0#")});
  candidates = {Candidate({FoundEntry(u"AB&0")})};
  Map();
  EXPECT_EQ(Root(0, 0), "E:\\");
  EXPECT_EQ(Calls("RegEnumValueW"), 3);  // one lookup only: E's
}

TEST_F(LettersTest, LettersNotInUseOrWithoutRecordAreSkipped) {
  Install("DE", {LetterValue('C', u"#AB&0#"), LetterValue('D', u""), LetterValue('E', u"\0#AB&0#"),
                 MountValue(kVolumeE, u"#AB&0#")});
  candidates = {Candidate({FoundEntry(u"AB&0")})};
  Map();
  EXPECT_EQ(Root(0, 0), "");
  EXPECT_EQ(Calls("RegQueryValueExW"), 2);  // D and E only
}

TEST_F(LettersTest, EmptyKeyTakesAnyLetterAndTheFirstVolumeName) {
  Install("E", {LetterValue('E', u"anything"), MountValue(u"\\DosDevices\\Z:", u"x"), MountValue(kVolumeF, u"\x01")});
  candidates = {Candidate({FoundEntry(u"")})};
  Map();
  EXPECT_EQ(Root(0, 0), "E:\\");
  EXPECT_EQ(Path(0, 0), "\\\\?\\Volume{FFFFFFFF-0000-0000-0000-000000000000}\\");
}

// A letter whose record cannot be read, or is empty, is skipped even by a
// key that would occur in any record: the buffer still holds the last
// record read, and the empty key occurs in the empty text.
TEST_F(LettersTest, UnreadableOrEmptyRecordsAreSkippedByShortKeys) {
  SimValue unreadable = LetterValue('F', std::u16string(513, u'#'));
  SimValue missing = LetterValue('Z', u"#");  // F has no value at all
  const SimValue records[] = {unreadable, missing, LetterValue('F', u""), LetterValue('F', std::u16string(u"\0#", 2))};
  for (const SimValue& record : records) {
    for (const char16_t* key : {u"", u"#", u"A"}) {
      Install("EFG", {LetterValue('E', u"#AB&0#"), record, LetterValue('G', u"#AG#"), MountValue(kVolumeE, u"#AB&0#"),
                      MountValue(kVolumeF, u"#AG#")});
      candidates = {Candidate({FoundEntry(u"AB&0"), FoundEntry(key)})};
      Map();
      EXPECT_EQ(Root(0, 0), "E:\\");
      EXPECT_EQ(Root(0, 1), "G:\\") << Utf8(record.name.c_str()) << " " << record.data.size() << " key " << Utf8(key);
    }
  }
}

TEST_F(LettersTest, KeysAndRecordsMatchWithoutRegardToAsciiCase) {
  Install("E", {LetterValue('E', u"_??_usbstor#disk#ab&0#"), MountValue(u"\\dosdevices\\Q:", u"#AB&0#"),
                MountValue(u"\\DOSDEVICES\\R:", u"#AB&0#"), MountValue(u"\\DosDevices\\", u"#AB&0#"),
                MountValue(kVolumeE, u"#aB&0#")});
  candidates = {Candidate({FoundEntry(u"Ab&0")})};
  Map();
  EXPECT_EQ(Root(0, 0), "E:\\");
  EXPECT_EQ(Path(0, 0), "\\\\?\\Volume{EEEEEEEE-0000-0000-0000-000000000000}\\");
  EXPECT_EQ(Utf8(candidates[0].volumes[0].matchKey), "AB&0");
}

TEST_F(LettersTest, FailedLookupTakesTheLetterFromEveryoneElseButNotForGood) {
  Install("EF", {LetterValue('E', u"#AB&0#CD&0#"), LetterValue('F', u"#AB&0#"), MountValue(kVolumeE, u"#CD&0#")});
  candidates = {Candidate({FoundEntry(u"AB&0"), FoundEntry(u"CD&0")})};
  Map();
  EXPECT_EQ(Root(0, 0), "F:\\");  // took E, found no name, took F again
  EXPECT_EQ(Path(0, 0), "");
  EXPECT_EQ(Root(0, 1), "");  // E was never offered to it
  EXPECT_EQ(Path(0, 1), "");
}

// Records are UTF-16 whatever their type, end at the bytes returned or
// their first zero character, and a record over 1024 bytes is not read.
TEST_F(LettersTest, ReadingRuleForLetterRecords) {
  struct Case {
    const char* name;
    SimValue record;
    bool mapped;
  };
  SimValue odd = LetterValue('E', u"#AB&0");
  odd.data.push_back('x');
  SimValue exactly1024 = LetterValue('E', std::u16string(508, u'.') + u"AB&0");
  SimValue over1024 = LetterValue('E', std::u16string(509, u'.') + u"AB&0");
  SimValue cut = LetterValue('E', u"#AB&");
  cut.data.push_back('0');  // a lone last byte is dropped
  SimValue asDword = LetterValue('E', u"#AB&0#");
  asDword.type = REG_DWORD;
  SimValue mbr{u"\\DosDevices\\E:", REG_BINARY, {0x41, 0x00, 0x42, 0x00, 0x00, 0x7E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
  const Case cases[] = {
      {"odd byte count", odd, true},
      {"exactly 1024 bytes", exactly1024, true},
      {"over 1024 bytes", over1024, false},
      {"lone last byte", cut, false},
      {"type not examined", asDword, true},
      {"terminated text", MountValue(u"\\DosDevices\\E:", u"#AB&0#\0", REG_SZ), true},
      {"zero before the key", LetterValue('E', std::u16string(u"#\0AB&0#", 7)), false},
      {"MBR record", mbr, false},
  };
  for (const Case& c : cases) {
    Install("E", {c.record, MountValue(kVolumeE, u"AB&0")});
    candidates = {Candidate({FoundEntry(u"AB&0")})};
    Map();
    EXPECT_EQ(Root(0, 0), c.mapped ? "E:\\" : "") << c.name;
    EXPECT_EQ(Sim().counters.openKeys, 0) << c.name;
  }
}

// Volume-name values that cannot give a volume path are passed over and
// the lookup goes on with the next index.
TEST_F(LettersTest, LookupPassesOverUnusableValues) {
  const std::u16string name254 = u"\\??\\Volume{" + std::u16string(242, u'1') + u"}";
  ASSERT_EQ(name254.size(), 254u);
  struct Case {
    const char* name;
    std::vector<SimValue> before;
    std::string path;
  };
  const Case cases[] = {
      {"name of 255 characters", {MountValue(name254 + u"x", u"#AB&0#")}, "\\\\?\\Volume{FFFFFFFF-0000-0000-0000-000000000000}\\"},
      {"name of 256 characters", {MountValue(name254 + u"xy", u"#AB&0#")}, "\\\\?\\Volume{FFFFFFFF-0000-0000-0000-000000000000}\\"},
      {"empty name", {MountValue(u"", u"#AB&0#")}, "\\\\?\\Volume{FFFFFFFF-0000-0000-0000-000000000000}\\"},
      {"data over 1024 bytes", {MountValue(u"\\??\\Volume{big}", std::u16string(600, u'#') + u"AB&0")},
       "\\\\?\\Volume{FFFFFFFF-0000-0000-0000-000000000000}\\"},
      {"name of 254 characters fits", {MountValue(name254, u"#AB&0#")}, "\\\\?" + Utf8(name254.c_str()).substr(3) + "\\"},
  };
  for (const Case& c : cases) {
    std::vector<SimValue> values = {LetterValue('E', u"#AB&0#")};
    values.insert(values.end(), c.before.begin(), c.before.end());
    values.push_back(MountValue(kVolumeF, u"#AB&0#"));
    Install("E", values);
    candidates = {Candidate({FoundEntry(u"AB&0")})};
    Map();
    EXPECT_EQ(Root(0, 0), "E:\\") << c.name;
    EXPECT_EQ(Path(0, 0), c.path) << c.name;
  }
}

TEST_F(LettersTest, AssignVolumesWithoutMountTableDoesNothing) {
  SimulatedMachine machine;
  machine.driveMask = 1u << 4;
  SimInstall(machine);
  candidates = {Candidate({FoundEntry(u"")})};
  InventoryTestAccess::AssignVolumes(inventory, candidates);
  EXPECT_EQ(Root(0, 0), "");
  EXPECT_EQ(Calls("GetLogicalDrives"), 0);
  EXPECT_EQ(Calls("SetErrorMode"), 0);
  EXPECT_EQ(inventory.Count(), 0u);
}

TEST_F(LettersTest, AssignVolumesClosesTheMountKeyBeforeClassifying) {
  Install("E", {LetterValue('E', u"#AB&0#"), MountValue(kVolumeE, u"#AB&0#")});
  candidates = {Candidate({FoundEntry(u"AB&0")})};
  InventoryTestAccess::AssignVolumes(inventory, candidates);
  EXPECT_EQ(Root(0, 0), "E:\\");
  EXPECT_EQ(Calls("RegCloseKey"), 1);
  EXPECT_EQ(Calls("SetErrorMode"), 2);  // the classification ran
  EXPECT_EQ(inventory.Count(), 0u);     // no volume holds a descriptor
  EXPECT_TRUE(NothingLeftOpen());
}

}  // namespace
