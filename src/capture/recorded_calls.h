// In the capture's build of the scan, the platform calls the scan makes go
// through the recording layer, which forwards each to the platform and
// notes what it returned. The Setup API is reached through the entry points
// that GetProcAddress hands out, so that lookup is recorded too.
#pragma once

FARPROC WINAPI RecordedGetProcAddress(HMODULE hModule, LPCSTR lpProcName);
LSTATUS WINAPI RecordedRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                     PHKEY phkResult);
LSTATUS WINAPI RecordedRegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData);
BOOL WINAPI RecordedGetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
DWORD WINAPI RecordedGetLogicalDrives();
DWORD WINAPI RecordedGetFileAttributesW(LPCWSTR lpFileName);
HANDLE WINAPI RecordedCreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                  LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                  DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD WINAPI RecordedGetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL WINAPI RecordedReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                             LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WINAPI RecordedCloseHandle(HANDLE hObject);
int WINAPI RecordedMultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                       LPWSTR lpWideCharStr, int cchWideChar);

#define GetProcAddress RecordedGetProcAddress
#define RegOpenKeyExW RecordedRegOpenKeyExW
#define RegQueryValueExW RecordedRegQueryValueExW
#define GetVersionExW RecordedGetVersionExW
#define GetLogicalDrives RecordedGetLogicalDrives
#define GetFileAttributesW RecordedGetFileAttributesW
#define CreateFileW RecordedCreateFileW
#define GetFileSize RecordedGetFileSize
#define ReadFile RecordedReadFile
#define CloseHandle RecordedCloseHandle
#define MultiByteToWideChar RecordedMultiByteToWideChar
