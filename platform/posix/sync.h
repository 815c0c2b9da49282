// Named mutexes (machine-wide, recursive for the owner, abandoned when the
// holder dies) and critical sections. Implemented in sync.cpp, critical
// sections in critical_section.cpp.
#pragma once

#include "platform/posix/types.h"

#define MUTEX_MODIFY_STATE 0x0001
#define SYNCHRONIZE 0x00100000u
#define MUTEX_ALL_ACCESS 0x001F0001u

typedef struct _CRITICAL_SECTION {
    void* impl;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initial_owner, LPCSTR name);
HANDLE WINAPI OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
BOOL WINAPI ReleaseMutex(HANDLE mutex);

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
