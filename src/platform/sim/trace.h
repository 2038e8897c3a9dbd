// The readable trace of a run on the simulated machine. The modules define
// the platform functions under Sim names; trace.cpp gives each its Windows
// name and, when DEVDRIVES_TRACE is set (to anything but "0"), reports every
// call on standard error, one line each: the meaningful arguments, the
// result, the data returned and, where the call failed, the last-error code.
// Standard output is never touched. Setup API entry points are traced
// through the addresses GetProcAddress hands out.
#pragma once

#include "platform/win32.h"

UINT WINAPI SimGetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);
HMODULE WINAPI SimLoadLibraryW(LPCWSTR lpLibFileName);
HMODULE WINAPI SimLoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
FARPROC WINAPI SimGetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL WINAPI SimFreeLibrary(HMODULE hLibModule);
LPVOID WINAPI SimHeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
BOOL WINAPI SimHeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
BOOL WINAPI SimGetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
UINT WINAPI SimSetErrorMode(UINT uMode);

LSTATUS WINAPI SimRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                PHKEY phkResult);
LSTATUS WINAPI SimRegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                   LPBYTE lpData, LPDWORD lpcbData);
LSTATUS WINAPI SimRegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                                LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS WINAPI SimRegCloseKey(HKEY hKey);

DWORD WINAPI SimGetLogicalDrives();
DWORD WINAPI SimGetFileAttributesW(LPCWSTR lpFileName);
HANDLE WINAPI SimCreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                             LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                             DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD WINAPI SimGetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL WINAPI SimReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                        LPOVERLAPPED lpOverlapped);
BOOL WINAPI SimCloseHandle(HANDLE hObject);
HGLOBAL WINAPI SimGlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID WINAPI SimGlobalLock(HGLOBAL hMem);
BOOL WINAPI SimGlobalUnlock(HGLOBAL hMem);
HGLOBAL WINAPI SimGlobalFree(HGLOBAL hMem);
int WINAPI SimMultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                  LPWSTR lpWideCharStr, int cchWideChar);

// wprintf takes its text through "...", which no wrapper can pass on, so it
// reports itself: the format and the one string it prints.
void SimTraceWprintf(const WCHAR* format, const WCHAR* text);
