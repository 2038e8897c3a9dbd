/* Loads the Setup API by bare name, the weak way: the planting test runs it
   first to show that each planted library is picked up by such a load. */
#include <windows.h>

int wmain(void) { return LoadLibraryW(L"SetupApi.dll") != NULL ? 0 : 1; }
