// Processes, handles, waits, modules, time, system version and folder, the
// environment. Implemented in handles.cpp, processes.cpp, modules.cpp,
// system.cpp, time.cpp, environment.cpp and entry.cpp.
#pragma once

#include "platform/posix/types.h"

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259
#define SW_SHOWNORMAL 1
#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

typedef struct _SHELLEXECUTEINFOA {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpFile;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIconOrMonitor;
    HANDLE hProcess;
} SHELLEXECUTEINFOA, *LPSHELLEXECUTEINFOA;

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
static_assert(sizeof(OSVERSIONINFOA) == 148, "SDK layout of OSVERSIONINFOA");

// The program's entry point, called by the layer's main() with a non-null
// instance handle and the arguments joined by single blanks.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

BOOL WINAPI CloseHandle(HANDLE object);
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code);
HANDLE WINAPI GetCurrentProcess();
DWORD WINAPI GetCurrentProcessId();
DWORD WINAPI GetCurrentThreadId();

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);

void WINAPI GetLocalTime(LPSYSTEMTIME time);
void WINAPI Sleep(DWORD milliseconds);
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
UINT WINAPI GetSystemWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);
