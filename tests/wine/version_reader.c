/* Prints an exe's version resource as Windows' own version API reads it, in
 * the "name<TAB>value" lines of scripts/version-info: the fixed versions,
 * then each common string of the first translation the resource lists. */
#include <stdio.h>
#include <windows.h>

static const wchar_t *const names[] = {
  L"Comments", L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
  L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename", L"PrivateBuild",
  L"ProductName", L"ProductVersion", L"SpecialBuild",
};

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) return 2;
  DWORD ignored;
  DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  static BYTE data[65536];
  if (size == 0 || size > sizeof data || !GetFileVersionInfoW(argv[1], 0, size, data)) return 1;

  VS_FIXEDFILEINFO *fixed;
  UINT length;
  if (!VerQueryValueW(data, L"\\", (void **)&fixed, &length) || length < sizeof *fixed) return 1;
  wprintf(L"FILEVERSION\t%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
          HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  wprintf(L"PRODUCTVERSION\t%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
          LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
          LOWORD(fixed->dwProductVersionLS));

  WORD *translation;
  if (!VerQueryValueW(data, L"\\VarFileInfo\\Translation", (void **)&translation, &length) || length < 4)
    return 1;
  for (size_t i = 0; i < sizeof names / sizeof names[0]; i++) {
    wchar_t query[128];
    wchar_t *value;
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], names[i]);
    if (VerQueryValueW(data, query, (void **)&value, &length)) wprintf(L"%ls\t%ls\n", names[i], value);
  }
  return 0;
}
