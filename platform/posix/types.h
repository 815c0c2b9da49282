// Win32 base types and structures of the subset, with the SDK's sizes for
// the integer types (DWORD is 32 bits here too).
// Pointers are native, so structures holding pointers are larger than on
// 32-bit Windows; callers fill size fields with sizeof, never a literal.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef uint64_t ULONGLONG;
typedef int64_t LONGLONG;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef int32_t HRESULT;
typedef LONG LSTATUS;
typedef WORD LANGID;
typedef DWORD LCID;

typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef BOOL* LPBOOL;
typedef BOOL* PBOOL;
typedef ULONG* PULONG;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef CHAR* LPCH;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const CHAR* LPCCH;
typedef const WCHAR* LPCWCH;

typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE HLOCAL;
typedef struct qv_module* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct qv_window* HWND;
typedef struct qv_key* HKEY;
typedef HKEY* PHKEY;
typedef intptr_t (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define MAKELANGID(p, s) ((WORD)((((WORD)(s)) << 10) | (WORD)(p)))
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_INVALIDARG ((HRESULT)0x80070057u)

typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    void* Owner;
    void* Group;
    void* Sacl;
    void* Dacl;
} SECURITY_DESCRIPTOR, *PSECURITY_DESCRIPTOR;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

static_assert(sizeof(DWORD) == 4 && sizeof(WORD) == 2 && sizeof(LONG) == 4, "SDK integer sizes");
static_assert(sizeof(SYSTEMTIME) == 16, "SDK layout of SYSTEMTIME");
