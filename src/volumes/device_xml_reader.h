// Reads one text value from a device descriptor file ("device.xml").
#pragma once

#include "platform/win32.h"

// The error mode under which volume contents are touched: a drive without
// a medium then fails the call instead of raising a dialog.
constexpr UINT kVolumeErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

// The text of the first innerTag element inside the first outerTag element
// of the 8-bit file at path, converted from the ANSI code page: a literal
// search for "<tag>" and "</tag>", where a missing closing tag lets the
// value run on. Returns the value's length in characters, 0 when there is
// none. Copies the value into dst, with every control character turned
// into a space, only when dst is not null and the length is below dstChars.
int ReadDeviceXmlValue(WCHAR* dst, DWORD dstChars, const WCHAR* path, const char* outerTag,
                       const char* innerTag);
