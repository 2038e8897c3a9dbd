// Library loading, last-error code, heap, version, error mode and the
// runtime's wide output, as Windows documents them.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/sim/setupapi.h"
#include "platform/sim/sim.h"

struct SimModule {
  int references;
};

namespace {

SimModule setupApiModule{0};
int processHeap;

// A bare name gets ".dll"; the file name is compared without regard to case.
bool NamesSetupApi(LPCWSTR name) {
  std::u16string text(name);
  if (text.find(u'.') == std::u16string::npos) text += u".dll";
  return SimEqualNoCase(text, u"SetupApi.dll");
}

}  // namespace

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  DWORD error = 0;
  if (SimCallFails("LoadLibraryW", &error)) {
    SetLastError(error);
    return nullptr;
  }
  if (lpLibFileName == nullptr || !NamesSetupApi(lpLibFileName) || !Sim().machine.setupApiPresent) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++setupApiModule.references;
  ++Sim().counters.librariesLoaded;
  SimTrace("LoadLibraryW SetupApi.dll");
  return &setupApiModule;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  DWORD error = 0;
  if (SimCallFails("GetProcAddress", &error)) {
    SetLastError(error);
    return nullptr;
  }
  if (hModule != &setupApiModule || setupApiModule.references == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
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

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
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

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD, SIZE_T dwBytes) {
  DWORD error = 0;
  // Without HEAP_GENERATE_EXCEPTIONS a failed allocation only returns null.
  if (SimCallFails("HeapAlloc", &error) || hHeap != &processHeap) return nullptr;
  void* block = std::malloc(dwBytes == 0 ? 1 : dwBytes);
  if (block != nullptr) {
    ++Sim().counters.heapBlocks;
    Sim().counters.heapAllocations.push_back(dwBytes);
  }
  return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
  if (hHeap != &processHeap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpMem == nullptr) return TRUE;
  std::free(lpMem);
  --Sim().counters.heapBlocks;
  return TRUE;
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  DWORD error = 0;
  if (SimCallFails("GetVersionExW", &error)) {
    SetLastError(error);
    return FALSE;
  }
  const std::optional<SimVersion>& version = Sim().machine.version;
  if (!version || lpVersionInformation == nullptr ||
      lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  lpVersionInformation->dwMajorVersion = version->major;
  lpVersionInformation->dwMinorVersion = version->minor;
  lpVersionInformation->dwBuildNumber = version->build;
  lpVersionInformation->dwPlatformId = version->platformId;
  lpVersionInformation->szCSDVersion[0] = 0;
  return TRUE;
}

UINT WINAPI SetErrorMode(UINT uMode) {
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
