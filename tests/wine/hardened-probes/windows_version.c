/* Prints what GetVersionExW says, as major.minor.build. */
#include <windows.h>
#include <stdio.h>

int wmain(void) {
  OSVERSIONINFOW version;
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version)) return 1;
  printf("%lu.%lu.%lu\n", version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
  return 0;
}
