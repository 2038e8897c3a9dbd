// Classification: which mapped volume fills which slot of a device's
// record, which devices get a record, and the error mode around it all.
#include <gtest/gtest.h>

#include "volumes_test_support.h"

namespace {

const std::string kMain = "<hardware><type>main</type></hardware>";

std::u16string GuidOf(int volume) {
  return u"{0000000" + std::u16string(1, static_cast<char16_t>(u'0' + volume)) + u"-0000-0000-0000-000000000000}";
}

class ClassifyTest : public ::testing::Test {
 protected:
  // Volume n is mapped to letter 'E' + n; files are given per volume.
  void Install(const std::vector<std::map<std::u16string, SimFile>>& files,
               const std::vector<SimMedium>& media = {}) {
    SimulatedMachine machine;
    std::vector<VolumeEntry> entries;
    for (std::size_t n = 0; n < files.size(); ++n) {
      SimVolume volume;
      volume.guid = GuidOf(static_cast<int>(n));
      volume.entries = files[n];
      if (n < media.size()) volume.medium = media[n];
      machine.volumes.push_back(volume);
      entries.push_back(MappedEntry(static_cast<char>('E' + n), GuidPath(volume.guid)));
    }
    SimInstall(machine);
    inventory = DeviceInventory{};
    candidates = {Candidate(entries)};
  }

  // The letters of the record's slots ("-" for a free slot), or "none".
  std::string Classify() {
    InventoryTestAccess::ClassifyVolumes(inventory, candidates);
    EXPECT_TRUE(NothingLeftOpen());
    EXPECT_EQ(Sim().counters.volumeCallsOutsideErrorMode, 0);
    if (inventory.Count() == 0) return "none";
    DeviceRecord record;
    inventory.GetAt(inventory.Count() - 1, &record);
    std::string letters;
    for (const VolumeEntry& slot : record.slots) letters += IsMapped(slot) ? static_cast<char>(slot.root[0]) : '-';
    return letters;
  }

  DeviceInventory inventory;
  std::vector<CandidateDevice> candidates;
};

TEST_F(ClassifyTest, SlotsFollowTheDescriptorAndListOrder) {
  const std::map<std::u16string, SimFile> main = {{u"device.xml", TextFile(kMain)}};
  const std::map<std::u16string, SimFile> card = {};
  struct Case {
    const char* name;
    std::vector<std::map<std::u16string, SimFile>> volumes;
    std::string slots;
    int opened;  // descriptors read
  };
  const Case cases[] = {
      {"main first, then two cards unprobed", {main, card, card}, "EFG", 1},
      {"card before main", {card, main, card}, "FEG", 1},
      {"four volumes, main last", {card, card, card, main}, "HEF", 1},
      {"two descriptors", {main, main}, "EF-", 1},
      {"no main volume", {card, card}, "none", 0},
      {"empty type", {{{u"device.xml", TextFile("<hardware><type></type></hardware>")}}}, "none", 1},
      {"no type", {{{u"device.xml", TextFile("<hardware></hardware>")}}}, "none", 1},
      {"directory named device.xml", {{{u"device.xml", Directory()}}}, "E--", 0},
      {"hidden root with descriptor", {{{u"__TFAT_HIDDEN_ROOT_DIR__\\device.xml", TextFile(kMain)}}}, "E--", 1},
      {"hidden root without descriptor", {{{u"__TFAT_HIDDEN_ROOT_DIR__", Directory()}, {u"device.xml", TextFile(kMain)}}},
       "none", 0},
      {"hidden root name is a file", {{{u"__TFAT_HIDDEN_ROOT_DIR__", TextFile("")}, {u"device.xml", TextFile(kMain)}}},
       "E--", 1},
      {"names without regard to case", {{{u"__tfat_hidden_root_dir__\\DEVICE.XML", TextFile(kMain)}}}, "E--", 1},
  };
  for (const Case& c : cases) {
    Install(c.volumes);
    EXPECT_EQ(Classify(), c.slots) << c.name;
    EXPECT_EQ(Calls("CreateFileW"), c.opened) << c.name;
  }
}

TEST_F(ClassifyTest, VolumesWithoutMediumOrAccessAreCards) {
  const std::map<std::u16string, SimFile> main = {{u"device.xml", TextFile(kMain)}};
  Install({main, main, main}, {SimMedium::NoMedium, SimMedium::AccessDenied, SimMedium::Ready});
  EXPECT_EQ(Classify(), "GEF");
}

TEST_F(ClassifyTest, EntriesWithoutVolumePathAreIgnored) {
  Install({{{u"device.xml", TextFile(kMain)}}, {}});
  VolumeEntry lettered = FoundEntry(u"KEY");
  CopyText(lettered.root, u"Q:\\");
  candidates[0].volumes.insert(candidates[0].volumes.begin(), lettered);
  EXPECT_EQ(Classify(), "EF-");
}

// A volume path too long to join the names to counts as a card volume.
TEST_F(ClassifyTest, AVolumeReachedByTwoEntriesTakesOneSlotAtItsFirstLetter) {
  // From Vista on a volume's disk and volume device are both children: a
  // volume at two letters reaches two entries of one device.
  Install({{{u"device.xml", TextFile(kMain)}}, {}});
  std::u16string mainPath = GuidPath(GuidOf(0));
  for (char16_t& c : mainPath) c = static_cast<char16_t>(c >= u'a' && c <= u'z' ? c - 32 : c);
  candidates[0].volumes.push_back(MappedEntry('G', mainPath));
  candidates[0].volumes.push_back(MappedEntry('H', GuidPath(GuidOf(1))));
  EXPECT_EQ(Classify(), "EF-");
  EXPECT_EQ(Calls("CreateFileW"), 1);

  // The card volume reached twice before the main one.
  Install({{}, {{u"device.xml", TextFile(kMain)}}});
  candidates[0].volumes.insert(candidates[0].volumes.begin() + 1, MappedEntry('H', GuidPath(GuidOf(0))));
  EXPECT_EQ(Classify(), "FE-");
}

TEST_F(ClassifyTest, OverlongVolumePathIsACardWithoutAnyAccess) {
  Install({{{u"device.xml", TextFile(kMain)}}});
  const std::u16string longPath = u"\\\\?\\Volume{" + std::u16string(220, u'0') + u"}\\";
  ASSERT_EQ(longPath.size(), 233u);  // 233 + 24 characters do not fit 255
  candidates[0].volumes.insert(candidates[0].volumes.begin(), MappedEntry('D', longPath));
  EXPECT_EQ(Classify(), "ED-");
  EXPECT_EQ(Calls("GetFileAttributesW"), 3);  // the second volume's hidden root, descriptor, reader
}

// Each joined path must fit 255 characters and its terminator: one of
// exactly 255 is probed, one of 256 makes the volume a card untouched,
// whether the join adds the backslash or the volume path ends in one.
TEST_F(ClassifyTest, JoinedPathsOfUpTo255CharactersAreProbed) {
  struct Case {
    std::size_t pathLength;  // of the volume path with a trailing backslash
    bool separated;          // the path keeps it, else the join adds it
    bool hiddenRoot;         // the descriptor lies inside the hidden root directory
    std::string slots;
    int attributeReads;
  };
  const Case cases[] = {
      {231, true, false, "E--", 3},  // hidden root path 255
      {232, true, false, "none", 0},
      {231, false, false, "E--", 3},
      {232, false, false, "none", 0},
      {220, true, true, "E--", 3},  // descriptor path inside it 255
      {221, true, true, "none", 1},
      {220, false, true, "E--", 3},
      {221, false, true, "none", 1},
  };
  for (const Case& c : cases) {
    SimulatedMachine machine;
    SimVolume volume;
    volume.guid = u"{" + std::u16string(c.pathLength - 13, u'0') + u"}";
    const std::u16string descriptor = c.hiddenRoot ? u"__TFAT_HIDDEN_ROOT_DIR__\\device.xml" : u"device.xml";
    volume.entries[descriptor] = TextFile(kMain);
    machine.volumes.push_back(volume);
    SimInstall(machine);
    std::u16string path = GuidPath(volume.guid);
    ASSERT_EQ(path.size(), c.pathLength);
    if (!c.separated) path.pop_back();
    inventory = DeviceInventory{};
    candidates = {Candidate({MappedEntry('E', path)})};
    EXPECT_EQ(Classify(), c.slots) << c.pathLength << (c.separated ? " separated" : "") << (c.hiddenRoot ? " hidden" : "");
    EXPECT_EQ(Calls("GetFileAttributesW"), c.attributeReads) << c.pathLength;
  }
}

TEST_F(ClassifyTest, RecordsFollowCandidateOrderAndCarryTheirNames) {
  SimulatedMachine machine;
  for (int n = 0; n < 3; ++n) {
    SimVolume volume;
    volume.guid = GuidOf(n);
    if (n != 1) volume.entries[u"device.xml"] = TextFile(kMain);
    machine.volumes.push_back(volume);
  }
  SimInstall(machine);
  candidates = {Candidate({MappedEntry('E', GuidPath(GuidOf(0)))}, u"FIRST"),
                Candidate({MappedEntry('F', GuidPath(GuidOf(1)))}, u"CARDONLY"),
                Candidate({MappedEntry('G', GuidPath(GuidOf(2)))}, u"THIRD")};
  // A tail that fills its whole field is cut to 255 characters.
  for (WCHAR& c : candidates[2].instanceTail) c = u'T';
  InventoryTestAccess::ClassifyVolumes(inventory, candidates);
  ASSERT_EQ(inventory.Count(), 2u);
  DeviceRecord record;
  inventory.GetAt(0, &record);
  EXPECT_EQ(Utf8(record.slots[0].root), "E:\\");
  EXPECT_EQ(Utf8(record.instanceTail), "FIRST");
  EXPECT_EQ(Utf8(record.serviceName), "USBSTOR");
  inventory.GetAt(1, &record);
  EXPECT_EQ(Utf8(record.slots[0].root), "G:\\");
  EXPECT_EQ(Utf8(record.instanceTail), std::string(255, 'T'));
}

TEST_F(ClassifyTest, RunsUnderTheQuietErrorModeAndRestoresTheCallersMode) {
  for (UINT callerMode : {0u, 0x0002u}) {
    Install({{}, {{u"device.xml", TextFile(kMain)}}}, {SimMedium::NoMedium});
    Sim().errorMode = callerMode;
    EXPECT_EQ(Classify(), "FE-");
    EXPECT_EQ(Sim().errorMode, callerMode);
    EXPECT_EQ(Calls("SetErrorMode"), 4);  // the phase and the reader each set and restore
  }
}

}  // namespace
