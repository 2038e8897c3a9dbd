#include "platform/text.h"

#include <cstring>

namespace {

WCHAR FoldAscii(WCHAR c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c - 'A' + 'a') : c;
}

}  // namespace

DWORD TextLength(const WCHAR* text) {
  DWORD length = 0;
  while (text[length] != 0) ++length;
  return length;
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
  if (*needle == 0) return haystack;
  for (;; ++haystack) {
    // Most positions fail at the first character; reach the next candidate fast.
    while (*haystack != 0 && *haystack != *needle) ++haystack;
    if (*haystack == 0) return nullptr;
    DWORD i = 1;
    while (needle[i] != 0 && haystack[i] == needle[i]) ++i;
    if (needle[i] == 0) return haystack;
  }
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
  for (; *text != 0; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<WCHAR>(*text - 'a' + 'A');
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
