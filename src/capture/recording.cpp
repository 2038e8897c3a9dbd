// Each wrapper forwards to the platform, notes what the scan was given and
// hands the same result back, with the thread's last-error code as the
// platform left it. Where the scan offered too small a buffer, the wrapper
// reads the whole item itself, so that a replay offers the same data.
#include "capture/recording.h"

#include <cstring>

#include "platform/text.h"
#include "setupapi/setupapi_binding.h"

namespace {

const WCHAR kEnumKeyPrefix[] = WSTR("SYSTEM\\CurrentControlSet\\Enum\\");
const DWORD kEnumKeyPrefixLength = 30;
const DWORD kNoDevice = 0xFFFFFFFFu;

struct OpenKey {
  HKEY key;
  DWORD device;  // kNoDevice for other keys
};

struct OpenDescriptor {
  HANDLE handle;
  std::size_t volume;
  std::size_t path;
  DWORD size;
  DWORD sizeHigh;
};

struct Recording {
  CapturedMachine machine;
  // Found while the binding resolved its entry points, before any scan.
  bool setupApiLoaded = false;
  std::vector<const char*> missingEntryPoints;
  SetupApiBinding::EnumDeviceInfoFn enumDeviceInfo = nullptr;
  SetupApiBinding::GetDeviceRegistryPropertyWFn getProperty = nullptr;
  SetupApiBinding::GetDeviceInstanceIdWFn getInstanceId = nullptr;
  DWORD device = kNoDevice;  // the device enumerated last
  std::vector<OpenKey> keys;
  std::vector<OpenDescriptor> files;
};

Recording& State() {
  static Recording state;
  return state;
}

// Keeps the last-error code of the forwarded call across the notes taken.
class LastErrorKept {
 public:
  LastErrorKept() : error_(GetLastError()) {}
  ~LastErrorKept() { SetLastError(error_); }
  LastErrorKept(const LastErrorKept&) = delete;
  LastErrorKept& operator=(const LastErrorKept&) = delete;
  DWORD error() const { return error_; }

 private:
  DWORD error_;
};

CapturedText TextOf(const WCHAR* text, DWORD length) { return CapturedText(text, text + length); }

CapturedBytes BytesOf(const void* data, DWORD size) {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  return CapturedBytes(bytes, bytes + size);
}

bool SameText(const CapturedText& text, const WCHAR* other) {
  const DWORD length = TextLength(other);
  return text.size() == length && TextPrefixEqualNoCase(text.data(), other, length);
}

CapturedDevice* CurrentDevice() {
  Recording& state = State();
  return state.device < state.machine.devices.size() ? &state.machine.devices[state.device] : nullptr;
}

// ---- Setup API

// The whole ID: one that only the scan's buffer is too small for is kept,
// so that a replay fails the scan's read the same way.
void ReadInstanceId(HDEVINFO set, PSP_DEVINFO_DATA data, CapturedDevice& device) {
  Recording& state = State();
  if (state.getInstanceId == nullptr) return;
  WCHAR id[256];
  DWORD required = 0;
  if (state.getInstanceId(set, data, id, 256, &required)) {
    device.instanceId = TextOf(id, TextLengthWithin(id, 256));
    return;
  }
  device.instanceIdError = GetLastError();
  if (device.instanceIdError != ERROR_INSUFFICIENT_BUFFER || required <= 256) return;
  std::vector<WCHAR> longer(required);
  if (state.getInstanceId(set, data, longer.data(), required, &required)) {
    device.instanceIdError = ERROR_SUCCESS;
    device.instanceId = TextOf(longer.data(), TextLengthWithin(longer.data(), required));
  } else {
    device.instanceIdError = GetLastError();
  }
}

BOOL WINAPI RecordEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
  Recording& state = State();
  const BOOL listed = state.enumDeviceInfo(set, index, data);
  LastErrorKept kept;
  state.device = listed ? index : kNoDevice;
  if (listed && index == state.machine.devices.size()) {
    state.machine.devices.push_back(CapturedDevice{});
    ReadInstanceId(set, data, state.machine.devices.back());
  }
  return listed;
}

// The whole property, however large, read with a buffer of its own size.
void ReadWholeProperty(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, CapturedProperty& noted) {
  Recording& state = State();
  DWORD type = 0;
  DWORD required = 0;
  noted.read = true;
  if (state.getProperty(set, data, property, &type, nullptr, 0, &required) || required == 0) {
    noted.error = ERROR_SUCCESS;
    noted.bytes.clear();
    return;
  }
  CapturedBytes bytes(required);
  if (state.getProperty(set, data, property, &type, bytes.data(), required, &required)) {
    noted.error = ERROR_SUCCESS;
    bytes.resize(required < bytes.size() ? required : bytes.size());
    noted.bytes = bytes;
  } else {
    noted.error = GetLastError();
  }
}

BOOL WINAPI RecordGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                             PDWORD type, PBYTE buffer, DWORD bufferSize, PDWORD required) {
  const BOOL read = State().getProperty(set, data, property, type, buffer, bufferSize, required);
  LastErrorKept kept;
  CapturedDevice* device = CurrentDevice();
  if (device == nullptr || (property != SPDRP_HARDWAREID && property != SPDRP_SERVICE)) return read;
  CapturedProperty& noted = property == SPDRP_HARDWAREID ? device->hardwareIds : device->service;
  if (read && required != nullptr && *required <= bufferSize) {
    noted.read = true;
    noted.error = ERROR_SUCCESS;
    noted.bytes = BytesOf(buffer, *required);
  } else if (read || kept.error() == ERROR_INSUFFICIENT_BUFFER) {
    ReadWholeProperty(set, data, property, noted);
  } else {
    noted.read = true;
    noted.error = kept.error();
    noted.bytes.clear();
  }
  return read;
}

template <typename Function>
FARPROC AsProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

template <typename Function>
void Keep(FARPROC proc, Function& field) {
  field = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

// ---- Registry

// Every value of the mount table, in the order the system enumerates them.
void ReadMountTable(HKEY key) {
  std::vector<CapturedValue>& table = State().machine.mountTable;
  table.clear();
  std::vector<WCHAR> name(16384);
  CapturedBytes data(2048);
  for (DWORD index = 0;;) {
    DWORD nameChars = static_cast<DWORD>(name.size());
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(data.size());
    const LSTATUS status = RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type, data.data(), &bytes);
    if (status == ERROR_MORE_DATA && bytes > data.size()) {
      data.resize(bytes);
      continue;
    }
    if (status == ERROR_SUCCESS) {
      table.push_back(CapturedValue{TextOf(name.data(), nameChars), type, BytesOf(data.data(), bytes)});
    } else if (status != ERROR_MORE_DATA) {
      return;
    }
    ++index;
  }
}

DWORD DeviceOfKey(const WCHAR* instanceId) {
  const std::vector<CapturedDevice>& devices = State().machine.devices;
  for (DWORD index = 0; index < devices.size(); ++index) {
    if (devices[index].instanceIdError == ERROR_SUCCESS && SameText(devices[index].instanceId, instanceId)) {
      return index;
    }
  }
  return kNoDevice;
}

DWORD DeviceOfOpenKey(HKEY key) {
  const std::vector<OpenKey>& keys = State().keys;
  for (std::size_t at = keys.size(); at > 0; --at) {  // a handle value may be reused
    if (keys[at - 1].key == key) return keys[at - 1].device;
  }
  return kNoDevice;
}

void ReadWholeValue(HKEY key, const WCHAR* name, CapturedDevice& device) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
  CapturedBytes data(size);
  if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return;
  data.resize(size < data.size() ? size : data.size());
  device.prefixFound = true;
  device.prefixType = type;
  device.prefix = data;
}

// ---- Volumes

// Splits "\\?\Volume{GUID}\inside"; false for any other path.
bool SplitVolumePath(const WCHAR* path, CapturedText& guid, CapturedText& inside) {
  const WCHAR prefix[] = WSTR("\\\\?\\Volume{");
  const DWORD prefixLength = 11;
  const DWORD length = TextLength(path);
  if (length < prefixLength || !TextPrefixEqualNoCase(path, prefix, prefixLength)) return false;
  DWORD close = prefixLength;
  while (close < length && path[close] != '}') ++close;
  if (close + 1 >= length || path[close + 1] != '\\') return false;
  guid = TextOf(path + prefixLength - 1, close + 2 - prefixLength);
  inside = TextOf(path + close + 2, length - close - 2);
  return true;
}

bool SameChars(const CapturedText& left, const CapturedText& right) {
  return left.size() == right.size() &&
         TextPrefixEqualNoCase(left.data(), right.data(), static_cast<DWORD>(left.size()));
}

// The volume and path records of a probed path, made on first sight; false
// for a path that is not on a volume.
bool PathRecord(const WCHAR* path, std::size_t& volumeAt, std::size_t& pathAt, bool& made) {
  CapturedText guid;
  CapturedText inside;
  if (path == nullptr || !SplitVolumePath(path, guid, inside)) return false;
  std::vector<CapturedVolume>& volumes = State().machine.volumes;
  for (volumeAt = 0; volumeAt < volumes.size() && !SameChars(volumes[volumeAt].guid, guid); ++volumeAt) {
  }
  if (volumeAt == volumes.size()) volumes.push_back(CapturedVolume{guid, {}});
  std::vector<CapturedPath>& paths = volumes[volumeAt].paths;
  for (pathAt = 0; pathAt < paths.size() && !SameChars(paths[pathAt].inside, inside); ++pathAt) {
  }
  made = pathAt == paths.size();
  if (made) {
    paths.push_back(CapturedPath{});
    paths.back().inside = inside;
  }
  return true;
}

CapturedPath& PathAt(std::size_t volume, std::size_t path) { return State().machine.volumes[volume].paths[path]; }

OpenDescriptor* OpenDescriptorOf(HANDLE handle) {
  for (OpenDescriptor& file : State().files) {
    if (file.handle == handle) return &file;
  }
  return nullptr;
}

}  // namespace

void StartRecording() {
  Recording& state = State();
  state.machine = CapturedMachine{};
  state.machine.setupApiLoaded = state.setupApiLoaded;
  state.machine.missingEntryPoints = state.missingEntryPoints;
  state.device = kNoDevice;
  state.keys.clear();
  state.files.clear();
}

const CapturedMachine& Recorded() { return State().machine; }

FARPROC WINAPI RecordedGetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  Recording& state = State();
  const FARPROC proc = GetProcAddress(hModule, lpProcName);
  LastErrorKept kept;
  state.setupApiLoaded = true;
  if (proc == nullptr) {
    state.missingEntryPoints.push_back(lpProcName);
    return proc;
  }
  if (std::strcmp(lpProcName, "SetupDiEnumDeviceInfo") == 0) {
    Keep(proc, state.enumDeviceInfo);
    return AsProc(&RecordEnumDeviceInfo);
  }
  if (std::strcmp(lpProcName, "SetupDiGetDeviceRegistryPropertyW") == 0) {
    Keep(proc, state.getProperty);
    return AsProc(&RecordGetDeviceRegistryPropertyW);
  }
  if (std::strcmp(lpProcName, "SetupDiGetDeviceInstanceIdW") == 0) Keep(proc, state.getInstanceId);
  return proc;
}

LSTATUS WINAPI RecordedRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                     PHKEY phkResult) {
  const LSTATUS status = RegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  LastErrorKept kept;
  if (hKey != HKEY_LOCAL_MACHINE || lpSubKey == nullptr) return status;
  Recording& state = State();
  if (TextEqualNoCase(lpSubKey, WSTR("SYSTEM\\MountedDevices"))) {
    state.machine.mountTableFound = status == ERROR_SUCCESS;
    if (status == ERROR_SUCCESS) ReadMountTable(*phkResult);
  } else if (TextPrefixEqualNoCase(lpSubKey, kEnumKeyPrefix, kEnumKeyPrefixLength) &&
             TextLength(lpSubKey) >= kEnumKeyPrefixLength) {
    const DWORD device = DeviceOfKey(lpSubKey + kEnumKeyPrefixLength);
    if (device == kNoDevice) return status;
    state.machine.devices[device].keyOpened = true;
    state.machine.devices[device].keyFound = status == ERROR_SUCCESS;
    if (status == ERROR_SUCCESS) state.keys.push_back(OpenKey{*phkResult, device});
  }
  return status;
}

LSTATUS WINAPI RecordedRegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) {
  const LSTATUS status = RegQueryValueExW(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
  LastErrorKept kept;
  const DWORD index = DeviceOfOpenKey(hKey);
  if (index == kNoDevice || lpValueName == nullptr || !TextEqualNoCase(lpValueName, WSTR("ParentIdPrefix"))) {
    return status;
  }
  CapturedDevice& device = State().machine.devices[index];
  device.prefixFound = false;
  device.prefix.clear();
  if (status == ERROR_SUCCESS && lpType != nullptr && lpData != nullptr && lpcbData != nullptr) {
    device.prefixFound = true;
    device.prefixType = *lpType;
    device.prefix = BytesOf(lpData, *lpcbData);
  } else if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    ReadWholeValue(hKey, lpValueName, device);
  }
  return status;
}

BOOL WINAPI RecordedGetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
  const BOOL read = GetVersionExW(lpVersionInformation);
  CapturedMachine& machine = State().machine;
  machine.versionAsked = true;
  machine.versionRead = read != FALSE;
  if (read) {
    const WCHAR* csd = lpVersionInformation->szCSDVersion;
    machine.version = CapturedVersion{lpVersionInformation->dwMajorVersion, lpVersionInformation->dwMinorVersion,
                                      lpVersionInformation->dwBuildNumber, lpVersionInformation->dwPlatformId,
                                      TextOf(csd, TextLengthWithin(csd, 127))};
  }
  return read;
}

DWORD WINAPI RecordedGetLogicalDrives() {
  const DWORD mask = GetLogicalDrives();
  State().machine.driveMask = mask;
  return mask;
}

DWORD WINAPI RecordedGetFileAttributesW(LPCWSTR lpFileName) {
  const DWORD attributes = GetFileAttributesW(lpFileName);
  LastErrorKept kept;
  std::size_t volume = 0;
  std::size_t path = 0;
  bool made = false;
  if (PathRecord(lpFileName, volume, path, made) && made) {
    CapturedPath& record = PathAt(volume, path);
    record.attributes = attributes;
    record.error = attributes == INVALID_FILE_ATTRIBUTES ? kept.error() : ERROR_SUCCESS;
  }
  return attributes;
}

HANDLE WINAPI RecordedCreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                  LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                  DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  const HANDLE handle = CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                    dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
  LastErrorKept kept;
  std::size_t volume = 0;
  std::size_t path = 0;
  bool made = false;
  if (handle != INVALID_HANDLE_VALUE && PathRecord(lpFileName, volume, path, made)) {
    PathAt(volume, path).opened = true;
    State().files.push_back(OpenDescriptor{handle, volume, path, 0, 0});
  }
  return handle;
}

DWORD WINAPI RecordedGetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  const DWORD size = GetFileSize(hFile, lpFileSizeHigh);
  if (OpenDescriptor* file = OpenDescriptorOf(hFile)) {
    file->size = size;
    file->sizeHigh = lpFileSizeHigh != nullptr ? *lpFileSizeHigh : 0;
    // An empty file is known whole without the read, which the reader skips.
    PathAt(file->volume, file->path).contentKept = size == 0 && file->sizeHigh == 0;
  }
  return size;
}

BOOL WINAPI RecordedReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                             LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  const BOOL read = ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
  OpenDescriptor* file = OpenDescriptorOf(hFile);
  if (file == nullptr) return read;
  CapturedPath& record = PathAt(file->volume, file->path);
  record.read = record.read || read != FALSE;
  // Kept only when the one read took the whole file, as the reader saw it.
  record.contentKept = read && lpNumberOfBytesRead != nullptr && file->sizeHigh == 0 &&
                       *lpNumberOfBytesRead == file->size && file->size <= kLargestKeptDescriptor;
  record.content.clear();
  if (record.contentKept) record.content = BytesOf(lpBuffer, *lpNumberOfBytesRead);
  return read;
}

BOOL WINAPI RecordedCloseHandle(HANDLE hObject) {
  std::vector<OpenDescriptor>& files = State().files;
  for (std::size_t at = 0; at < files.size(); ++at) {
    if (files[at].handle == hObject) {
      files.erase(files.begin() + static_cast<std::ptrdiff_t>(at));
      break;
    }
  }
  return CloseHandle(hObject);
}

int WINAPI RecordedMultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                       LPWSTR lpWideCharStr, int cchWideChar) {
  const int chars =
      MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar);
  std::vector<OpenDescriptor>& files = State().files;
  if (!files.empty()) {  // the reader converts the value of the file it has open
    PathAt(files.back().volume, files.back().path).valueChars = chars > 0 ? static_cast<DWORD>(chars) : 0;
  }
  return chars;
}
