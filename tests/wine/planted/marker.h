/* The DllMain of each planted library: it leaves "<the library's own
   path>.loaded" behind, so that a test can see the library was loaded. */
#include <windows.h>

static void LeaveMarker(HINSTANCE library) {
  WCHAR path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(library, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcpyW(path + length, L".loaded");
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE library, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(library);
  return TRUE;
}
