// Drives, files on volumes reached by their GUID paths, movable global
// memory and the ANSI code page (Windows-1252), as Windows documents them.
// The simulated volumes are read-only: parameters the command never passes
// (writing, creating, overlapped reads) are not modelled and end the process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/sim/sim.h"
#include "platform/sim/trace.h"

namespace {

struct FileHandle {
  const SimFile* file;
  std::uint64_t position;
};

struct GlobalBlock {
  BYTE* memory;  // null for a discarded block
  DWORD locks;
};

std::set<FileHandle*> openFiles;
bool codePageNoted = false;  // said once per machine
std::set<GlobalBlock*> globalBlocks;

bool Fails(const char* call) {
  DWORD error = 0;
  if (!SimCallFails(call, &error)) return false;
  SetLastError(error);
  return true;
}

FileHandle* FileOf(HANDLE handle) {
  FileHandle* file = static_cast<FileHandle*>(handle);
  return openFiles.count(file) != 0 ? file : nullptr;
}

GlobalBlock* BlockOf(HGLOBAL handle) {
  GlobalBlock* block = static_cast<GlobalBlock*>(handle);
  return globalBlocks.count(block) != 0 ? block : nullptr;
}

// What a path names: a file, or a directory when file is null; and whether
// the path ends in a separator (a root directory's always does).
struct Target {
  const SimFile* file = nullptr;
  bool separatorLast = false;
};

// The volume of "\\?\Volume{GUID}\..." (GUID without regard to ASCII case)
// and the path inside it, without its leading backslash.
const SimVolume* VolumeOf(const std::u16string& path, std::u16string* inside) {
  const std::u16string prefix = u"\\\\?\\Volume";
  if (path.size() < prefix.size() || !SimEqualNoCase(path.substr(0, prefix.size()), prefix)) return nullptr;
  const std::size_t close = path.find(u'}', prefix.size());
  if (close == std::u16string::npos || close + 1 >= path.size() || path[close + 1] != u'\\') return nullptr;
  const std::u16string guid = path.substr(prefix.size(), close + 1 - prefix.size());
  for (const SimVolume& volume : Sim().machine.volumes) {
    if (SimEqualNoCase(volume.guid, guid)) {
      *inside = path.substr(close + 2);
      return &volume;
    }
  }
  return nullptr;
}

enum class Kind { Missing, File, Directory };

// A listed entry, or a directory implied by the entries beneath it.
Kind KindOf(const SimVolume& volume, const std::u16string& inside, const SimFile** file) {
  if (inside.empty()) return Kind::Directory;  // the root
  for (const auto& [name, entry] : volume.entries) {
    if (!SimEqualNoCase(name, inside)) continue;
    if (entry.directory) return Kind::Directory;
    *file = &entry;
    return Kind::File;
  }
  for (const auto& [name, entry] : volume.entries) {
    if (name.size() > inside.size() && name[inside.size()] == u'\\' &&
        SimEqualNoCase(name.substr(0, inside.size()), inside)) {
      return Kind::Directory;
    }
  }
  return Kind::Missing;
}

// "\\?\" paths are not normalised: an empty component, "." or "..",
// cannot name anything, nor can a wildcard.
bool ValidComponent(const std::u16string& component) {
  return !component.empty() && component != u"." && component != u".." &&
         component.find_first_of(u"*?") == std::u16string::npos;
}

// Follows the path component by component: a missing or non-directory
// parent is ERROR_PATH_NOT_FOUND, a missing last component
// ERROR_FILE_NOT_FOUND, a component that cannot name anything
// ERROR_INVALID_NAME.
bool Resolve(LPCWSTR path, Target* target, DWORD* error) {
  std::u16string inside;
  const SimVolume* volume = path != nullptr ? VolumeOf(path, &inside) : nullptr;
  if (volume == nullptr) {
    *error = path != nullptr && std::u16string(path) == u"\\\\?\\" ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (volume->medium != SimMedium::Ready) {
    *error = volume->medium == SimMedium::NoMedium ? ERROR_NOT_READY : ERROR_ACCESS_DENIED;
    return false;
  }
  const bool trailingSeparator = !inside.empty() && inside.back() == u'\\';
  if (trailingSeparator) inside.pop_back();
  std::size_t start = 0;
  for (std::size_t at = inside.find(u'\\'); at != std::u16string::npos; at = inside.find(u'\\', at + 1)) {
    const SimFile* ignored = nullptr;
    if (!ValidComponent(inside.substr(start, at - start))) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
    start = at + 1;
    if (KindOf(*volume, inside.substr(0, at), &ignored) != Kind::Directory) {
      *error = ERROR_PATH_NOT_FOUND;
      return false;
    }
  }
  if (!inside.empty() && !ValidComponent(inside.substr(start))) {
    *error = ERROR_INVALID_NAME;
    return false;
  }
  const SimFile* file = nullptr;
  const Kind kind = KindOf(*volume, inside, &file);
  if (kind == Kind::Missing || (trailingSeparator && inside.empty())) {
    *error = kind == Kind::Missing ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_NAME;
    return false;
  }
  if (kind == Kind::File && trailingSeparator) {  // "file\" names a directory that is not there
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  target->file = file;
  target->separatorLast = trailingSeparator || inside.empty();
  return true;
}

std::uint64_t SizeOf(const SimFile& file) { return file.reportedSize.value_or(file.bytes.size()); }

// Windows-1252: 0x80 to 0x9F, with the five unassigned bytes mapped to the
// C1 controls of the same value, as Windows' table does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

WCHAR FromCp1252(char byte) {
  const unsigned char code = static_cast<unsigned char>(byte);
  return (code >= 0x80 && code <= 0x9F) ? kCp1252High[code - 0x80] : static_cast<WCHAR>(code);
}

}  // namespace

void SimResetFiles() {
  for (FileHandle* file : openFiles) delete file;
  openFiles.clear();
  for (GlobalBlock* block : globalBlocks) {
    std::free(block->memory);
    delete block;
  }
  globalBlocks.clear();
  codePageNoted = false;
}

DWORD WINAPI SimGetLogicalDrives() {
  if (Fails("GetLogicalDrives")) return 0;
  return Sim().machine.driveMask;
}

DWORD WINAPI SimGetFileAttributesW(LPCWSTR lpFileName) {
  SimNoteVolumeAccess();
  if (Fails("GetFileAttributesW")) return INVALID_FILE_ATTRIBUTES;
  Target target;
  DWORD error = 0;
  if (!Resolve(lpFileName, &target, &error)) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return target.file == nullptr ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

HANDLE WINAPI SimCreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                             DWORD dwCreationDisposition, DWORD, HANDLE hTemplateFile) {
  SimNoteVolumeAccess();
  if (dwDesiredAccess != GENERIC_READ || dwCreationDisposition != OPEN_EXISTING || hTemplateFile != nullptr) {
    std::abort();
  }
  if (Fails("CreateFileW")) return INVALID_HANDLE_VALUE;
  Target target;
  DWORD error = 0;
  if (!Resolve(lpFileName, &target, &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  if (target.file == nullptr) {  // a directory opens only with FILE_FLAG_BACKUP_SEMANTICS
    // Named with its separator, it is not even looked for as a file.
    SetLastError(target.separatorLast ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  FileHandle* file = new FileHandle{target.file, 0};
  openFiles.insert(file);
  ++Sim().counters.openFiles;
  return file;
}

DWORD WINAPI SimGetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  SimNoteVolumeAccess();
  if (Fails("GetFileSize")) return INVALID_FILE_SIZE;
  const FileHandle* file = FileOf(hFile);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const std::uint64_t size = SizeOf(*file->file);
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  const DWORD low = static_cast<DWORD>(size);
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);  // tells this size from a failure
  return low;
}

// Reads what the file holds from the current position: fewer bytes than
// asked for at its end, and zero bytes with success past it.
BOOL WINAPI SimReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                        LPOVERLAPPED lpOverlapped) {
  SimNoteVolumeAccess();
  if (lpOverlapped != nullptr) std::abort();
  if (Fails("ReadFile")) return FALSE;
  FileHandle* file = FileOf(hFile);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpNumberOfBytesRead == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpNumberOfBytesRead = 0;
  if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  const SimBytes& bytes = file->file->bytes;
  const std::uint64_t held = bytes.size();
  const std::uint64_t available = file->position < held ? held - file->position : 0;
  const DWORD count = static_cast<DWORD>(available < nNumberOfBytesToRead ? available : nNumberOfBytesToRead);
  if (count != 0) std::memcpy(lpBuffer, bytes.data() + file->position, count);
  file->position += count;
  *lpNumberOfBytesRead = count;
  return TRUE;
}

BOOL WINAPI SimCloseHandle(HANDLE hObject) {
  if (Fails("CloseHandle")) return FALSE;
  FileHandle* file = FileOf(hObject);
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  SimNoteVolumeAccess();
  openFiles.erase(file);
  delete file;
  --Sim().counters.openFiles;
  return TRUE;
}

// Only movable blocks are modelled; one of zero bytes is made discarded,
// as documented, so that locking it fails. A block beyond the machine's
// largest allocation is refused without being attempted.
HGLOBAL WINAPI SimGlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  if ((uFlags & GMEM_MOVEABLE) == 0) std::abort();
  if (Fails("GlobalAlloc")) return nullptr;
  BYTE* memory = nullptr;
  if (dwBytes != 0) {
    void* raw = dwBytes > Sim().machine.largestAllocation ? nullptr
                : (uFlags & GMEM_ZEROINIT) != 0 ? std::calloc(dwBytes, 1) : std::malloc(dwBytes);
    if (raw == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    memory = static_cast<BYTE*>(raw);
  }
  GlobalBlock* block = new GlobalBlock{memory, 0};
  globalBlocks.insert(block);
  ++Sim().counters.globalBlocks;
  return block;
}

LPVOID WINAPI SimGlobalLock(HGLOBAL hMem) {
  if (Fails("GlobalLock")) return nullptr;
  GlobalBlock* block = BlockOf(hMem);
  if (block == nullptr || block->memory == nullptr) {
    SetLastError(block == nullptr ? ERROR_INVALID_HANDLE : ERROR_DISCARDED);
    return nullptr;
  }
  if (block->locks++ == 0) ++Sim().counters.lockedBlocks;
  return block->memory;
}

// Nonzero while locks remain; zero with ERROR_SUCCESS when the last goes.
BOOL WINAPI SimGlobalUnlock(HGLOBAL hMem) {
  if (Fails("GlobalUnlock")) return FALSE;
  GlobalBlock* block = BlockOf(hMem);
  if (block == nullptr) {  // Windows answers nonzero, as if a lock remained
    SetLastError(ERROR_INVALID_HANDLE);
    return TRUE;
  }
  if (block->locks == 0) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  if (--block->locks != 0) return TRUE;
  --Sim().counters.lockedBlocks;
  SetLastError(ERROR_SUCCESS);
  return FALSE;
}

// Null on success, the handle on failure. Windows frees a locked block as
// well; its lock then stays counted, so that a missing unlock shows.
HGLOBAL WINAPI SimGlobalFree(HGLOBAL hMem) {
  if (Fails("GlobalFree")) return hMem;
  if (hMem == nullptr) return nullptr;
  GlobalBlock* block = BlockOf(hMem);
  if (block == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
  }
  globalBlocks.erase(block);
  std::free(block->memory);
  delete block;
  --Sim().counters.globalBlocks;
  return nullptr;
}

// The machine's ANSI code page is Windows-1252, a single-byte table in
// which every byte has a character, so MB_ERR_INVALID_CHARS never fails and
// precomposition changes nothing.
int WINAPI SimMultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                  LPWSTR lpWideCharStr, int cchWideChar) {
  if (Fails("MultiByteToWideChar")) return 0;
  if (CodePage != CP_ACP && CodePage != 1252) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (CodePage == CP_ACP && Sim().machine.codePage != 1252 && !codePageNoted) {
    std::fprintf(stderr, "sim: code page %u is not modelled; text is converted as 1252\n",
                 static_cast<unsigned>(Sim().machine.codePage));
    codePageNoted = true;
  }
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 ||
      (lpWideCharStr == nullptr && cchWideChar != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Flags are checked only once the arguments are sound.
  if ((dwFlags & ~(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  // A negative count means the text runs to its terminator, which is converted too.
  const std::size_t length =
      cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
  if (cchWideChar == 0) return static_cast<int>(length);
  const std::size_t room = static_cast<std::size_t>(cchWideChar);
  for (std::size_t i = 0; i < length && i < room; ++i) lpWideCharStr[i] = FromCp1252(lpMultiByteStr[i]);
  if (length > room) {  // what fits has been written, as Windows does
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return static_cast<int>(length);
}

UINT WINAPI GetACP() { return Sim().machine.codePage; }
