// Virtual memory: whole regions of pages, reserved and committed at once;
// LocalFree for what the layer allocates for its caller. Implemented in
// memory.cpp.
#pragma once

#include "platform/posix/types.h"

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_RELEASE 0x00008000
#define PAGE_READWRITE 0x04

// Supports MEM_RESERVE | MEM_COMMIT with PAGE_READWRITE and no address: a
// fresh region of zero pages, page-aligned. Anything else fails with
// ERROR_INVALID_PARAMETER.
LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocation_type, DWORD protection);
// Supports MEM_RELEASE with size 0 of an address VirtualAlloc returned;
// any other address fails with ERROR_INVALID_ADDRESS.
BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD free_type);
// Frees a block that FormatMessageA (FORMAT_MESSAGE_ALLOCATE_BUFFER),
// ConvertStringSecurityDescriptorToSecurityDescriptorA or GetSecurityInfo
// allocated; returns null.
HLOCAL WINAPI LocalFree(HLOCAL memory);
