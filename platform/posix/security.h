// Security descriptors, also from their text form (SDDL), well-known SIDs,
// token membership and the owner of a file. Implemented in security.cpp; a
// descriptor's access list shapes the mode of a folder CreateDirectoryA
// makes (folders.cpp).
#pragma once

#include "platform/posix/types.h"

#define SECURITY_DESCRIPTOR_REVISION 1
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define SE_DACL_PROTECTED 0x1000
#define SDDL_REVISION_1 1
#define SECURITY_MAX_SID_SIZE 68

#define OWNER_SECURITY_INFORMATION 0x00000001

typedef void* PSID;
typedef struct _ACL* PACL;
typedef DWORD SECURITY_INFORMATION;

typedef enum { SE_FILE_OBJECT = 1 } SE_OBJECT_TYPE;

typedef enum {
    WinLocalSystemSid = 22,
    WinBuiltinAdministratorsSid = 26,
} WELL_KNOWN_SID_TYPE;

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, void* dacl, BOOL defaulted);
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                                  PSECURITY_DESCRIPTOR* descriptor, PULONG size);
BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size);
BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, PBOOL is_member);
BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);
// Returns its error code rather than setting the last error, as Windows does.
DWORD WINAPI GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
