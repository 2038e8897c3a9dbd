#include "platform/text.h"

#include <gtest/gtest.h>

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
