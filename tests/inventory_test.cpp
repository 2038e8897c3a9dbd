#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace {

bool SameBytes(const DeviceRecord& left, const DeviceRecord& right) {
  return std::memcmp(&left, &right, sizeof left) == 0;
}

class InventoryTest : public ::testing::Test {
 protected:
  void SetUp() override { SimInstall(SimulatedMachine{}); }
};

TEST_F(InventoryTest, NewInventoryIsEmptyAndLeavesOutUntouched) {
  DeviceInventory inventory;
  EXPECT_EQ(inventory.Count(), 0u);
  DeviceRecord out = RecordWithLetters('Q');
  const DeviceRecord before = out;
  EXPECT_FALSE(inventory.GetAt(0, &out));
  EXPECT_TRUE(SameBytes(out, before));
}

TEST_F(InventoryTest, GetAtBoundsAndOrder) {
  DeviceInventory inventory;
  InventoryTestAccess::Append(inventory, RecordWithLetters('E'));
  InventoryTestAccess::Append(inventory, RecordWithLetters('H', 'I'));
  ASSERT_EQ(inventory.Count(), 2u);

  DeviceRecord out = RecordWithLetters('Q');
  const DeviceRecord before = out;
  for (DWORD index : {2u, 3u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(inventory.GetAt(index, &out)) << index;
    EXPECT_TRUE(SameBytes(out, before)) << index;
  }
  ASSERT_TRUE(inventory.GetAt(0, &out));
  EXPECT_TRUE(SameBytes(out, RecordWithLetters('E')));
  ASSERT_TRUE(inventory.GetAt(1, &out));
  EXPECT_TRUE(SameBytes(out, RecordWithLetters('H', 'I')));
  EXPECT_TRUE(inventory.GetAt(1, nullptr));
}

TEST_F(InventoryTest, GetAtHandsOutCopies) {
  DeviceInventory inventory;
  InventoryTestAccess::Append(inventory, RecordWithLetters('E'));
  DeviceRecord out;
  ASSERT_TRUE(inventory.GetAt(0, &out));
  out.slots[0].root[1] = 0;
  DeviceRecord again;
  ASSERT_TRUE(inventory.GetAt(0, &again));
  EXPECT_EQ(Utf8(again.slots[0].root), "E:\\");
}

TEST_F(InventoryTest, RefreshDropsEarlierRecordsAndSkipsMappingWithoutCandidates) {
  DeviceInventory inventory;
  InventoryTestAccess::Append(inventory, RecordWithLetters('E'));
  inventory.Refresh();
  EXPECT_EQ(inventory.Count(), 0u);
  inventory.Refresh();
  EXPECT_EQ(inventory.Count(), 0u);
  // Mapping opens the mount table first; with no candidate it never runs.
  EXPECT_EQ(Sim().counters.calls["RegOpenKeyExW"], 0);
  EXPECT_EQ(Sim().counters.openSets, 0);
  EXPECT_EQ(Sim().counters.heapBlocks, 0);
}

}  // namespace
