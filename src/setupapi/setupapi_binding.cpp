#include "setupapi/setupapi_binding.h"

#include "platform/text.h"

namespace {

// Looks up one entry point; null when the library is not loaded or lacks it.
template <typename Function>
void Resolve(HMODULE module, const char* name, Function& field) {
  field = nullptr;
  if (module == nullptr) return;
  // Through the generic function type, which converts to any other quietly.
  field = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The system's own Setup API, never a copy planted beside the exe or in the
// current directory: by its full path in the system directory, with its own
// imports resolved from there too. Null when it cannot be loaded.
HMODULE LoadSystemSetupApi() {
  static const WCHAR kFileName[] = WSTR("SetupApi.dll");
  const UINT kFileNameSize = sizeof kFileName / sizeof kFileName[0];  // terminator included
  WCHAR path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  // 0 is a failure; a result the buffer cannot hold is the size it would need.
  if (length == 0 || length >= MAX_PATH) return nullptr;
  // Only a root directory ends with a backslash already.
  if (path[length - 1] != WSTR('\\')) path[length++] = WSTR('\\');
  if (length + kFileNameSize > MAX_PATH) return nullptr;
  TextCopy(path + length, MAX_PATH - length, kFileName);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

const SetupApiBinding setupApi;

SetupApiBinding::SetupApiBinding() : module(LoadSystemSetupApi()) {
  Resolve(module, "SetupDiDeleteDevRegKey", deleteDevRegKey);
  Resolve(module, "SetupDiDestroyDeviceInfoList", destroyDeviceInfoList);
  Resolve(module, "SetupDiEnumDeviceInfo", enumDeviceInfo);
  Resolve(module, "SetupDiRemoveDevice", removeDevice);
  Resolve(module, "SetupDiGetClassDevsW", getClassDevsW);
  Resolve(module, "SetupDiGetDeviceInstanceIdW", getDeviceInstanceIdW);
  Resolve(module, "SetupDiGetDeviceRegistryPropertyW", getDeviceRegistryPropertyW);
  Resolve(module, "CM_Request_Device_EjectW", requestDeviceEjectW);
}

SetupApiBinding::~SetupApiBinding() {
  if (module != nullptr) FreeLibrary(module);
}

HDEVINFO SetupApiBinding::SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator,
                                               HWND hwndParent, DWORD Flags) const {
  if (getClassDevsW == nullptr) return nullptr;
  return getClassDevsW(ClassGuid, Enumerator, hwndParent, Flags);
}

BOOL SetupApiBinding::SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                            PSP_DEVINFO_DATA DeviceInfoData) const {
  if (enumDeviceInfo == nullptr) return FALSE;
  return enumDeviceInfo(DeviceInfoSet, MemberIndex, DeviceInfoData);
}

BOOL SetupApiBinding::SetupDiGetDeviceRegistryPropertyW(
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
    PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
    PDWORD RequiredSize) const {
  if (getDeviceRegistryPropertyW == nullptr) return FALSE;
  return getDeviceRegistryPropertyW(DeviceInfoSet, DeviceInfoData, Property, PropertyRegDataType,
                                    PropertyBuffer, PropertyBufferSize, RequiredSize);
}

BOOL SetupApiBinding::SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet,
                                                  PSP_DEVINFO_DATA DeviceInfoData,
                                                  LPWSTR DeviceInstanceId,
                                                  DWORD DeviceInstanceIdSize,
                                                  PDWORD RequiredSize) const {
  if (getDeviceInstanceIdW == nullptr) return FALSE;
  return getDeviceInstanceIdW(DeviceInfoSet, DeviceInfoData, DeviceInstanceId,
                              DeviceInstanceIdSize, RequiredSize);
}

BOOL SetupApiBinding::SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) const {
  if (destroyDeviceInfoList == nullptr) return FALSE;
  return destroyDeviceInfoList(DeviceInfoSet);
}
