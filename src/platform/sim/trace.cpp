// The platform functions under their Windows names: each calls the sim's
// own and, when tracing, reports the call in one line of the form
//   Name(arguments) = result, what it returned
// Handles get short names ("key 3", "file 1") when a call returns them, so
// that the lines using them can be followed; text is quoted, with control
// characters escaped; registry data shows its type and its text or bytes.
#include "platform/sim/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>

#include "platform/sim/sim.h"

namespace {

bool Tracing() {
  static const bool on = [] {
    const char* value = std::getenv("DEVDRIVES_TRACE");
    return value != nullptr && *value != 0 && std::strcmp(value, "0") != 0;
  }();
  return on;
}

// One whole line per write, so that lines stay whole whatever else the
// process writes to standard error.
void Report(const char* call, std::initializer_list<std::string> arguments, const std::string& result) {
  std::string line = call;
  line += '(';
  const char* separator = "";
  for (const std::string& argument : arguments) {
    line += separator + argument;
    separator = ", ";
  }
  line += ") = " + result + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

struct Named {
  DWORD value;
  const char* name;
};

const char* NameOrNull(DWORD value, std::initializer_list<Named> names) {
  for (const Named& named : names) {
    if (named.value == value) return named.name;
  }
  return nullptr;
}

// The value's name, or its number.
std::string NameIn(DWORD value, std::initializer_list<Named> names) {
  const char* name = NameOrNull(value, names);
  return name != nullptr ? name : Number(value);
}

// "A|B", with any bits no name covers in hexadecimal; "0" for none.
std::string Flags(DWORD value, std::initializer_list<Named> names) {
  std::string text;
  DWORD rest = value;
  for (const Named& flag : names) {
    if ((value & flag.value) != flag.value) continue;
    text += (text.empty() ? "" : "|") + std::string(flag.name);
    rest &= ~flag.value;
  }
  if (rest != 0) text += (text.empty() ? "" : "|") + Hex(rest);
  return text.empty() ? "0" : text;
}

// The Setup API's code for a device that is no longer there.
constexpr DWORD kErrorNoSuchDevinst = 0xE000020Bu;

// The number, and the name where there is one.
std::string ErrorCode(DWORD code) {
  const char* name = NameOrNull(
      code, {{ERROR_SUCCESS, "ERROR_SUCCESS"}, {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
             {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND"}, {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
             {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"}, {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
             {ERROR_INVALID_DATA, "ERROR_INVALID_DATA"}, {ERROR_NOT_READY, "ERROR_NOT_READY"},
             {ERROR_HANDLE_EOF, "ERROR_HANDLE_EOF"}, {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
             {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER"}, {ERROR_INVALID_NAME, "ERROR_INVALID_NAME"},
             {ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND"}, {ERROR_PROC_NOT_FOUND, "ERROR_PROC_NOT_FOUND"},
             {ERROR_DISCARDED, "ERROR_DISCARDED"}, {ERROR_NOT_LOCKED, "ERROR_NOT_LOCKED"},
             {ERROR_MORE_DATA, "ERROR_MORE_DATA"}, {ERROR_NO_MORE_ITEMS, "ERROR_NO_MORE_ITEMS"},
             {ERROR_NOACCESS, "ERROR_NOACCESS"}, {ERROR_INVALID_FLAGS, "ERROR_INVALID_FLAGS"},
             {ERROR_NO_UNICODE_TRANSLATION, "ERROR_NO_UNICODE_TRANSLATION"},
             {ERROR_INVALID_USER_BUFFER, "ERROR_INVALID_USER_BUFFER"},
             {kErrorNoSuchDevinst, "ERROR_NO_SUCH_DEVINST"}});
  return name != nullptr ? Number(code) + " " + name : Number(code);
}

std::string LastError() { return "last error " + ErrorCode(GetLastError()); }

std::string Status(LSTATUS status) { return ErrorCode(static_cast<DWORD>(status)); }

std::string Bool(BOOL result) { return result ? "TRUE" : "FALSE, " + LastError(); }

void AppendEscaped(std::string& out, std::uint32_t code) {
  const char* escapes[] = {"\\0", "\\t", "\\n", "\\r"};
  const std::uint32_t codes[] = {0, '\t', '\n', '\r'};
  for (int i = 0; i < 4; ++i) {
    if (code == codes[i]) {
      out += escapes[i];
      return;
    }
  }
  char text[12];
  std::snprintf(text, sizeof text, code < 0x100 ? "\\x%02X" : "\\u%04X", code);
  out += text;
}

// UTF-16 text as UTF-8; control characters and unpaired surrogates escaped.
std::string Quoted(const std::u16string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    const bool high = code >= 0xD800 && code < 0xDC00;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (code >= 0xD800 && code < 0xE000) {
      AppendEscaped(out, code);
      continue;
    }
    if (code < 0x20 || code == 0x7F) {
      AppendEscaped(out, code);
    } else {
      SimAppendUtf8(out, code);
    }
  }
  return out + "\"";
}

std::string Text(LPCWSTR text) { return text != nullptr ? Quoted(text) : "NULL"; }

// 8-bit text as a file holds it: printable ASCII as it is, every other byte
// escaped, and no more than the first 256 bytes.
std::string QuotedBytes(const char* bytes, std::size_t count) {
  const std::size_t kShown = 256;
  std::string out = "\"";
  for (std::size_t i = 0; i < count && i < kShown; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
    } else {
      AppendEscaped(out, byte);
    }
  }
  out += "\"";
  if (count > kShown) out += " and " + Number(count - kShown) + " bytes more";
  return out;
}

std::string Text8(LPCSTR text) { return text != nullptr ? QuotedBytes(text, std::strlen(text)) : "NULL"; }

std::string HexBytes(const BYTE* bytes, DWORD count) {
  std::string out = "hex ";
  for (DWORD i = 0; i < count; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    out += pair;
  }
  return out;
}

// Registry data is little-endian UTF-16 wherever it is text.
std::u16string Utf16(const BYTE* bytes, DWORD count) {
  std::u16string text;
  for (DWORD i = 0; i + 1 < count; i += 2) text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  return text;
}

// Binary data that is printable text up to its terminators: mount records are.
bool ReadsAsText(const std::u16string& text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == 0) --end;
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] < 0x20) return false;
  }
  return end != 0;
}

// Type, size and, when the data was returned, its text or its bytes.
std::string Data(DWORD type, const BYTE* data, DWORD size) {
  const char* name = NameOrNull(type, {{REG_NONE, "REG_NONE"}, {REG_SZ, "REG_SZ"}, {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
                                       {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"},
                                       {REG_MULTI_SZ, "REG_MULTI_SZ"}});
  std::string out = (name != nullptr ? name : "type " + Number(type)) + " " + Number(size) + " bytes";
  if (data == nullptr || size == 0) return out;
  const std::u16string text = Utf16(data, size);
  const bool typedAsText = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (size % 2 == 0 && (typedAsText || ReadsAsText(text))) return out + " " + Quoted(text);
  return out + " " + HexBytes(data, size);
}

// Names of the handles calls have returned and not yet closed. Never
// destroyed: the Setup API is freed by a static object's destructor, which
// may run after this file's statics are gone.
struct HandleNames {
  std::map<const void*, std::string> names;
  std::map<std::string, int> counts;
};

HandleNames& Handles() {
  static HandleNames* handles = new HandleNames;
  return *handles;
}

std::string NewName(const char* kind, const void* handle) {
  std::string name = std::string(kind) + " " + Number(static_cast<std::uint64_t>(++Handles().counts[kind]));
  Handles().names[handle] = name;
  return name;
}

std::string NameOf(const void* handle) {
  if (handle == nullptr) return "NULL";
  if (handle == INVALID_HANDLE_VALUE) return "INVALID_HANDLE_VALUE";
  if (handle == HKEY_LOCAL_MACHINE) return "HKLM";
  if (handle == GetProcessHeap()) return "process heap";
  const auto found = Handles().names.find(handle);
  return found != Handles().names.end() ? found->second : "unknown handle";
}

void Forget(const void* handle) { Handles().names.erase(handle); }

// A returned handle by its new name, or the failure value with the last error.
std::string Returned(const char* kind, const void* handle, const void* failure) {
  return handle == failure ? NameOf(handle) + ", " + LastError() : NewName(kind, handle);
}

// Reaches a function through the generic pointer type, both ways.
template <typename Function>
Function Call(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}
template <typename Function>
FARPROC Export(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// The sim's Setup API entry points, as GetProcAddress found them.
struct {
  FARPROC getClassDevsW, enumDeviceInfo, getDeviceRegistryPropertyW, getDeviceInstanceIdW, destroyDeviceInfoList;
} simSetupApi;

// The sim keeps a device's index in its set in Reserved.
std::string Device(PSP_DEVINFO_DATA data) { return data != nullptr ? "device " + Number(data->Reserved) : "NULL"; }

std::string Guid(const GUID* guid) {
  if (guid == nullptr) return "NULL";
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid->Data1, guid->Data2,
                guid->Data3, guid->Data4[0], guid->Data4[1], guid->Data4[2], guid->Data4[3], guid->Data4[4],
                guid->Data4[5], guid->Data4[6], guid->Data4[7]);
  return text;
}

HDEVINFO WINAPI TracedGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent, DWORD flags) {
  const HDEVINFO set = Call<decltype(&TracedGetClassDevsW)>(simSetupApi.getClassDevsW)(ClassGuid, Enumerator,
                                                                                     hwndParent, flags);
  Report("SetupDiGetClassDevsW",
         {Guid(ClassGuid), Text(Enumerator),
          Flags(flags, {{DIGCF_PRESENT, "DIGCF_PRESENT"}, {DIGCF_ALLCLASSES, "DIGCF_ALLCLASSES"}})},
         Returned("set", set, INVALID_HANDLE_VALUE));
  return set;
}

BOOL WINAPI TracedEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  const BOOL found =
      Call<decltype(&TracedEnumDeviceInfo)>(simSetupApi.enumDeviceInfo)(DeviceInfoSet, MemberIndex, DeviceInfoData);
  Report("SetupDiEnumDeviceInfo", {NameOf(DeviceInfoSet), "index " + Number(MemberIndex)}, Bool(found));
  return found;
}

BOOL WINAPI TracedGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                             DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                             DWORD PropertyBufferSize, PDWORD RequiredSize) {
  DWORD ownType = REG_NONE, ownRequired = 0;  // both only written, so the caller cannot tell
  PDWORD type = PropertyRegDataType != nullptr ? PropertyRegDataType : &ownType;
  PDWORD required = RequiredSize != nullptr ? RequiredSize : &ownRequired;
  const BOOL read = Call<decltype(&TracedGetDeviceRegistryPropertyW)>(simSetupApi.getDeviceRegistryPropertyW)(
      DeviceInfoSet, DeviceInfoData, Property, type, PropertyBuffer, PropertyBufferSize, required);
  std::string result = read ? "TRUE, " + Data(*type, PropertyBuffer, *required) : Bool(read);
  if (!read && GetLastError() == ERROR_INSUFFICIENT_BUFFER) result += ", " + Number(*required) + " bytes needed";
  Report("SetupDiGetDeviceRegistryPropertyW",
         {NameOf(DeviceInfoSet), Device(DeviceInfoData),
          NameIn(Property, {{SPDRP_HARDWAREID, "SPDRP_HARDWAREID"}, {SPDRP_SERVICE, "SPDRP_SERVICE"}}),
          Number(PropertyBufferSize) + " bytes offered"},
         result);
  return read;
}

BOOL WINAPI TracedGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                       LPWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize) {
  DWORD ownRequired = 0;
  PDWORD required = RequiredSize != nullptr ? RequiredSize : &ownRequired;
  const BOOL read = Call<decltype(&TracedGetDeviceInstanceIdW)>(simSetupApi.getDeviceInstanceIdW)(
      DeviceInfoSet, DeviceInfoData, DeviceInstanceId, DeviceInstanceIdSize, required);
  std::string result = read ? "TRUE, " + Text(DeviceInstanceId) : Bool(read);
  if (!read && GetLastError() == ERROR_INSUFFICIENT_BUFFER) result += ", " + Number(*required) + " chars needed";
  Report("SetupDiGetDeviceInstanceIdW",
         {NameOf(DeviceInfoSet), Device(DeviceInfoData), Number(DeviceInstanceIdSize) + " chars offered"}, result);
  return read;
}

BOOL WINAPI TracedDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  const BOOL destroyed = Call<decltype(&TracedDestroyDeviceInfoList)>(simSetupApi.destroyDeviceInfoList)(DeviceInfoSet);
  Report("SetupDiDestroyDeviceInfoList", {NameOf(DeviceInfoSet)}, Bool(destroyed));
  if (destroyed) Forget(DeviceInfoSet);
  return destroyed;
}

// The traced stand-in for an entry point the sim's library exports, which
// the stand-in then calls; any other address as it is.
FARPROC Interpose(LPCSTR name, FARPROC address) {
  const struct {
    const char* name;
    FARPROC* sim;
    FARPROC traced;
  } interposed[] = {
      {"SetupDiGetClassDevsW", &simSetupApi.getClassDevsW, Export(TracedGetClassDevsW)},
      {"SetupDiEnumDeviceInfo", &simSetupApi.enumDeviceInfo, Export(TracedEnumDeviceInfo)},
      {"SetupDiGetDeviceRegistryPropertyW", &simSetupApi.getDeviceRegistryPropertyW,
       Export(TracedGetDeviceRegistryPropertyW)},
      {"SetupDiGetDeviceInstanceIdW", &simSetupApi.getDeviceInstanceIdW, Export(TracedGetDeviceInstanceIdW)},
      {"SetupDiDestroyDeviceInfoList", &simSetupApi.destroyDeviceInfoList, Export(TracedDestroyDeviceInfoList)},
  };
  if (address == nullptr) return nullptr;
  for (const auto& entry : interposed) {
    if (std::strcmp(entry.name, name) != 0) continue;
    *entry.sim = address;
    return entry.traced;
  }
  return address;
}

std::string Version(const OSVERSIONINFOW& info) {
  std::string text = Number(info.dwMajorVersion) + "." + Number(info.dwMinorVersion) + "." +
                     Number(info.dwBuildNumber) + ", platform " + Number(info.dwPlatformId) + ", " +
                     Quoted(info.szCSDVersion);
  if (info.dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW)) return text;
  const auto& extended = reinterpret_cast<const OSVERSIONINFOEXW&>(info);
  return text + ", service pack " + Number(extended.wServicePackMajor) + "." + Number(extended.wServicePackMinor) +
         ", suite " + Hex(extended.wSuiteMask) + ", product " + Number(extended.wProductType);
}

std::string ErrorModeFlags(UINT mode) {
  return Flags(mode, {{SEM_FAILCRITICALERRORS, "SEM_FAILCRITICALERRORS"},
                      {SEM_NOOPENFILEERRORBOX, "SEM_NOOPENFILEERRORBOX"}});
}

std::string DriveLetters(DWORD mask) {
  std::string letters;
  for (int n = 0; n < 26; ++n) {
    if ((mask & (1u << n)) != 0) letters += (letters.empty() ? "" : " ") + std::string(1, static_cast<char>('A' + n));
  }
  return letters;
}

// What a registry call was given to write the data into, by the size it
// held before the call.
std::string Offered(LPBYTE data, LPDWORD size, DWORD before) {
  if (data == nullptr) return "no buffer";
  return size != nullptr ? Number(before) + " bytes offered" : "no size";
}

}  // namespace

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  const UINT length = SimGetSystemDirectoryW(lpBuffer, uSize);
  if (Tracing()) {
    // A result the buffer cannot hold is the size needed, and nothing was written.
    const std::string result = length == 0       ? "0, " + LastError()
                               : length < uSize ? Number(length) + ", " + Text(lpBuffer)
                                                 : Number(length) + " chars needed";
    Report("GetSystemDirectoryW", {Number(uSize) + " chars offered"}, result);
  }
  return length;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  const HMODULE module = SimLoadLibraryW(lpLibFileName);
  if (Tracing()) Report("LoadLibraryW", {Text(lpLibFileName)}, Returned("module", module, nullptr));
  return module;
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  const HMODULE module = SimLoadLibraryExW(lpLibFileName, hFile, dwFlags);
  if (Tracing()) {
    Report("LoadLibraryExW",
           {Text(lpLibFileName), NameOf(hFile),
            Flags(dwFlags, {{LOAD_WITH_ALTERED_SEARCH_PATH, "LOAD_WITH_ALTERED_SEARCH_PATH"}})},
           Returned("module", module, nullptr));
  }
  return module;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  const FARPROC address = SimGetProcAddress(hModule, lpProcName);
  if (!Tracing()) return address;
  Report("GetProcAddress", {NameOf(hModule), Text8(lpProcName)}, address != nullptr ? "found" : "NULL, " + LastError());
  return Interpose(lpProcName, address);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  const BOOL freed = SimFreeLibrary(hLibModule);
  if (Tracing()) {
    Report("FreeLibrary", {NameOf(hLibModule)}, Bool(freed));
    if (freed) Forget(hLibModule);
  }
  return freed;
}

// A failed HeapAlloc is shown without a last-error code: an injected
// failure sets none, so the code would be a stale one.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  const LPVOID block = SimHeapAlloc(hHeap, dwFlags, dwBytes);
  if (Tracing()) {
    Report("HeapAlloc", {NameOf(hHeap), Flags(dwFlags, {}), Number(dwBytes) + " bytes"},
           block != nullptr ? NewName("heap block", block) : "NULL");
  }
  return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  const BOOL freed = SimHeapFree(hHeap, dwFlags, lpMem);
  if (Tracing()) {
    Report("HeapFree", {NameOf(hHeap), Flags(dwFlags, {}), NameOf(lpMem)}, Bool(freed));
    if (freed) Forget(lpMem);
  }
  return freed;
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  const BOOL read = SimGetVersionExW(lpVersionInformation);
  if (Tracing()) {
    Report("GetVersionExW",
           {lpVersionInformation != nullptr ? Number(lpVersionInformation->dwOSVersionInfoSize) + " bytes" : "NULL"},
           read ? "TRUE, " + Version(*lpVersionInformation) : Bool(read));
  }
  return read;
}

UINT WINAPI SetErrorMode(UINT uMode) {
  const UINT previous = SimSetErrorMode(uMode);
  if (Tracing()) Report("SetErrorMode", {ErrorModeFlags(uMode)}, ErrorModeFlags(previous));
  return previous;
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  const LSTATUS status = SimRegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  if (Tracing()) {
    std::string result = Status(status);
    if (status == ERROR_SUCCESS) result += ", " + NewName("key", *phkResult);
    Report("RegOpenKeyExW", {NameOf(hKey), Text(lpSubKey), Flags(samDesired, {{KEY_READ, "KEY_READ"}})}, result);
  }
  return status;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  const DWORD offered = lpcbData != nullptr ? *lpcbData : 0;
  DWORD ownType = REG_NONE;  // only written, so the caller cannot tell
  LPDWORD type = lpType != nullptr ? lpType : &ownType;
  const LSTATUS status = SimRegQueryValueExW(hKey, lpValueName, lpReserved, type, lpData, lpcbData);
  if (Tracing()) {
    std::string result = Status(status);
    if ((status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && lpcbData != nullptr) {
      result += ", " + Data(*type, status == ERROR_SUCCESS ? lpData : nullptr, *lpcbData);
    }
    Report("RegQueryValueExW", {NameOf(hKey), Text(lpValueName), Offered(lpData, lpcbData, offered)}, result);
  }
  return status;
}

LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  const DWORD nameOffered = lpcchValueName != nullptr ? *lpcchValueName : 0;
  const DWORD offered = lpcbData != nullptr ? *lpcbData : 0;
  DWORD ownType = REG_NONE;
  LPDWORD type = lpType != nullptr ? lpType : &ownType;
  const LSTATUS status =
      SimRegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, type, lpData, lpcbData);
  if (Tracing()) {
    std::string result = Status(status);
    if (status == ERROR_SUCCESS) result += ", " + Text(lpValueName);
    if ((status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && lpcbData != nullptr) {
      result += ", " + Data(*type, status == ERROR_SUCCESS ? lpData : nullptr, *lpcbData);
    }
    Report("RegEnumValueW",
           {NameOf(hKey), "index " + Number(dwIndex), Number(nameOffered) + " chars offered",
            Offered(lpData, lpcbData, offered)},
           result);
  }
  return status;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  const LSTATUS status = SimRegCloseKey(hKey);
  if (Tracing()) {
    Report("RegCloseKey", {NameOf(hKey)}, Status(status));
    if (status == ERROR_SUCCESS) Forget(hKey);
  }
  return status;
}

DWORD WINAPI GetLogicalDrives() {
  const DWORD mask = SimGetLogicalDrives();
  if (Tracing()) {
    Report("GetLogicalDrives", {}, mask != 0 ? Hex(mask) + ", " + DriveLetters(mask) : "0, " + LastError());
  }
  return mask;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
  const DWORD attributes = SimGetFileAttributesW(lpFileName);
  if (Tracing()) {
    Report("GetFileAttributesW", {Text(lpFileName)},
           attributes == INVALID_FILE_ATTRIBUTES
               ? "INVALID_FILE_ATTRIBUTES, " + LastError()
               : Flags(attributes, {{FILE_ATTRIBUTE_DIRECTORY, "FILE_ATTRIBUTE_DIRECTORY"},
                                    {FILE_ATTRIBUTE_ARCHIVE, "FILE_ATTRIBUTE_ARCHIVE"}}));
  }
  return attributes;
}

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  const HANDLE file = SimCreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                     dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
  if (Tracing()) {
    Report("CreateFileW",
           {Text(lpFileName), Flags(dwDesiredAccess, {{GENERIC_READ, "GENERIC_READ"}}),
            Flags(dwShareMode, {{FILE_SHARE_READ, "FILE_SHARE_READ"}}),
            NameIn(dwCreationDisposition, {{OPEN_EXISTING, "OPEN_EXISTING"}}),
            Flags(dwFlagsAndAttributes, {{FILE_FLAG_SEQUENTIAL_SCAN, "FILE_FLAG_SEQUENTIAL_SCAN"}})},
           Returned("file", file, INVALID_HANDLE_VALUE));
  }
  return file;
}

// INVALID_FILE_SIZE is a size too, told from a failure by the last error.
DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  const DWORD low = SimGetFileSize(hFile, lpFileSizeHigh);
  if (Tracing()) {
    const bool failed = low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS;
    std::string result = low == INVALID_FILE_SIZE ? "INVALID_FILE_SIZE, " + LastError() : Number(low);
    if (!failed && lpFileSizeHigh != nullptr) result += ", high " + Number(*lpFileSizeHigh);
    Report("GetFileSize", {NameOf(hFile)}, result);
  }
  return low;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  const BOOL read = SimReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
  if (Tracing()) {
    const DWORD count = read ? *lpNumberOfBytesRead : 0;
    Report("ReadFile", {NameOf(hFile), Number(nNumberOfBytesToRead) + " bytes asked"},
           read ? "TRUE, " + Number(count) + " bytes read " + QuotedBytes(static_cast<const char*>(lpBuffer), count)
                : Bool(read));
  }
  return read;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  const BOOL closed = SimCloseHandle(hObject);
  if (Tracing()) {
    Report("CloseHandle", {NameOf(hObject)}, Bool(closed));
    if (closed) Forget(hObject);
  }
  return closed;
}

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  const HGLOBAL block = SimGlobalAlloc(uFlags, dwBytes);
  if (Tracing()) {
    Report("GlobalAlloc",
           {Flags(uFlags, {{GMEM_MOVEABLE, "GMEM_MOVEABLE"}, {GMEM_ZEROINIT, "GMEM_ZEROINIT"}}),
            Number(dwBytes) + " bytes"},
           Returned("global block", block, nullptr));
  }
  return block;
}

LPVOID WINAPI GlobalLock(HGLOBAL hMem) {
  const LPVOID memory = SimGlobalLock(hMem);
  if (Tracing()) Report("GlobalLock", {NameOf(hMem)}, memory != nullptr ? "its memory" : "NULL, " + LastError());
  return memory;
}

// FALSE with ERROR_SUCCESS is the last lock gone.
BOOL WINAPI GlobalUnlock(HGLOBAL hMem) {
  const BOOL locked = SimGlobalUnlock(hMem);
  if (Tracing()) Report("GlobalUnlock", {NameOf(hMem)}, Bool(locked));
  return locked;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
  const HGLOBAL left = SimGlobalFree(hMem);
  if (Tracing()) {
    Report("GlobalFree", {NameOf(hMem)}, left == nullptr ? "NULL" : NameOf(left) + ", " + LastError());
    if (left == nullptr) Forget(hMem);
  }
  return left;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  const int chars =
      SimMultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
  if (Tracing()) {
    // A negative count runs to the terminator, which is converted too.
    const std::size_t bytes = lpMultiByteStr == nullptr ? 0
                              : cbMultiByte < 0         ? std::strlen(lpMultiByteStr) + 1
                                                        : static_cast<std::size_t>(cbMultiByte);
    std::string result = Number(static_cast<std::uint64_t>(chars < 0 ? 0 : chars));
    if (chars <= 0) {
      result += ", " + LastError();
    } else if (cchWideChar != 0) {
      result += ", " + Quoted(std::u16string(lpWideCharStr, static_cast<std::size_t>(chars)));
    }
    Report("MultiByteToWideChar",
           {NameIn(CodePage, {{CP_ACP, "CP_ACP"}}),
            Flags(dwFlags, {{MB_PRECOMPOSED, "MB_PRECOMPOSED"}, {MB_ERR_INVALID_CHARS, "MB_ERR_INVALID_CHARS"}}),
            lpMultiByteStr != nullptr ? QuotedBytes(lpMultiByteStr, bytes) : "NULL",
            std::to_string(cbMultiByte) + " bytes", std::to_string(cchWideChar) + " chars offered"},
           result);
  }
  return chars;
}

void SimTraceWprintf(const WCHAR* format, const WCHAR* text) {
  if (Tracing()) Report("wprintf", {Text(format), Text(text)}, Number(std::u16string(text).size()));
}
