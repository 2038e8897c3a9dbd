// The system directory, library loading, last-error code, heap, version,
// error mode and the runtime's wide output, as Windows documents them.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/sim/setupapi.h"
#include "platform/sim/sim.h"
#include "platform/sim/trace.h"

struct SimModule {
  int references;
};

namespace {

SimModule setupApiModule{0};
int processHeap;

// Where the simulated library lies: SetupApi.dll in the system directory.
std::u16string SetupApiPath() {
  std::u16string path = Sim().machine.systemDirectory;
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path + u"SetupApi.dll";
}

// On Windows a bare name, or a full path without LOAD_WITH_ALTERED_SEARCH_PATH,
// may load a planted copy of the library or of one it imports. Here only the
// safe form finds it, so that a return to a weaker one fails the tests.
HMODULE LoadSetupApi(const char* call, LPCWSTR name, HANDLE file, DWORD flags) {
  DWORD error = 0;
  if (SimCallFails(call, &error)) {
    SetLastError(error);
    return nullptr;
  }
  if (name == nullptr || file != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (flags != LOAD_WITH_ALTERED_SEARCH_PATH || !SimEqualNoCase(name, SetupApiPath()) ||
      !Sim().machine.setupApiPresent) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++setupApiModule.references;
  ++Sim().counters.librariesLoaded;
  SimTrace(std::string(call) + " SetupApi.dll");
  return &setupApiModule;
}

}  // namespace

void SimResetLibraries() { setupApiModule.references = 0; }

UINT WINAPI SimGetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  DWORD error = 0;
  if (SimCallFails("GetSystemDirectoryW", &error)) {
    SetLastError(error);
    return 0;
  }
  const std::u16string& directory = Sim().machine.systemDirectory;
  const UINT length = static_cast<UINT>(directory.size());
  // Too small: the size it needs, terminator included, and nothing written.
  if (lpBuffer == nullptr || uSize <= length) return length + 1;
  std::copy(directory.begin(), directory.end(), lpBuffer);
  lpBuffer[length] = 0;
  return length;
}

// LoadLibraryExW without flags, as Windows defines it: never the safe form.
HMODULE WINAPI SimLoadLibraryW(LPCWSTR lpLibFileName) {
  return LoadSetupApi("LoadLibraryW", lpLibFileName, nullptr, 0);
}

HMODULE WINAPI SimLoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  return LoadSetupApi("LoadLibraryExW", lpLibFileName, hFile, dwFlags);
}

FARPROC WINAPI SimGetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  DWORD error = 0;
  if (SimCallFails("GetProcAddress", &error)) {
    SetLastError(error);
    return nullptr;
  }
  // A null module is the exe itself, which exports nothing here.
  if (hModule == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (hModule != &setupApiModule || setupApiModule.references == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Sim().counters.procLookups.push_back(lpProcName);
  for (const std::string& missing : Sim().machine.missingEntryPoints) {
    if (missing == lpProcName) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
  }
  std::size_t count = 0;
  const SimExport* exports = SimSetupApiExports(&count);
  for (std::size_t i = 0; i < count; ++i) {
    if (std::strcmp(exports[i].name, lpProcName) == 0) return exports[i].address;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI SimFreeLibrary(HMODULE hLibModule) {
  if (hLibModule != &setupApiModule || setupApiModule.references == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --setupApiModule.references;
  ++Sim().counters.librariesFreed;
  SimTrace("FreeLibrary SetupApi.dll");
  return TRUE;
}

DWORD WINAPI GetLastError() { return Sim().lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { Sim().lastError = dwErrCode; }

HANDLE WINAPI GetProcessHeap() { return &processHeap; }

// A block the heap cannot hold is refused with ERROR_NOT_ENOUGH_MEMORY, as
// Windows was measured to do (its documentation says no code is set).
LPVOID WINAPI SimHeapAlloc(HANDLE hHeap, DWORD, SIZE_T dwBytes) {
  DWORD error = 0;
  if (SimCallFails("HeapAlloc", &error) || hHeap != &processHeap) return nullptr;
  if (dwBytes > Sim().machine.largestAllocation) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* block = std::malloc(dwBytes == 0 ? 1 : dwBytes);
  if (block != nullptr) {
    ++Sim().counters.heapBlocks;
    Sim().counters.heapAllocations.push_back(dwBytes);
  }
  return block;
}

// Freeing nothing succeeds before the heap is even looked at.
BOOL WINAPI SimHeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
  if (lpMem == nullptr) return TRUE;
  if (hHeap != &processHeap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::free(lpMem);
  --Sim().counters.heapBlocks;
  return TRUE;
}

// Takes OSVERSIONINFOW or OSVERSIONINFOEXW, told apart by the size the
// caller set; any other size fails without a last-error code, as on Wine
// (Windows documents only the failure).
BOOL WINAPI SimGetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  DWORD error = 0;
  if (SimCallFails("GetVersionExW", &error)) {
    SetLastError(error);
    return FALSE;
  }
  const std::optional<SimVersion>& version = Sim().machine.version;
  if (!version || lpVersionInformation == nullptr) return FALSE;
  const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) return FALSE;
  lpVersionInformation->dwMajorVersion = version->major;
  lpVersionInformation->dwMinorVersion = version->minor;
  lpVersionInformation->dwBuildNumber = version->build;
  lpVersionInformation->dwPlatformId = version->platformId;
  WCHAR* csd = lpVersionInformation->szCSDVersion;
  csd[version->csdVersion.copy(csd, 127)] = 0;
  if (size == sizeof(OSVERSIONINFOEXW)) {
    auto* extended = reinterpret_cast<LPOSVERSIONINFOEXW>(lpVersionInformation);
    extended->wServicePackMajor = version->servicePackMajor;
    extended->wServicePackMinor = version->servicePackMinor;
    extended->wSuiteMask = version->suiteMask;
    extended->wProductType = version->productType;
  }
  return TRUE;
}

UINT WINAPI SimSetErrorMode(UINT uMode) {
  const UINT previous = Sim().errorMode;
  Sim().errorMode = uMode;
  ++Sim().counters.calls["SetErrorMode"];
  return previous;
}

// Writes the text as one byte per character, as msvcrt does for ASCII in
// text mode; other characters have no place in the report and become '?'.
int wprintf(const WCHAR* format, ...) {
  ++Sim().counters.wprintfCalls;
  if (std::u16string(format) != u"%s") std::abort();  // the only format the command uses
  va_list arguments;
  va_start(arguments, format);
  const WCHAR* text = va_arg(arguments, const WCHAR*);
  va_end(arguments);
  SimTraceWprintf(format, text);
  std::string bytes;
  for (; *text != 0; ++text) bytes += (*text < 128) ? static_cast<char>(*text) : '?';
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  return static_cast<int>(bytes.size());
}

// The host's clock, in UTC.
void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  *lpSystemTime = SYSTEMTIME{static_cast<WORD>(utc.tm_year + 1900), static_cast<WORD>(utc.tm_mon + 1),
                             static_cast<WORD>(utc.tm_wday), static_cast<WORD>(utc.tm_mday),
                             static_cast<WORD>(utc.tm_hour), static_cast<WORD>(utc.tm_min),
                             static_cast<WORD>(utc.tm_sec), 0};
}

// Paths are the host's, given in UTF-16 as msvcrt takes them.
std::FILE* _wfopen(const WCHAR* filename, const WCHAR* mode) {
  return std::fopen(SimToUtf8(filename).c_str(), SimToUtf8(mode).c_str());
}

int _fileno(std::FILE* stream) { return fileno(stream); }

// Takes either mode and, like msvcrt, answers with the previous one: on the
// host that is always binary, since its streams write bytes as given.
int _setmode(int fd, int mode) {
  if (fd < 0 || (mode != _O_TEXT && mode != _O_BINARY)) {
    errno = EINVAL;
    return -1;
  }
  return _O_BINARY;
}
