// Calls every platform function the command uses, with edge inputs, and
// prints one line per call: a stable label, the return value, the outputs
// and the last-error code. Built against the simulated Windows and as a
// Windows exe, run on the same machine (probe-machine.json), the two
// transcripts must agree except where known-differences says why not.
//
// The last error is preset to a sentinel before each call, so a call that
// leaves it alone prints "err=untouched". Only the machine's own devices
// (IDs holding "C0DE") are printed, sorted, since a real system lists more
// devices, in an order of its own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "setupapi/setupapi_binding.h"  // the entry points' types

namespace {

const DWORD kSentinel = 0xDEADBEEFu;

const WCHAR kProbeKey[] = WSTR("SOFTWARE\\ConformanceProbe");
const WCHAR kEnumerationKey[] = WSTR("SOFTWARE\\ConformanceProbe\\Enumeration");
const WCHAR kMainVolume[] = WSTR("\\\\?\\Volume{c0de0001-0000-0000-0000-000000000001}\\");
const WCHAR kNoMediumVolume[] = WSTR("\\\\?\\Volume{c0de0002-0000-0000-0000-000000000002}\\");
const WCHAR kUnknownVolume[] = WSTR("\\\\?\\Volume{c0de0009-0000-0000-0000-000000000009}\\");

// ---------------------------------------------------------------------------
// Formatting

std::string Dec(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%lu", value);
  return text;
}

std::string Hex32(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lX", value);
  return text;
}

// Short data in full; long data as its size and a checksum (FNV-1a).
std::string Bytes(const void* data, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  if (size > 64) {
    unsigned long hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) hash = ((hash ^ bytes[i]) * 16777619u) & 0xFFFFFFFFu;
    return Dec(static_cast<unsigned long>(size)) + "b:fnv" + Hex32(hash);
  }
  std::string text = size == 0 ? "-" : "";
  for (std::size_t i = 0; i < size; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// Printable ASCII as it is, anything else as \uXXXX; long text as its
// length and a checksum.
std::string Text(const WCHAR* text, std::size_t length) {
  if (length > 64) return Dec(static_cast<unsigned long>(length)) + "ch:" + Bytes(text, length * sizeof(WCHAR));
  std::string result = "\"";
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned code = static_cast<unsigned>(text[i]);
    if (code == '"' || code == '\\') {
      result += '\\';
      result += static_cast<char>(code);
    } else if (code >= 0x20 && code < 0x7F) {
      result += static_cast<char>(code);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", code);
      result += escape;
    }
  }
  return result + "\"";
}

std::string Terminated(const WCHAR* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return Text(text, length);
}

std::string Narrow(const WCHAR* text) {
  std::string result;
  for (; *text != 0; ++text) result += static_cast<char>(*text < 0x80 ? *text : '?');
  return result;
}

std::string Pointer(const void* pointer) { return pointer == nullptr ? "null" : "nonnull"; }

std::string Bool(BOOL value) { return value ? "TRUE" : "FALSE"; }

std::string Status(LSTATUS status) { return Dec(static_cast<unsigned long>(status)); }

void Preset() { SetLastError(kSentinel); }

std::string Err() {
  const DWORD error = GetLastError();
  return "err=" + (error == kSentinel ? std::string("untouched") : Dec(error));
}

void Out(const std::string& label, const std::string& fields) { std::printf("%s: %s\n", label.c_str(), fields.c_str()); }

// ---------------------------------------------------------------------------
// Library loading and the Setup API

struct SetupApi {
  HMODULE module = nullptr;
  SetupApiBinding::GetClassDevsWFn getClassDevs = nullptr;
  SetupApiBinding::EnumDeviceInfoFn enumDeviceInfo = nullptr;
  SetupApiBinding::GetDeviceInstanceIdWFn getInstanceId = nullptr;
  SetupApiBinding::GetDeviceRegistryPropertyWFn getProperty = nullptr;
  SetupApiBinding::DestroyDeviceInfoListFn destroyList = nullptr;
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& field) {
  Preset();
  const FARPROC address = GetProcAddress(module, name);
  Out(std::string("GetProcAddress(") + name + ")", "ret=" + Pointer(reinterpret_cast<const void*>(address)) + " " + Err());
  field = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// The size protocol: the size the path needs (terminator included) when
// the buffer is missing or too small, its length when it fits. Returns
// the directory, empty when it cannot be had.
std::u16string ProbeSystemDirectory() {
  Preset();
  const UINT needed = GetSystemDirectoryW(nullptr, 0);
  Out("GetSystemDirectoryW(null buffer)", "ret=" + Dec(needed) + " " + Err());
  if (needed < 2 || needed > MAX_PATH) return std::u16string();

  std::vector<WCHAR> buffer(MAX_PATH + 1, static_cast<WCHAR>('#'));
  const struct {
    const char* label;
    UINT size;
  } sizes[] = {{"short by one", needed - 1}, {"exact", needed}, {"MAX_PATH", MAX_PATH}};
  UINT length = 0;
  for (const auto& size : sizes) {
    std::fill(buffer.begin(), buffer.end(), static_cast<WCHAR>('#'));
    Preset();
    length = GetSystemDirectoryW(buffer.data(), size.size);
    Out(std::string("GetSystemDirectoryW(") + size.label + ")",
        "ret=" + Dec(length) + " out=" + Text(buffer.data(), needed) + " " + Err());
  }
  if (length + 1 != needed) return std::u16string();
  std::u16string directory;
  for (UINT i = 0; i < length; ++i) directory += static_cast<char16_t>(buffer[i]);
  return directory;
}

std::u16string Upper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return text;
}

// WCHAR is char16_t here and wchar_t on Windows, both 16 bits.
const WCHAR* Wide(const std::u16string& text) { return reinterpret_cast<const WCHAR*>(text.c_str()); }

// A load the command must not rely on: printed, and released again
// unprinted, since only one side may find the library this way.
void ProbeWeakLoad(const std::string& label, const std::u16string& name, DWORD flags, bool extended) {
  Preset();
  const HMODULE module = extended ? LoadLibraryExW(Wide(name), nullptr, flags) : LoadLibraryW(Wide(name));
  Out(label, "ret=" + Pointer(module) + " " + Err());
  if (module != nullptr) FreeLibrary(module);
}

SetupApi ProbeLibraries() {
  const std::u16string directory = ProbeSystemDirectory();
  const std::u16string path = directory + (!directory.empty() && directory.back() == u'\\' ? u"" : u"\\") +
                              u"SetupApi.dll";

  Preset();
  const HMODULE missing = LoadLibraryW(WSTR("NoSuchLibrary.dll"));
  Out("LoadLibraryW(NoSuchLibrary.dll)", "ret=" + Pointer(missing) + " " + Err());
  ProbeWeakLoad("LoadLibraryW(setupapi)", u"setupapi", 0, false);
  ProbeWeakLoad("LoadLibraryExW(SetupApi.dll, altered search path)", u"SetupApi.dll", LOAD_WITH_ALTERED_SEARCH_PATH,
                true);
  ProbeWeakLoad("LoadLibraryW(system path)", path, 0, false);
  ProbeWeakLoad("LoadLibraryExW(system path, no flags)", path, 0, true);

  // The way the command loads it, then once more by the same path in
  // another case: the second reference is released on its own.
  SetupApi api;
  Preset();
  api.module = LoadLibraryExW(Wide(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  Out("LoadLibraryExW(system path, altered search path)", "ret=" + Pointer(api.module) + " " + Err());
  if (api.module == nullptr) return api;
  Preset();
  const HMODULE again = LoadLibraryExW(Wide(Upper(path)), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  Out("LoadLibraryExW(system path in upper case, altered search path)",
      "ret=" + Pointer(again) + " same=" + Bool(again == api.module) + " " + Err());
  if (again != nullptr) {
    Preset();
    const BOOL freed = FreeLibrary(again);
    Out("FreeLibrary(second reference)", "ret=" + Bool(freed) + " " + Err());
  }

  void (*nothing)() = nullptr;
  Resolve(api.module, "SetupDiNoSuchFunction", nothing);
  Resolve(api.module, "SetupDiGetClassDevsW", api.getClassDevs);
  Resolve(api.module, "SetupDiEnumDeviceInfo", api.enumDeviceInfo);
  Resolve(api.module, "SetupDiGetDeviceInstanceIdW", api.getInstanceId);
  Resolve(api.module, "SetupDiGetDeviceRegistryPropertyW", api.getProperty);
  Resolve(api.module, "SetupDiDestroyDeviceInfoList", api.destroyList);
  // Resolved by the command at start-up, never called on a scan.
  for (const char* name : {"SetupDiDeleteDevRegKey", "SetupDiRemoveDevice", "CM_Request_Device_EjectW"}) {
    Resolve(api.module, name, nothing);
  }
  // A null module is the exe itself.
  Preset();
  const FARPROC own = GetProcAddress(nullptr, "SetupDiNoSuchFunction");
  Out("GetProcAddress(null module)", "ret=" + Pointer(reinterpret_cast<const void*>(own)) + " " + Err());
  return api;
}

struct Member {
  std::string id;  // upper-cased by the system
  DWORD index;
};

SP_DEVINFO_DATA DeviceData() {
  SP_DEVINFO_DATA data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  return data;
}

// The set's members whose IDs hold "C0DE", sorted by ID; the enumeration
// itself is printed only where it does not depend on other devices.
std::vector<Member> ProbeEnumeration(const SetupApi& api, HDEVINFO set) {
  SP_DEVINFO_DATA wrongSize = DeviceData();
  wrongSize.cbSize = 0;
  Preset();
  const BOOL wrong = api.enumDeviceInfo(set, 0, &wrongSize);
  Out("SetupDiEnumDeviceInfo(cbSize 0)", "ret=" + Bool(wrong) + " " + Err());

  std::vector<Member> members;
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA data = DeviceData();
    Preset();
    if (!api.enumDeviceInfo(set, index, &data)) break;
    WCHAR id[512];
    DWORD required = 0;
    if (!api.getInstanceId(set, &data, id, 512, &required)) continue;
    const std::string narrow = Narrow(id);
    if (narrow.find("C0DE") != std::string::npos) members.push_back({narrow, index});
  }
  Out("SetupDiEnumDeviceInfo(past the end)", "ret=FALSE " + Err());
  std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) { return a.id < b.id; });
  return members;
}

void ProbeInstanceId(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA* data, const std::string& label) {
  DWORD needed = kSentinel;
  Preset();
  BOOL ok = api.getInstanceId(set, data, nullptr, 0, &needed);
  const bool sized = ok || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  Out(label + " SetupDiGetDeviceInstanceIdW(size 0)", "ret=" + Bool(ok) + " required=" + Dec(needed) + " " + Err());
  if (!sized || needed == 0 || needed > 1024) return;

  std::vector<WCHAR> buffer(needed + 1, static_cast<WCHAR>('#'));
  DWORD required = kSentinel;
  Preset();
  ok = api.getInstanceId(set, data, buffer.data(), needed - 1, &required);
  Out(label + " SetupDiGetDeviceInstanceIdW(short by one)",
      "ret=" + Bool(ok) + " required=" + Dec(required) + " " + Err());

  required = kSentinel;
  Preset();
  ok = api.getInstanceId(set, data, buffer.data(), needed, &required);
  Out(label + " SetupDiGetDeviceInstanceIdW(exact)", "ret=" + Bool(ok) + " required=" + Dec(required) +
                                                         " id=" + Text(buffer.data(), needed) + " " + Err());
}

void ProbeProperty(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA* data, const std::string& label,
                   DWORD property, const char* name) {
  const std::string call = label + " SetupDiGetDeviceRegistryPropertyW(" + name;
  DWORD type = kSentinel;
  DWORD needed = kSentinel;
  Preset();
  BOOL ok = api.getProperty(set, data, property, &type, nullptr, 0, &needed);
  const bool sized = ok || GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  Out(call + ", size 0)", "ret=" + Bool(ok) + " type=" + Hex32(type) + " required=" + Dec(needed) + " " + Err());
  if (!sized || needed > 4096) return;

  std::vector<BYTE> buffer(needed + 2, 0xA5);
  if (needed > 0) {
    type = kSentinel;
    DWORD required = kSentinel;
    Preset();
    ok = api.getProperty(set, data, property, &type, buffer.data(), needed - 1, &required);
    Out(call + ", short by one)",
        "ret=" + Bool(ok) + " type=" + Hex32(type) + " required=" + Dec(required) + " " + Err());
  }
  type = kSentinel;
  DWORD required = kSentinel;
  Preset();
  ok = api.getProperty(set, data, property, &type, buffer.data(), needed, &required);
  Out(call + ", exact)", "ret=" + Bool(ok) + " type=" + Hex32(type) + " required=" + Dec(required) +
                             " data=" + Bytes(buffer.data(), needed) + " after=" + Bytes(buffer.data() + needed, 2) +
                             " " + Err());
}

void ProbeSetupApi(const SetupApi& api) {
  if (api.getClassDevs == nullptr || api.enumDeviceInfo == nullptr || api.getInstanceId == nullptr ||
      api.getProperty == nullptr || api.destroyList == nullptr) {
    return;
  }
  Preset();
  HDEVINFO refused = api.getClassDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT);
  Out("SetupDiGetClassDevsW(no class, not all classes)",
      std::string("ret=") + (refused == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : Pointer(refused)) + " " + Err());

  Preset();
  HDEVINFO set = api.getClassDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  Out("SetupDiGetClassDevsW(all classes, present)",
      std::string("ret=") + (set == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : Pointer(set)) + " " + Err());
  if (set == INVALID_HANDLE_VALUE || set == nullptr) return;

  const std::vector<Member> members = ProbeEnumeration(api, set);
  for (const Member& member : members) {
    SP_DEVINFO_DATA data = DeviceData();
    if (!api.enumDeviceInfo(set, member.index, &data)) continue;
    const std::string label = "[" + member.id + "]";
    ProbeInstanceId(api, set, &data, label);
    ProbeProperty(api, set, &data, label, SPDRP_HARDWAREID, "HARDWAREID");
    ProbeProperty(api, set, &data, label, SPDRP_SERVICE, "SERVICE");
  }
  // A property code beyond every known one, on the first member.
  SP_DEVINFO_DATA first = DeviceData();
  if (!members.empty() && api.enumDeviceInfo(set, members.front().index, &first)) {
    ProbeProperty(api, set, &first, "[" + members.front().id + "]", 0xFFFFFFFFu, "0xFFFFFFFF");
  }

  Preset();
  const BOOL destroyed = api.destroyList(set);
  Out("SetupDiDestroyDeviceInfoList", "ret=" + Bool(destroyed) + " " + Err());
}

// ---------------------------------------------------------------------------
// Registry

HKEY ProbeOpen(const WCHAR* path, const std::string& label) {
  HKEY key = nullptr;
  Preset();
  const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
  Out("RegOpenKeyExW(" + label + ")", "ret=" + Status(status) + " key=" + Pointer(key) + " " + Err());
  return status == ERROR_SUCCESS ? key : nullptr;
}

void ProbeClose(HKEY key, const std::string& label) {
  Preset();
  const LSTATUS status = RegCloseKey(key);
  Out("RegCloseKey(" + label + ")", "ret=" + Status(status) + " " + Err());
}

// The size query, one byte short, and the exact fit, for one value.
void ProbeQuery(HKEY key, const WCHAR* name) {
  const std::string label = "RegQueryValueExW(" + Narrow(name);
  DWORD type = kSentinel;
  DWORD size = kSentinel;
  Preset();
  LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  Out(label + ", null data)", "ret=" + Status(status) + " type=" + Hex32(type) + " size=" + Dec(size) + " " + Err());
  if (status != ERROR_SUCCESS || size > 4096) return;

  const DWORD needed = size;
  std::vector<BYTE> buffer(needed + 2, 0xA5);
  if (needed > 0) {
    type = kSentinel;
    size = needed - 1;
    Preset();
    status = RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &size);
    Out(label + ", short by one)", "ret=" + Status(status) + " type=" + Hex32(type) + " size=" + Dec(size) + " " + Err());
  }
  type = kSentinel;
  size = needed;
  Preset();
  status = RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &size);
  Out(label + ", exact)", "ret=" + Status(status) + " type=" + Hex32(type) + " size=" + Dec(size) +
                              " data=" + Bytes(buffer.data(), needed) + " " + Err());
}

void ProbeMissingValue(HKEY key) {
  DWORD type = kSentinel;
  DWORD size = 77;
  BYTE buffer[77];
  Preset();
  const LSTATUS status = RegQueryValueExW(key, WSTR("Missing"), nullptr, &type, buffer, &size);
  Out("RegQueryValueExW(Missing)", "ret=" + Status(status) + " type=" + Hex32(type) + " size=" + Dec(size) + " " + Err());
}

void ProbeEnum(HKEY key, DWORD index, DWORD nameChars, DWORD dataBytes) {
  std::vector<WCHAR> name(nameChars + 1, static_cast<WCHAR>('#'));
  std::vector<BYTE> data(dataBytes + 1, 0xA5);
  DWORD chars = nameChars;
  DWORD type = kSentinel;
  DWORD bytes = dataBytes;
  Preset();
  const LSTATUS status = RegEnumValueW(key, index, name.data(), &chars, nullptr, &type, data.data(), &bytes);
  std::string fields = "ret=" + Status(status) + " chars=" + Dec(chars) + " type=" + Hex32(type) + " bytes=" + Dec(bytes);
  if (status == ERROR_SUCCESS) fields += " name=" + Text(name.data(), chars) + " data=" + Bytes(data.data(), bytes);
  Out("RegEnumValueW(index " + Dec(index) + ", name " + Dec(nameChars) + ", data " + Dec(dataBytes) + ")",
      fields + " " + Err());
}

// The size query: no data buffer, the value's size reported.
void ProbeEnumSize(HKEY key, DWORD index) {
  WCHAR name[256];
  DWORD chars = 256;
  DWORD type = kSentinel;
  DWORD bytes = kSentinel;
  Preset();
  const LSTATUS status = RegEnumValueW(key, index, name, &chars, nullptr, &type, nullptr, &bytes);
  Out("RegEnumValueW(index " + Dec(index) + ", name 256, null data)",
      "ret=" + Status(status) + " chars=" + Dec(chars) + " type=" + Hex32(type) + " bytes=" + Dec(bytes) + " " + Err());
}

void ProbeRegistry() {
  HKEY missing = ProbeOpen(WSTR("SOFTWARE\\ConformanceProbe\\NoSuchKey"), "missing key");
  if (missing != nullptr) ProbeClose(missing, "missing key");

  HKEY key = ProbeOpen(kProbeKey, "probe key");
  if (key != nullptr) {
    static const WCHAR* const names[] = {WSTR("Binary10"), WSTR("Text"), WSTR("Empty"), WSTR("Dword"),
                                         WSTR("Multi"), WSTR("Unterminated"), WSTR("OddBytes")};
    for (const WCHAR* name : names) ProbeQuery(key, name);
    ProbeQuery(key, WSTR("bINARY10"));
    ProbeQuery(key, WSTR("Missing"));
    ProbeMissingValue(key);
    ProbeClose(key, "probe key");
    ProbeClose(key, "probe key, again");
  }

  HKEY device = ProbeOpen(WSTR("SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\DISK&VEN_C0DE&PROD_PROBE&REV_1.00\\C0DE0001&0"),
                          "device key");
  if (device != nullptr) {
    ProbeQuery(device, WSTR("ParentIdPrefix"));
    ProbeClose(device, "device key");
  }

  // Values sorted by name and created in that order, so that both orders agree.
  HKEY values = ProbeOpen(kEnumerationKey, "enumeration key");
  if (values != nullptr) {
    ProbeEnum(values, 0, 256, 1024);  // a 255-character name with 1024 bytes fits
    ProbeEnum(values, 0, 255, 16);    // the name does not fit its terminator
    ProbeEnum(values, 1, 256, 1024);  // 1025 bytes do not fit
    ProbeEnum(values, 1, 256, 1025);  // the same index again, with room
    ProbeEnumSize(values, 1);
    ProbeEnum(values, 2, 256, 16);
    ProbeEnum(values, 3, 256, 16);    // past the end
    ProbeClose(values, "enumeration key");
  }
  HKEY folded = ProbeOpen(WSTR("software\\conformanceprobe\\ENUMERATION"), "enumeration key, other case");
  if (folded != nullptr) {
    ProbeEnumSize(folded, 2);
    ProbeClose(folded, "enumeration key, other case");
  }
}

// ---------------------------------------------------------------------------
// Version, drives, error mode

// OSVERSIONINFOEXW, spelled out so that it is the same on both platforms.
struct VersionInfoEx {
  OSVERSIONINFOW base;
  WORD servicePackMajor;
  WORD servicePackMinor;
  WORD suiteMask;
  BYTE productType;
  BYTE reserved;
};

void ProbeVersion(DWORD size) {
  VersionInfoEx info;
  std::memset(&info, 0, sizeof info);
  info.base.dwOSVersionInfoSize = size;
  Preset();
  const BOOL ok = GetVersionExW(&info.base);
  std::string fields = "ret=" + Bool(ok);
  if (ok) {
    fields += " version=" + Dec(info.base.dwMajorVersion) + "." + Dec(info.base.dwMinorVersion) + "." +
              Dec(info.base.dwBuildNumber) + " platform=" + Dec(info.base.dwPlatformId) +
              " csd=" + Terminated(info.base.szCSDVersion);
  }
  if (ok && size == sizeof(VersionInfoEx)) {
    fields += " servicePack=" + Dec(info.servicePackMajor) + "." + Dec(info.servicePackMinor) +
              " suite=" + Hex32(info.suiteMask) + " productType=" + Dec(info.productType);
  }
  Out("GetVersionExW(size " + Dec(size) + ")", fields + " " + Err());
}

void ProbeSystem() {
  ProbeVersion(sizeof(OSVERSIONINFOW));
  ProbeVersion(sizeof(VersionInfoEx));
  ProbeVersion(sizeof(OSVERSIONINFOW) - 1);

  Preset();
  const DWORD drives = GetLogicalDrives();
  Out("GetLogicalDrives", "ret=" + Hex32(drives) + " " + Err());

  Preset();
  const UINT first = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  Out("SetErrorMode(0x8001)", "ret=" + Hex32(first) + " " + Err());
  Preset();
  const UINT second = SetErrorMode(first);
  Out("SetErrorMode(back)", "ret=" + Hex32(second) + " " + Err());
}

// ---------------------------------------------------------------------------
// Files on a volume reached by its GUID path

std::u16string Path(const WCHAR* volume, const char* inside) {
  std::u16string path;
  for (; *volume != 0; ++volume) path += static_cast<char16_t>(*volume);
  for (; *inside != 0; ++inside) path += static_cast<char16_t>(*inside);
  return path;
}

void ProbeAttributes(const WCHAR* volume, const char* volumeLabel, const char* inside) {
  const std::u16string path = Path(volume, inside);
  Preset();
  const DWORD attributes = GetFileAttributesW(Wide(path));
  Out(std::string("GetFileAttributesW(") + volumeLabel + "\\" + inside + ")", "ret=" + Hex32(attributes) + " " + Err());
}

HANDLE ProbeCreate(const char* inside) {
  const std::u16string path = Path(kMainVolume, inside);
  Preset();
  HANDLE file = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  Out(std::string("CreateFileW(main\\") + inside + ")",
      std::string("ret=") + (file == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : Pointer(file)) + " " + Err());
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

void ProbeSize(HANDLE file, const char* inside) {
  DWORD high = kSentinel;
  Preset();
  const DWORD low = GetFileSize(file, &high);
  Out(std::string("GetFileSize(main\\") + inside + ")", "ret=" + Hex32(low) + " high=" + Hex32(high) + " " + Err());
}

void ProbeCloseHandle(HANDLE file, const std::string& label) {
  Preset();
  const BOOL ok = CloseHandle(file);
  Out("CloseHandle(" + label + ")", "ret=" + Bool(ok) + " " + Err());
}

void ProbeRead(HANDLE file, const std::string& label, DWORD count) {
  std::vector<BYTE> buffer(count + 1, 0xA5);
  DWORD read = kSentinel;
  Preset();
  const BOOL ok = ReadFile(file, buffer.data(), count, &read, nullptr);
  Out("ReadFile(" + label + ", " + Dec(count) + ")",
      "ret=" + Bool(ok) + " read=" + Dec(read) + " data=" + Bytes(buffer.data(), read <= count ? read : 0) + " " +
          Err());
}

void ProbeFiles() {
  static const char* const paths[] = {"",           "device.xml",  "DEVICE.XML",        "Folder",
                                      "Folder\\",   "sub",         "sub\\inner.txt",    "missing.xml",
                                      "missing\\x", "device.xml\\", "device.xml\\inner", "sub\\\\inner.txt",
                                      "\\device.xml"};
  for (const char* inside : paths) ProbeAttributes(kMainVolume, "main", inside);
  const std::u16string unseparated = Path(kMainVolume, "").substr(0, Path(kMainVolume, "").size() - 1);
  Preset();
  const DWORD attributes = GetFileAttributesW(Wide(unseparated));
  Out("GetFileAttributesW(main without its separator)", "ret=" + Hex32(attributes) + " " + Err());
  ProbeAttributes(kNoMediumVolume, "no medium", "");
  ProbeAttributes(kNoMediumVolume, "no medium", "device.xml");
  ProbeAttributes(kUnknownVolume, "unknown volume", "device.xml");

  if (HANDLE file = ProbeCreate("device.xml")) {
    ProbeSize(file, "device.xml");
    ProbeRead(file, "device.xml", 100);
    ProbeRead(file, "device.xml at its end", 100);
    ProbeCloseHandle(file, "device.xml");
    ProbeCloseHandle(file, "device.xml, again");
  }
  if (HANDLE file = ProbeCreate("empty.txt")) {
    ProbeSize(file, "empty.txt");
    ProbeRead(file, "empty.txt", 16);
    ProbeCloseHandle(file, "empty.txt");
  }
  for (const char* inside : {"four-gib.bin", "almost-four-gib.bin"}) {
    if (HANDLE file = ProbeCreate(inside)) {
      ProbeSize(file, inside);
      ProbeCloseHandle(file, inside);
    }
  }
  ProbeCreate("Folder");
  ProbeCreate("");  // the root, named with its separator as every root is
  ProbeCreate("Folder\\");
  ProbeCreate("*.*");
  ProbeAttributes(kMainVolume, "main", "Folder\\..\\device.xml");
  ProbeCreate("missing.xml");
  ProbeCreate("missing\\x");
}

// ---------------------------------------------------------------------------
// Memory

void ProbeGlobal(SIZE_T size, const std::string& label) {
  Preset();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  Out("GlobalAlloc(" + label + ")", "ret=" + Pointer(block) + " " + Err());
  if (block == nullptr) return;

  Preset();
  BYTE* memory = static_cast<BYTE*>(GlobalLock(block));
  std::string fields = "ret=" + Pointer(memory);
  if (memory != nullptr && size != 0) fields += " first=" + Bytes(memory, size < 8 ? size : 8);
  Out("GlobalLock(" + label + ")", fields + " " + Err());
  if (memory != nullptr) {
    Preset();
    const BOOL locked = GlobalUnlock(block);
    Out("GlobalUnlock(" + label + ")", "ret=" + Bool(locked) + " " + Err());
    Preset();
    const BOOL again = GlobalUnlock(block);
    Out("GlobalUnlock(" + label + ", again)", "ret=" + Bool(again) + " " + Err());
  }
  Preset();
  const HGLOBAL freed = GlobalFree(block);
  Out("GlobalFree(" + label + ")", "ret=" + Pointer(freed) + " " + Err());
}

void ProbeHeap(SIZE_T size, const std::string& label) {
  Preset();
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  Out("HeapAlloc(" + label + ")", "ret=" + Pointer(block) + " " + Err());
  if (block == nullptr) return;
  Preset();
  const BOOL freed = HeapFree(GetProcessHeap(), 0, block);
  Out("HeapFree(" + label + ")", "ret=" + Bool(freed) + " " + Err());
}

// Whether a block of this size can be had; it is freed again unprinted.
void ProbeLargeGlobal(SIZE_T size, const std::string& label) {
  Preset();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  Out("GlobalAlloc(" + label + ")", "ret=" + Pointer(block) + " " + Err());
  if (block != nullptr) GlobalFree(block);
}

void ProbeLargeHeap(SIZE_T size, const std::string& label) {
  Preset();
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  Out("HeapAlloc(" + label + ")", "ret=" + Pointer(block) + " " + Err());
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

void ProbeMemory() {
  ProbeGlobal(16, "16");
  ProbeGlobal(0, "0");
  ProbeLargeGlobal(0x20000000u, "0x20000000");
  ProbeLargeGlobal(0x30000000u, "0x30000000");
  ProbeLargeGlobal(static_cast<SIZE_T>(0x80000000u), "0x80000000");
  Preset();
  const HGLOBAL none = GlobalFree(nullptr);
  Out("GlobalFree(null)", "ret=" + Pointer(none) + " " + Err());

  ProbeHeap(16, "16");
  ProbeHeap(0, "0");
  ProbeLargeHeap(0x20000000u, "0x20000000");
  ProbeLargeHeap(0x70000000u, "0x70000000");
  Preset();
  const BOOL nothingFreed = HeapFree(nullptr, 0, nullptr);
  Out("HeapFree(null heap, null block)", "ret=" + Bool(nothingFreed) + " " + Err());

  // A block already freed: its handle names nothing.
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 16);
  if (freed != nullptr && GlobalFree(freed) == nullptr) {
    Preset();
    const void* memory = GlobalLock(freed);
    Out("GlobalLock(freed)", "ret=" + Pointer(memory) + " " + Err());
    Preset();
    const BOOL unlocked = GlobalUnlock(freed);
    Out("GlobalUnlock(freed)", "ret=" + Bool(unlocked) + " " + Err());
    Preset();
    const HGLOBAL again = GlobalFree(freed);
    Out("GlobalFree(freed)", "ret=" + std::string(again == freed ? "same" : Pointer(again)) + " " + Err());
  }
}

// ---------------------------------------------------------------------------
// Text

void ProbeConvert(UINT codePage, DWORD flags, const char* bytes, int count, int room, const std::string& label) {
  WCHAR buffer[16];
  for (WCHAR& c : buffer) c = static_cast<WCHAR>('#');
  Preset();
  const int chars = MultiByteToWideChar(codePage, flags, bytes, count, room == 0 ? nullptr : buffer, room);
  Out("MultiByteToWideChar(" + label + ")",
      "ret=" + std::to_string(chars) + " out=" + Text(buffer, room > 0 ? static_cast<std::size_t>(room) : 0) + " " +
          Err());
}

void ProbeText() {
  // The capture records the code page the machine converts descriptors with.
  Preset();
  const UINT codePage = GetACP();
  Out("GetACP", "ret=" + Dec(codePage) + " " + Err());
  // One byte of each kind: ASCII, the euro sign, the five unassigned bytes
  // of the 0x80 block, typographic quotes, Latin-1 letters.
  static const char high[] = "A\x80\x81\x8D\x8F\x90\x9D\x93\x9F\xE9\xFF";
  const int length = static_cast<int>(sizeof high - 1);
  ProbeConvert(1252, MB_PRECOMPOSED, high, length, 0, "1252, size query");
  ProbeConvert(1252, MB_PRECOMPOSED, high, length, 16, "1252, room");
  ProbeConvert(CP_ACP, MB_PRECOMPOSED, high, length, 16, "ACP, room");
  ProbeConvert(1252, MB_PRECOMPOSED, high, length, length - 1, "1252, short by one");
  ProbeConvert(1252, MB_PRECOMPOSED, high, -1, 16, "1252, terminated");
  ProbeConvert(1252, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, high, length, 16, "1252, invalid chars flag");
  ProbeConvert(1252, 0x100, high, length, 16, "1252, unknown flag");
  ProbeConvert(1252, 0x100, nullptr, -1, 16, "1252, unknown flag, no text");
  ProbeConvert(1252, MB_PRECOMPOSED, high, 0, 16, "1252, no bytes");
}

}  // namespace

int wmain(int, WCHAR**, WCHAR**) {
  const SetupApi api = ProbeLibraries();
  ProbeSetupApi(api);
  ProbeRegistry();
  ProbeSystem();
  ProbeFiles();
  ProbeMemory();
  ProbeText();
  if (api.module != nullptr) {
    Preset();
    const BOOL freed = FreeLibrary(api.module);
    Out("FreeLibrary(system path)", "ret=" + Bool(freed) + " " + Err());
  }
  return 0;
}
