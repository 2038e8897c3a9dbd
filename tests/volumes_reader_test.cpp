// The descriptor reader: the literal tag search, the length and dst
// contract, and every failure ending with nothing left open.
#include <gtest/gtest.h>

#include "volumes/device_xml_reader.h"
#include "volumes_test_support.h"

namespace {

const std::u16string kGuid = u"{0D0D0D0D-0000-0000-0000-000000000000}";
const std::u16string kPath = GuidPath(kGuid) + u"device.xml";

class ReaderTest : public ::testing::Test {
 protected:
  void Install(const SimFile& file, SimMedium medium = SimMedium::Ready, std::vector<SimFault> faults = {}) {
    SimulatedMachine machine;
    SimVolume volume;
    volume.guid = kGuid;
    volume.medium = medium;
    volume.entries[u"device.xml"] = file;
    machine.volumes = {volume};
    machine.faults = faults;
    SimInstall(machine);
  }

  int Read(WCHAR* dst = nullptr, DWORD dstChars = 0, const char* outer = "hardware", const char* inner = "type") {
    const int length = ReadDeviceXmlValue(dst, dstChars, kPath.c_str(), outer, inner);
    EXPECT_TRUE(NothingLeftOpen());
    EXPECT_EQ(Sim().counters.volumeCallsOutsideErrorMode, 0);
    return length;
  }

  // The value as a caller with ample room receives it.
  std::string Value(const std::string& content) {
    Install(TextFile(content));
    WCHAR dst[300] = {'?', 0};
    const int length = Read(dst, 300);
    const std::string text = Utf8(dst);
    EXPECT_EQ(static_cast<std::size_t>(length), SimFromUtf8(text).size()) << content;
    return text;
  }
};

TEST_F(ReaderTest, LiteralTagSearch) {
  struct Case {
    std::string content;
    std::string value;
  };
  const Case cases[] = {
      {"<hardware><type>main</type></hardware>", "main"},
      {"<?xml version=\"1.0\"?>\n<device><hardware>\n  <type> a b </type>\n</hardware></device>", " a b "},
      {"<hardware><type></type></hardware>", ""},
      {"<type>main</type>", ""},
      {"<hardware></hardware><type>main</type>", ""},
      {"<type>x</type><hardware><type>main</type></hardware>", "main"},
      {"<hardware><type>first</type><type>second</type></hardware>", "first"},
      {"<hardware><other><type>nested</type></other></hardware>", "nested"},
      {"<hardware id=\"1\"><type>main</type></hardware>", ""},
      {"<Hardware><type>main</type></Hardware>", ""},
      {"<hardware><TYPE>main</TYPE></hardware>", ""},
      {"<hardware><type>a &amp; b</type></hardware>", "a &amp; b"},
      {"<hardware><type>to the outer closer</hardware><type>x</type>", "to the outer closer"},
      {"<hardware><type>to the end", "to the end"},
      {"<hardware><type>main</typ", "main</typ"},       // file ends inside the inner closer
      {"<hardware><type>main</type", "main</type"},
      {"<hardware><type>main</type></hardwar", "main"},  // file ends inside the outer closer
      {"<hardware><typ", ""},
      {"<hardwar", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Value(c.content), c.value) << c.content;
}

TEST_F(ReaderTest, TextEndsAtTheFirstZeroByte) {
  EXPECT_EQ(Value(std::string("ab\0<hardware><type>main</type></hardware>", 41)), "");
  EXPECT_EQ(Value(std::string("<hardware><type>ma\0in</type></hardware>", 39)), "ma");
  EXPECT_EQ(Value(std::string("<hardware><type>\0main</type></hardware>", 39)), "");
}

TEST_F(ReaderTest, ControlCharactersBecomeSpacesInDstButCountInTheLength) {
  Install(TextFile("<hardware><type>two\r\nlines\t\x01</type></hardware>"));
  WCHAR dst[20];
  EXPECT_EQ(Read(dst, 20), 12);
  EXPECT_EQ(Utf8(dst), "two  lines  ");
}

TEST_F(ReaderTest, BytesAbove127AreWindows1252) {
  EXPECT_EQ(Value("<hardware><type>caf\xe9 \x80\x9f\xa0\xff</type></hardware>"),
            "caf\u00e9 \u20ac\u0178\u00a0\u00ff");
}

// Where the value does not fit, every character of dst stays as it was.
TEST_F(ReaderTest, DstIsFilledOnlyWhenTheValueFitsWithItsTerminator) {
  struct Case {
    const char* value;
    DWORD dstChars;
    int length;
    const char* dst;  // null: untouched
  };
  const Case cases[] = {
      {"main", 4, 4, nullptr}, {"main", 0, 4, nullptr}, {"main", 1, 4, nullptr},
      {"main", 5, 4, "main"},  {"a\tb", 3, 3, nullptr},  {"a\tb", 4, 3, "a b"},
      {"", 0, 0, nullptr},     {"", 1, 0, ""},
  };
  for (const Case& c : cases) {
    Install(TextFile(std::string("<hardware><type>") + c.value + "</type></hardware>"));
    const WCHAR before[8] = {'k', 'e', 'p', 't', 0, '!', '!', '!'};
    WCHAR dst[8];
    std::memcpy(dst, before, sizeof dst);
    EXPECT_EQ(Read(dst, c.dstChars), c.length) << c.value << " " << c.dstChars;
    if (c.dst == nullptr) {
      EXPECT_EQ(std::memcmp(dst, before, sizeof dst), 0) << c.value << " " << c.dstChars;
    } else {
      EXPECT_EQ(Utf8(dst), c.dst) << c.value << " " << c.dstChars;
    }
  }
  EXPECT_EQ(Read(nullptr, 100), 0);
}

// 255 characters fit the result buffer with the terminator; a longer value
// counts as none.
TEST_F(ReaderTest, OverlongValueCountsAsNone) {
  EXPECT_EQ(Value("<hardware><type>" + std::string(255, 'x') + "</type></hardware>"), std::string(255, 'x'));
  EXPECT_EQ(Value("<hardware><type>" + std::string(256, 'x') + "</type></hardware>"), "");
  EXPECT_EQ(Value("<hardware><type>" + std::string(5000, 'x')), "");
}

TEST_F(ReaderTest, TagNamesUpTo252Characters) {
  const std::string name252(252, 't');
  Install(TextFile("<" + name252 + "><type>v</type></" + name252 + ">"));
  EXPECT_EQ(Read(nullptr, 0, name252.c_str()), 1);
  const std::string name253(253, 't');
  Install(TextFile("<" + name253 + "><type>v</type></" + name253 + ">"));
  EXPECT_EQ(Read(nullptr, 0, name253.c_str()), 0);
  EXPECT_EQ(Calls("CreateFileW"), 0);
}

TEST_F(ReaderTest, FailuresGiveNoValue) {
  const std::string good = "<hardware><type>main</type></hardware>";
  struct Case {
    const char* name;
    SimFile file;
    SimMedium medium;
    std::vector<SimFault> faults;
  };
  SimFile huge = TextFile(good);
  huge.reportedSize = 0x100000000ull + good.size();
  SimFile sizeMinusOne = TextFile(good);
  sizeMinusOne.reportedSize = 0xFFFFFFFFull;
  const Case cases[] = {
      {"directory", Directory(), SimMedium::Ready, {}},
      {"no medium", TextFile(good), SimMedium::NoMedium, {}},
      {"access denied", TextFile(good), SimMedium::AccessDenied, {}},
      {"open fails", TextFile(good), SimMedium::Ready, {{"CreateFileW", 1, ERROR_ACCESS_DENIED}}},
      {"size fails", TextFile(good), SimMedium::Ready, {{"GetFileSize", 1, ERROR_ACCESS_DENIED}}},
      {"allocation fails", TextFile(good), SimMedium::Ready, {{"GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY}}},
      {"lock fails", TextFile(good), SimMedium::Ready, {{"GlobalLock", 1, ERROR_NOT_ENOUGH_MEMORY}}},
      {"read fails", TextFile(good), SimMedium::Ready, {{"ReadFile", 1, ERROR_NOT_READY}}},
      {"4 GiB and more", huge, SimMedium::Ready, {}},
      {"4 GiB less one byte", sizeMinusOne, SimMedium::Ready, {}},
  };
  for (const Case& c : cases) {
    Install(c.file, c.medium, c.faults);
    WCHAR dst[8] = {'k', 0};
    EXPECT_EQ(Read(dst, 8), 0) << c.name;
    EXPECT_EQ(Utf8(dst), "") << c.name;
  }
}

// A file that shrinks between the size and the read: only the bytes read
// are searched.
TEST_F(ReaderTest, ShortReadSearchesOnlyTheBytesRead) {
  SimFile file = TextFile("<hardware><type>main");
  file.reportedSize = 4096;
  Install(file);
  EXPECT_EQ(Read(), 4);
}

TEST_F(ReaderTest, RunsUnderTheQuietErrorModeAndRestoresTheCallersMode) {
  for (UINT callerMode : {0u, 0x0004u, 0x8001u}) {
    Install(TextFile("<hardware><type>main</type></hardware>"), SimMedium::Ready);
    Sim().errorMode = callerMode;
    EXPECT_EQ(Read(), 4);
    EXPECT_EQ(Sim().errorMode, callerMode);
  }
}

}  // namespace
