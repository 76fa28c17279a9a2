// POSIX stand-in for the part of the Windows API the launcher uses. Only the
// names, types and effects the launcher relies on are provided.
#pragma once

#include <stdint.h>
#include <wchar.h>

typedef int BOOL;
typedef int* LPBOOL;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef unsigned char BYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef int (*FARPROC)(void);

#define TRUE 1
#define FALSE 0
#define WINAPI
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define MB_OK 0x00000000u
#define IDOK 1
#define CP_ACP 0u
#define CP_UTF8 65001u
#define WC_ERR_INVALID_CHARS 0x00000080u
#define WC_NO_BEST_FIT_CHARS 0x00000400u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
DWORD GetShortPathNameW(LPCWSTR lpszLongPath, LPWSTR lpszShortPath, DWORD cchBuffer);

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);
BOOL CloseHandle(HANDLE hObject);
DWORD GetCurrentProcessId(void);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL GetExitCodeProcess(HANDLE hProcess, DWORD* lpExitCode);

// DLLs: a POSIX loader never looks in the program's folder, so there is no
// search to restrict. The stand-in's "user32.dll" is built in and offers the
// two message boxes; kernel32.dll offers SetDefaultDllDirectories.
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL SetDllDirectoryW(LPCWSTR lpPathName);
UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);
// The narrow (ANSI) code page of a POSIX process is UTF-8, the file system's
// encoding. Bytes that are not UTF-8 become U+DC80..U+DCFF and back, so every
// path survives the trip through wide text. Code pages 932 and 1252 named by
// number convert as Windows converts them, for a checker that asks what a
// Windows with that code page would do.
UINT GetACP(void);
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

// A DBCS code page's lead byte: 932's; UTF-8 and 1252 have none.
BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);

// The process environment (environ), its text in CP_ACP. The block lists
// NAME=VALUE strings, each ended by a NUL, and ends with an empty one. A NULL
// value removes the variable.
LPWSTR GetEnvironmentStringsW(void);
BOOL FreeEnvironmentStringsW(LPWSTR penv);
BOOL SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);
DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);

BOOL AllocConsole(void);
HWND GetConsoleWindow(void);
void Sleep(DWORD dwMilliseconds);
int lstrlenA(LPCSTR lpString);
