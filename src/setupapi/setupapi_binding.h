// The process-wide binding to the Setup API, loaded at start-up from the
// system directory so that the command runs, finding nothing, where the
// library is missing.
#pragma once

#include "platform/win32.h"

class SetupApiBinding {
 public:
  typedef CONFIGRET(WINAPI* CmRequestDeviceEjectW)(DEVINST, PPNP_VETO_TYPE, LPWSTR, ULONG, ULONG);
  typedef BOOL(WINAPI* EnumDeviceInfoFn)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
  typedef BOOL(WINAPI* DeleteDevRegKeyFn)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD);
  typedef BOOL(WINAPI* DestroyDeviceInfoListFn)(HDEVINFO);
  typedef HDEVINFO(WINAPI* GetClassDevsWFn)(const GUID*, LPCWSTR, HWND, DWORD);
  typedef BOOL(WINAPI* GetDeviceRegistryPropertyWFn)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE,
                                                     DWORD, PDWORD);
  typedef BOOL(WINAPI* GetDeviceInstanceIdWFn)(HDEVINFO, PSP_DEVINFO_DATA, LPWSTR, DWORD, PDWORD);
  typedef BOOL(WINAPI* RemoveDeviceFn)(HDEVINFO, PSP_DEVINFO_DATA);

  SetupApiBinding();
  ~SetupApiBinding();
  SetupApiBinding(const SetupApiBinding&) = delete;
  SetupApiBinding& operator=(const SetupApiBinding&) = delete;

  // Each returns the entry point's result, or 0 when it is missing.
  HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent,
                                DWORD Flags) const;
  BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                             PSP_DEVINFO_DATA DeviceInfoData) const;
  BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                         DWORD Property, PDWORD PropertyRegDataType,
                                         PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                         PDWORD RequiredSize) const;
  BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                   LPWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                   PDWORD RequiredSize) const;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) const;

 private:
  HMODULE module;
  CmRequestDeviceEjectW requestDeviceEjectW;
  EnumDeviceInfoFn enumDeviceInfo;
  DeleteDevRegKeyFn deleteDevRegKey;
  DestroyDeviceInfoListFn destroyDeviceInfoList;
  GetClassDevsWFn getClassDevsW;
  GetDeviceRegistryPropertyWFn getDeviceRegistryPropertyW;
  GetDeviceInstanceIdWFn getDeviceInstanceIdW;
  RemoveDeviceFn removeDevice;
};

// The one instance, constructed during static initialisation.
extern const SetupApiBinding setupApi;
