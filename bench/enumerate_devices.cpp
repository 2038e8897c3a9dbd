// The Setup API work no scan can avoid, as an exe of its own: load
// the library from the system directory as devdrives does, list the present devices and read each
// one's hardware IDs and instance ID once. Prints the number of devices.
#include <stdio.h>
#include <windows.h>
#include <setupapi.h>

typedef HDEVINFO(WINAPI* GetClassDevsFn)(const GUID*, PCWSTR, HWND, DWORD);
typedef BOOL(WINAPI* EnumDeviceInfoFn)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* GetPropertyFn)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
typedef BOOL(WINAPI* GetInstanceIdFn)(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD);
typedef BOOL(WINAPI* DestroyFn)(HDEVINFO);

int wmain() {
  WCHAR path[MAX_PATH + 16];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  lstrcatW(path, L"\\SetupApi.dll");
  HMODULE library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) return 2;
  GetClassDevsFn getClassDevs = reinterpret_cast<GetClassDevsFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetupDiGetClassDevsW")));
  EnumDeviceInfoFn enumDeviceInfo = reinterpret_cast<EnumDeviceInfoFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetupDiEnumDeviceInfo")));
  GetPropertyFn getProperty = reinterpret_cast<GetPropertyFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetupDiGetDeviceRegistryPropertyW")));
  GetInstanceIdFn getInstanceId = reinterpret_cast<GetInstanceIdFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetupDiGetDeviceInstanceIdW")));
  DestroyFn destroy = reinterpret_cast<DestroyFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "SetupDiDestroyDeviceInfoList")));
  if (!getClassDevs || !enumDeviceInfo || !getProperty || !getInstanceId || !destroy) return 2;

  HDEVINFO set = getClassDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return 2;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  BYTE ids[4096];
  WCHAR id[256];
  DWORD required = 0;
  DWORD count = 0;
  for (; enumDeviceInfo(set, count, &device); ++count) {
    getProperty(set, &device, SPDRP_HARDWAREID, nullptr, ids, sizeof ids, &required);
    getInstanceId(set, &device, id, 256, &required);
  }
  destroy(set);
  FreeLibrary(library);
  wprintf(L"%lu", count);
  return 0;
}
