// Layer-internal: the access list of a descriptor that
// ConvertStringSecurityDescriptorToSecurityDescriptorA made, and the mode
// it gives a folder.
#pragma once

#include "platform/posix/types.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace qv_posix {

// Whom an entry names: the SDDL aliases SY, BA and OW.
enum class trustee : BYTE { system, administrators, owner };

struct access_entry {
    trustee who;
    BYTE flags;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE: nothing inherits on POSIX
    DWORD mask;  // FILE_* access rights
};

struct access_list {
    DWORD tag;  // access_list_tag: made by this layer
    DWORD count;
    access_entry entries[1];  // count of them
};
const DWORD access_list_tag = 0x4c434151;

// The mode for a folder made with that security: without a descriptor, or
// with no or a null access list, 0777 (less the umask); with an access list,
// the owner's bits from the entries for the owner (and for SYSTEM and the
// administrators when the process runs as root), none for the group and
// the others. False with the last error set for a descriptor the layer did
// not make.
bool folder_mode(const SECURITY_ATTRIBUTES* security, mode_t& mode);

// Whether another account could rename, remove or change what status
// describes, or change what lies in it: anything that is not root's or the
// caller's, or a folder others may write without the sticky bit.
bool open_to_others(const struct stat& status);

}  // namespace qv_posix
