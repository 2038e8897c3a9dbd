#include "platform/text.h"

#include <cstring>

namespace {

WCHAR FoldAscii(WCHAR c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c - 'A' + 'a') : c;
}

WCHAR UpperAscii(WCHAR c) { return (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

// The first character that is a, b or the terminator. Four characters a
// step: the scan runs this over every instance ID and mount record it meets.
const WCHAR* SkipToEitherOrEnd(const WCHAR* text, WCHAR a, WCHAR b) {
  for (;; text += 4) {
    if (text[0] == 0 || text[0] == a || text[0] == b) return text;
    if (text[1] == 0 || text[1] == a || text[1] == b) return text + 1;
    if (text[2] == 0 || text[2] == a || text[2] == b) return text + 2;
    if (text[3] == 0 || text[3] == a || text[3] == b) return text + 3;
  }
}

// The search both finds share: equal(haystack character, needle character)
// tells a match, and firstOther is the other character that matches the
// needle's first (the first itself when there is none).
template <class Equal>
const WCHAR* FindWith(const WCHAR* haystack, const WCHAR* needle, WCHAR firstOther, Equal equal) {
  if (*needle == 0) return haystack;
  for (;; ++haystack) {
    // Most positions fail at the first character; reach the next candidate fast.
    haystack = SkipToEitherOrEnd(haystack, *needle, firstOther);
    if (*haystack == 0) return nullptr;
    DWORD i = 1;
    while (needle[i] != 0 && equal(haystack[i], needle[i])) ++i;
    if (needle[i] == 0) return haystack;
  }
}

}  // namespace

DWORD TextLength(const WCHAR* text) { return static_cast<DWORD>(SkipToEitherOrEnd(text, 0, 0) - text); }

DWORD TextLengthWithin(const WCHAR* text, DWORD limit) {
  const WCHAR* at = text;
  const WCHAR* const end = text + limit;
  // Four characters a step, as the walk over every device's IDs uses it.
  for (; end - at >= 4; at += 4) {
    if (at[0] == 0) return static_cast<DWORD>(at - text);
    if (at[1] == 0) return static_cast<DWORD>(at + 1 - text);
    if (at[2] == 0) return static_cast<DWORD>(at + 2 - text);
    if (at[3] == 0) return static_cast<DWORD>(at + 3 - text);
  }
  while (at < end && *at != 0) ++at;
  return static_cast<DWORD>(at - text);
}

void TextCopy(WCHAR* destination, DWORD capacity, const WCHAR* source) {
  DWORD i = 0;
  for (; i + 1 < capacity && source[i] != 0; ++i) destination[i] = source[i];
  destination[i] = 0;
}

void TextAppend(WCHAR* destination, DWORD capacity, const WCHAR* source) {
  const DWORD used = TextLength(destination);
  if (used < capacity) TextCopy(destination + used, capacity - used, source);
}

const WCHAR* TextFind(const WCHAR* haystack, const WCHAR* needle) {
  return FindWith(haystack, needle, *needle, [](WCHAR text, WCHAR wanted) { return text == wanted; });
}

const WCHAR* TextFindUpperCased(const WCHAR* haystack, const WCHAR* upperNeedle) {
  return FindWith(haystack, upperNeedle, FoldAscii(*upperNeedle),
                  [](WCHAR text, WCHAR wanted) { return UpperAscii(text) == wanted; });
}

const char* BytesFind(const char* haystack, std::size_t length, const char* needle) {
  std::size_t end = 0;
  while (end < length && haystack[end] != 0) ++end;
  const std::size_t needleLength = std::strlen(needle);
  if (needleLength > end) return nullptr;
  for (std::size_t at = 0; at + needleLength <= end; ++at) {
    if (std::memcmp(haystack + at, needle, needleLength) == 0) return haystack + at;
  }
  return nullptr;
}

void TextUpperAscii(WCHAR* text) {
  for (; *text != 0; ++text) *text = UpperAscii(*text);
}

bool TextEqual(const WCHAR* left, const WCHAR* right) {
  for (;; ++left, ++right) {
    if (*left != *right) return false;
    if (*left == 0) return true;
  }
}

bool TextEqualNoCase(const WCHAR* left, const WCHAR* right) {
  for (;; ++left, ++right) {
    if (FoldAscii(*left) != FoldAscii(*right)) return false;
    if (*left == 0) return true;
  }
}

bool TextPrefixEqualNoCase(const WCHAR* left, const WCHAR* right, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    if (FoldAscii(left[i]) != FoldAscii(right[i])) return false;
    if (left[i] == 0) return true;
  }
  return true;
}
