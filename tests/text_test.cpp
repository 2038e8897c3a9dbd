#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Text, FindIsExactAndCaseSensitive) {
  const WCHAR* id = WSTR("USBSTOR\\DISK&VEN_X\\0123&0");
  EXPECT_EQ(TextFind(id, WSTR("USBSTOR")), id);
  EXPECT_EQ(TextFind(id, WSTR("0123")), id + 19);
  EXPECT_EQ(TextFind(id, WSTR("UsbStor")), nullptr);
  EXPECT_EQ(TextFind(id, WSTR("")), id);
  EXPECT_EQ(TextFind(WSTR(""), WSTR("A")), nullptr);
  const WCHAR* repeated = WSTR("AAB");
  EXPECT_EQ(TextFind(repeated, WSTR("AB")), repeated + 1);  // restarts after a partial match
}

TEST(Text, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_TRUE(TextEqualNoCase(WSTR("usb\\vid_045e&pid_ffff"), WSTR("USB\\VID_045E&PID_FFFF")));
  EXPECT_FALSE(TextEqualNoCase(WSTR("usb"), WSTR("usbx")));
  EXPECT_FALSE(TextEqualNoCase(WSTR("\u00e9"), WSTR("\u00c9")));  // no folding beyond ASCII
  EXPECT_FALSE(TextEqualNoCase(WSTR("["), WSTR("{")));              // '[' is not 'Z' + 1 folded
  WCHAR text[] = WSTR("ab\u00e9z{Z");
  TextUpperAscii(text);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), u"AB\u00e9Z{Z");
}

TEST(Text, PrefixComparisonStopsAtCountOrEnd) {
  EXPECT_TRUE(TextPrefixEqualNoCase(WSTR("\\dosdevices\\H:"), WSTR("\\DosDevices\\"), 12));
  EXPECT_FALSE(TextPrefixEqualNoCase(WSTR("\\??\\Volume{x}"), WSTR("\\DosDevices\\"), 12));
  EXPECT_FALSE(TextPrefixEqualNoCase(WSTR("\\Dos"), WSTR("\\DosDevices\\"), 12));
  EXPECT_TRUE(TextPrefixEqualNoCase(WSTR("ab"), WSTR("ab"), 12));
}

TEST(Text, CopyAndAppendStayWithinCapacity) {
  WCHAR small[4] = {'x', 'x', 'x', 'x'};
  TextCopy(small, 4, WSTR("ABCDEF"));
  EXPECT_EQ(TextLength(small), 3u);
  TextAppend(small, 4, WSTR("Z"));
  EXPECT_EQ(TextLength(small), 3u);
  EXPECT_EQ(small[3], 0);
}

TEST(Text, ByteSearchNeverPassesLengthOrTerminator) {
  const char content[] = {'<', 'a', '>', 'x', '<', '/', 'a'};  // no terminator
  EXPECT_EQ(BytesFind(content, sizeof content, "<a>"), content);
  EXPECT_EQ(BytesFind(content, sizeof content, "</a>"), nullptr);
  EXPECT_EQ(BytesFind(content, 3, "x"), nullptr);
  const char withZero[] = {'a', 0, 'b'};
  EXPECT_EQ(BytesFind(withZero, sizeof withZero, "b"), nullptr);
  EXPECT_EQ(BytesFind(content, sizeof content, ""), content);
}

// Lengths and positions on every side of the four-character steps, in
// buffers of exactly the text's size, so that a read past it fails under
// AddressSanitizer.
TEST(Text, LengthsAndSearchesAtEveryPosition) {
  for (DWORD length = 0; length <= 9; ++length) {
    std::vector<WCHAR> text(length + 1, 'a');
    text[length] = 0;
    EXPECT_EQ(TextLength(text.data()), length);
    EXPECT_EQ(TextFind(text.data(), WSTR("b")), nullptr) << length;
    for (DWORD at = 0; at < length; ++at) {
      text[at] = 'b';
      EXPECT_EQ(TextFind(text.data(), WSTR("b")), text.data() + at) << length << " " << at;
      EXPECT_EQ(TextFindUpperCased(text.data(), WSTR("B")), text.data() + at) << length << " " << at;
      text[at] = 'a';
    }
    // Unterminated within the limit: counting ends at the limit.
    std::vector<WCHAR> unterminated(length, 'a');
    EXPECT_EQ(TextLengthWithin(unterminated.data(), length), length);
    for (DWORD zero = 0; zero < length; ++zero) {
      unterminated[zero] = 0;
      EXPECT_EQ(TextLengthWithin(unterminated.data(), length), zero) << length;
      unterminated[zero] = 'a';
    }
  }
}

// The folded search finds exactly what a search of the upper-cased
// haystack finds, and leaves the haystack as it was.
TEST(Text, SearchingUpperCasedMatchesUpperCasingFirst) {
  const struct {
    const WCHAR* haystack;
    const WCHAR* upperNeedle;
  } cases[] = {
      {WSTR("_??_usbstor#disk&ven_x#0123&0#{53f5}"), WSTR("0123&0")},
      {WSTR("_??_UsbStor#Disk#ab12cd&0"), WSTR("AB12CD&0")},
      {WSTR("xxAbAbAC"), WSTR("ABAC")},          // restarts after a partial match
      {WSTR("[\\]^_`{|}"), WSTR("{")},           // neighbours of the letters do not fold
      {WSTR("@[`{"), WSTR("`")},
      {WSTR("\u00e9t\u00e9"), WSTR("\u00c9T")},  // nothing beyond ASCII folds
      {WSTR("k12"), WSTR("")},
      {WSTR(""), WSTR("A")},
      {WSTR("ab"), WSTR("ABC")},
  };
  for (const auto& c : cases) {
    const std::u16string before(reinterpret_cast<const char16_t*>(c.haystack));
    std::vector<WCHAR> upper(before.begin(), before.end());
    upper.push_back(0);
    TextUpperAscii(upper.data());
    const WCHAR* expected = TextFind(upper.data(), c.upperNeedle);
    const WCHAR* found = TextFindUpperCased(c.haystack, c.upperNeedle);
    EXPECT_EQ(found == nullptr ? -1 : found - c.haystack, expected == nullptr ? -1 : expected - upper.data())
        << std::string(before.begin(), before.end());
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(c.haystack)), before);
  }
}

TEST(Text, ExactEqualityMindsCase) {
  EXPECT_TRUE(TextEqual(WSTR("USBSTOR"), WSTR("USBSTOR")));
  EXPECT_FALSE(TextEqual(WSTR("USBSTOR"), WSTR("UsbStor")));
  EXPECT_FALSE(TextEqual(WSTR("USB"), WSTR("USBSTOR")));
  EXPECT_TRUE(TextEqual(WSTR(""), WSTR("")));
}
