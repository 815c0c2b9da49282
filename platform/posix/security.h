// Security descriptors from their text form (SDDL), well-known SIDs and
// token membership. Implemented in security.cpp; a descriptor's access
// list shapes the mode of a folder CreateDirectoryA makes (folders.cpp).
#pragma once

#include "platform/posix/types.h"

#define SDDL_REVISION_1 1
#define SECURITY_MAX_SID_SIZE 68
#define SE_DACL_PROTECTED 0x1000

typedef void* PSID;

typedef enum {
    WinWorldSid = 1,
    WinLocalSystemSid = 22,
    WinBuiltinAdministratorsSid = 26,
} WELL_KNOWN_SID_TYPE;

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                                  PSECURITY_DESCRIPTOR* descriptor, PULONG size);
BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size);
BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, PBOOL is_member);
