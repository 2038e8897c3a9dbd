// The simulated volumes, files, global memory and code page keep Windows'
// documented protocols, since the volume code is measured against them.
#include <gtest/gtest.h>

#include "volumes_test_support.h"

namespace {

const std::u16string kGuid = u"{ABCDEF00-0000-0000-0000-000000000000}";

class SimFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimulatedMachine machine;
    SimVolume volume;
    volume.guid = kGuid;
    volume.entries[u"dir\\file.txt"] = TextFile("0123456789");
    volume.entries[u"empty"] = Directory();
    SimFile huge = TextFile("abc");
    huge.reportedSize = 0x1FFFFFFFFull;
    volume.entries[u"huge"] = huge;
    SimVolume noMedium;
    noMedium.guid = u"{00000000-0000-0000-0000-00000000000E}";
    noMedium.medium = SimMedium::NoMedium;
    machine.volumes = {volume, noMedium};
    machine.driveMask = 0x14;
    SimInstall(machine);
  }

  HANDLE Open(const std::u16string& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  }
};

TEST_F(SimFilesTest, PathsResolveAsOnWindows) {
  struct Case {
    std::u16string path;
    DWORD attributes;
    DWORD error;
  };
  const std::u16string root = GuidPath(kGuid);
  const Case cases[] = {
      {root, FILE_ATTRIBUTE_DIRECTORY, 0},
      {u"\\\\?\\volume{abcdef00-0000-0000-0000-000000000000}\\DIR\\FILE.TXT", FILE_ATTRIBUTE_ARCHIVE, 0},
      {root + u"dir", FILE_ATTRIBUTE_DIRECTORY, 0},
      {root + u"dir\\", FILE_ATTRIBUTE_DIRECTORY, 0},
      {root + u"empty", FILE_ATTRIBUTE_DIRECTORY, 0},
      {root + u"missing", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {root + u"missing\\file.txt", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {root + u"dir\\file.txt\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {root + u"dir\\file.txt\\", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {root + u"dir\\\\file.txt", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
      {u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {u"\\\\?\\Volume{00000000-0000-0000-0000-00000000000E}\\x", INVALID_FILE_ATTRIBUTES, ERROR_NOT_READY},
      {u"C:\\dir\\file.txt", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(c.path.c_str()), c.attributes) << Utf8(c.path.c_str());
    EXPECT_EQ(GetLastError(), c.error) << Utf8(c.path.c_str());
  }
  EXPECT_EQ(GetLogicalDrives(), 0x14u);
  EXPECT_EQ(Open(root + u"dir"), INVALID_HANDLE_VALUE);  // directories need FILE_FLAG_BACKUP_SEMANTICS
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SimFilesTest, FileSizeGivesTheHighPartOnlyWhenAsked) {
  const HANDLE file = Open(GuidPath(kGuid) + u"huge");
  DWORD high = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileSize(file, &high), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), 0u);  // a real size, not a failure
  EXPECT_EQ(high, 1u);
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
  CloseHandle(file);
}

TEST_F(SimFilesTest, MovableBlocksLockUnlockAndFree) {
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 8);
  ASSERT_NE(block, nullptr);
  ASSERT_NE(GlobalLock(block), nullptr);
  ASSERT_NE(GlobalLock(block), nullptr);
  EXPECT_EQ(Sim().counters.lockedBlocks, 1);
  EXPECT_TRUE(GlobalUnlock(block));
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_EQ(GetLastError(), 0u);  // unlocked, not failed
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_EQ(Sim().counters.globalBlocks, 0);

  const HGLOBAL discarded = GlobalAlloc(GMEM_MOVEABLE, 0);
  ASSERT_NE(discarded, nullptr);
  EXPECT_EQ(GlobalLock(discarded), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
  EXPECT_EQ(GlobalFree(discarded), nullptr);
  EXPECT_TRUE(NothingLeftOpen());
}

TEST_F(SimFilesTest, AnsiConversionFollowsTheSizeProtocol) {
  WCHAR out[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "ab\x80", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "ab\x80", -1, out, 8), 4);
  EXPECT_EQ(std::u16string(out), u"ab\u20ac");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x81\x8d\x9f", 3, out, 8), 3);
  EXPECT_EQ(std::u16string(out, 3), u"\u0081\u008d\u0178");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "abcd", 4, out, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "abcd", 0, out, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0x2 | MB_PRECOMPOSED, "a", 1, out, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

}  // namespace
