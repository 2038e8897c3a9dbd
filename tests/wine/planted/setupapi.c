/* A SetupApi.dll planted beside the exe: loading it leaves a marker, and
   every entry point the exe looks up fails. */
#include "marker.h"

#define EXPORT __declspec(dllexport)

EXPORT HANDLE WINAPI SetupDiGetClassDevsW(const GUID *classGuid, LPCWSTR enumerator, HWND parent, DWORD flags) {
  (void)classGuid, (void)enumerator, (void)parent, (void)flags;
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

EXPORT BOOL WINAPI SetupDiEnumDeviceInfo(HANDLE set, DWORD index, void *data) {
  (void)set, (void)index, (void)data;
  SetLastError(ERROR_NO_MORE_ITEMS);
  return FALSE;
}

EXPORT BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HANDLE set, void *data, DWORD property, DWORD *type,
                                                     BYTE *buffer, DWORD size, DWORD *required) {
  (void)set, (void)data, (void)property, (void)type, (void)buffer, (void)size, (void)required;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

EXPORT BOOL WINAPI SetupDiGetDeviceInstanceIdW(HANDLE set, void *data, WCHAR *id, DWORD size, DWORD *required) {
  (void)set, (void)data, (void)id, (void)size, (void)required;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

EXPORT BOOL WINAPI SetupDiDestroyDeviceInfoList(HANDLE set) {
  (void)set;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

EXPORT BOOL WINAPI SetupDiDeleteDevRegKey(HANDLE set, void *data, DWORD scope, DWORD profile, DWORD keyType) {
  (void)set, (void)data, (void)scope, (void)profile, (void)keyType;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

EXPORT BOOL WINAPI SetupDiRemoveDevice(HANDLE set, void *data) {
  (void)set, (void)data;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

EXPORT DWORD WINAPI CM_Request_Device_EjectW(DWORD device, int *veto, WCHAR *name, ULONG size, ULONG flags) {
  (void)device, (void)veto, (void)name, (void)size, (void)flags;
  return 0x13; /* CR_FAILURE */
}
