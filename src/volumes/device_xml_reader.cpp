#include "volumes/device_xml_reader.h"

#include <cstring>

#include "inventory/scan_notes.h"
#include "platform/text.h"

namespace {

constexpr DWORD kValueChars = 256;  // terminator included
constexpr std::size_t kTagBytes = 256;

struct Tags {
  char outerOpen[kTagBytes];
  char outerClose[kTagBytes];
  char innerOpen[kTagBytes];
  char innerClose[kTagBytes];
};

// "<name>" or "</name>"; false when that does not fit kTagBytes.
bool FormatTag(char* tag, const char* name, bool closing) {
  const std::size_t start = closing ? 2 : 1;
  const std::size_t nameLength = std::strlen(name);
  if (start + nameLength + 2 > kTagBytes) return false;
  tag[0] = '<';
  if (closing) tag[1] = '/';
  std::memcpy(tag + start, name, nameLength);
  tag[start + nameLength] = '>';
  tag[start + nameLength + 1] = 0;
  return true;
}

bool BuildTags(const char* outerTag, const char* innerTag, Tags* tags) {
  return FormatTag(tags->outerOpen, outerTag, false) && FormatTag(tags->outerClose, outerTag, true) &&
         FormatTag(tags->innerOpen, innerTag, false) && FormatTag(tags->innerClose, innerTag, true);
}

// The text from cursor ends where tag begins, or stays ending at end.
const char* EndAt(const char* cursor, const char* end, const char* tag) {
  const char* at = BytesFind(cursor, static_cast<std::size_t>(end - cursor), tag);
  return at != nullptr ? at : end;
}

// Bytes before end or before the first zero byte, whichever comes first.
std::size_t TextBytes(const char* text, const char* end) {
  const char* at = text;
  while (at < end && *at != 0) ++at;
  return static_cast<std::size_t>(at - text);
}

// A value that needs more room than the result buffer counts as none.
void ConvertValue(const char* text, std::size_t bytes, WCHAR* value) {
  if (bytes == 0) return;
  const int count = static_cast<int>(bytes < 0x7FFFFFFF ? bytes : 0x7FFFFFFF);
  const int chars = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, count, value, kValueChars - 1);
  value[chars > 0 ? chars : 0] = 0;
}

// The content block holds exactly the file's bytes, with no terminator, so
// every search is bounded by its length.
void FindValue(const char* content, std::size_t length, const Tags& tags, WCHAR* value) {
  const char* end = content + length;
  const char* cursor = BytesFind(content, length, tags.outerOpen);
  if (cursor == nullptr) return;
  cursor += std::strlen(tags.outerOpen);
  end = EndAt(cursor, end, tags.outerClose);
  cursor = BytesFind(cursor, static_cast<std::size_t>(end - cursor), tags.innerOpen);
  if (cursor == nullptr) return;
  cursor += std::strlen(tags.innerOpen);
  end = EndAt(cursor, end, tags.innerClose);
  ConvertValue(cursor, TextBytes(cursor, end), value);
}

void ReadContent(HANDLE file, DWORD size, const Tags& tags, WCHAR* value) {
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (block == nullptr) return;
  char* content = static_cast<char*>(GlobalLock(block));
  if (content != nullptr) {
    DWORD read = 0;
    if (ReadFile(file, content, size, &read, nullptr)) {
      NoteDescriptorRead();
      FindValue(content, read, tags, value);
    }
    GlobalUnlock(block);
  }
  GlobalFree(block);
}

// An empty file has no value; one of 4 GiB or more cannot be held by a
// 32-bit process and has none either.
void ReadValue(const WCHAR* path, const Tags& tags, WCHAR* value) {
  const HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD sizeHigh = 0;
  const DWORD size = GetFileSize(file, &sizeHigh);
  if (size == 0 && sizeHigh == 0) NoteDescriptorRead();  // read whole: there is nothing in it
  if (size != 0 && size != INVALID_FILE_SIZE && sizeHigh == 0) ReadContent(file, size, tags, value);
  CloseHandle(file);
}

// Line breaks and other control characters would split the value.
void CopyWithSpaces(WCHAR* dst, const WCHAR* value) {
  DWORD i = 0;
  for (; value[i] != 0; ++i) dst[i] = value[i] < 32 ? static_cast<WCHAR>(' ') : value[i];
  dst[i] = 0;
}

}  // namespace

int ReadDeviceXmlValue(WCHAR* dst, DWORD dstChars, const WCHAR* path, const char* outerTag,
                       const char* innerTag) {
  WCHAR value[kValueChars];
  value[0] = 0;
  Tags tags;
  const UINT previousMode = SetErrorMode(kVolumeErrorMode);
  if (BuildTags(outerTag, innerTag, &tags) && (GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ReadValue(path, tags, value);
  }
  SetErrorMode(previousMode);
  const DWORD length = TextLength(value);
  if (dst != nullptr && length < dstChars) CopyWithSpaces(dst, value);
  return static_cast<int>(length);
}
