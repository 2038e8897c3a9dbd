/* A version.dll planted beside the exe, exporting what Wine's Setup API
   imports from it: loading it leaves a marker, and every call fails. */
#include "marker.h"

#define EXPORT __declspec(dllexport)

EXPORT DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
  (void)file, (void)handle;
  SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return 0;
}

EXPORT BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data) {
  (void)file, (void)handle, (void)size, (void)data;
  SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return FALSE;
}

EXPORT BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID *value, PUINT length) {
  (void)block, (void)subBlock, (void)value, (void)length;
  return FALSE;
}
