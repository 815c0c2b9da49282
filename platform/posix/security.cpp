// Security: InitializeSecurityDescriptor, SetSecurityDescriptorDacl,
// ConvertStringSecurityDescriptorToSecurityDescriptorA, CreateWellKnownSid,
// IsWellKnownSid, CheckTokenMembership, GetSecurityInfo, and the folder mode
// of an access list (internal/security.h).
// Differs from Windows:
// - the text form is the access list alone ("D:", the flag "P", entries
//   "(A;flags;rights;;;trustee)" with the flags OI and CI, the rights FA,
//   FR and FX, the trustees SY, BA and OW): what the working folder and the
//   log ask for. Any other part, entry type, flag, right or trustee fails
//   with ERROR_NOT_SUPPORTED, text that is no SDDL with
//   ERROR_INVALID_PARAMETER; the descriptor is one block for LocalFree, its
//   access list the layer's own (internal/security.h);
// - the well-known SIDs are SYSTEM and the administrators; the calling
//   process is both when it runs as root, and CheckTokenMembership takes no
//   token but the caller's (null);
// - a user other than root is the SID S-1-22-1-<uid>, of which the caller
//   is a member when it is its effective user;
// - GetSecurityInfo tells only the owner of a file handle: the
//   administrators for what root owns, as Windows gives what an elevated
//   administrator makes, else the owner's user SID.

#include "platform/posix/internal/security.h"

#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/file_object.h"
#include "platform/win32.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qv_posix {
namespace {

// FILE_GENERIC_READ, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS.
const DWORD file_read = 0x120089;
const DWORD file_execute = 0x1200a0;
const DWORD file_all = 0x1f01ff;
const BYTE object_inherit = 0x1;
const BYTE container_inherit = 0x2;

struct fails {
    DWORD error;
};

// The two-letter words of SDDL that the layer knows.
struct word {
    const char* text;
    DWORD value;
};
const word inherit_flags[] = {{"OI", object_inherit}, {"CI", container_inherit}};
const word file_rights[] = {{"FA", file_all}, {"FR", file_read}, {"FX", file_execute}};
const word trustees[] = {
    {"SY", DWORD(trustee::system)}, {"BA", DWORD(trustee::administrators)}, {"OW", DWORD(trustee::owner)}};

// The values of a run of words, or'ed; throws fails.
template <size_t count>
DWORD words(const std::string& text, const word (&known)[count]) {
    if (text.size() % 2 != 0) throw fails{ERROR_INVALID_PARAMETER};
    DWORD value = 0;
    for (size_t at = 0; at < text.size(); at += 2) {
        const word* found =
            std::find_if(known, known + count, [&](const word& w) { return text.compare(at, 2, w.text) == 0; });
        if (found == known + count) throw fails{ERROR_NOT_SUPPORTED};
        value |= found->value;
    }
    return value;
}

// "A;OICI;FA;;;SY" -> an entry; throws fails.
access_entry parse_entry(const std::string& text) {
    std::vector<std::string> fields;
    size_t begin = 0;
    for (size_t end; (end = text.find(';', begin)) != std::string::npos; begin = end + 1)
        fields.push_back(text.substr(begin, end - begin));
    fields.push_back(text.substr(begin));
    if (fields.size() != 6 || fields[2].empty() || fields[5].empty()) throw fails{ERROR_INVALID_PARAMETER};
    // Other entry types, object entries, and trustees named by SID strings.
    if (fields[0] != "A" || !fields[3].empty() || !fields[4].empty() || fields[5].size() != 2)
        throw fails{ERROR_NOT_SUPPORTED};

    access_entry entry;
    entry.flags = static_cast<BYTE>(words(fields[1], inherit_flags));
    entry.mask = words(fields[2], file_rights);
    entry.who = static_cast<trustee>(words(fields[5], trustees));
    return entry;
}

// "rwx" bits of an access mask.
mode_t mode_bits(DWORD mask) {
    mode_t bits = 0;
    if (mask & 0x1) bits |= 4;  // FILE_READ_DATA, FILE_LIST_DIRECTORY
    if (mask & 0x6) bits |= 2;  // FILE_WRITE_DATA, FILE_APPEND_DATA: add files, folders
    if (mask & 0x20) bits |= 1;  // FILE_EXECUTE, FILE_TRAVERSE
    return bits;
}

// A SID as Windows lays it out, with room for two sub-authorities.
struct sid_value {
    BYTE revision;
    BYTE count;
    BYTE authority[6];
    DWORD sub_authorities[2];
};
static_assert(sizeof(sid_value) == 16, "SID layout");

bool well_known_sid(WELL_KNOWN_SID_TYPE type, sid_value& sid) {
    switch (type) {
        case WinLocalSystemSid: sid = {1, 1, {0, 0, 0, 0, 0, 5}, {18, 0}}; return true;
        case WinBuiltinAdministratorsSid: sid = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}}; return true;
    }
    return false;
}

size_t sid_length(const sid_value& sid) { return 8 + 4 * size_t(sid.count); }

// S-1-22-1-<uid> for a user other than root, the administrators for root.
sid_value owner_sid(uid_t owner) {
    sid_value sid;
    if (owner == 0) well_known_sid(WinBuiltinAdministratorsSid, sid);
    else sid = {1, 2, {0, 0, 0, 0, 0, 22}, {1, DWORD(owner)}};
    return sid;
}

bool same_sid(const void* sid, const sid_value& known) {
    // The count first: a shorter SID is not read beyond its end.
    return static_cast<const BYTE*>(sid)[1] == known.count && std::memcmp(sid, &known, sid_length(known)) == 0;
}

bool same_sid(const void* sid, WELL_KNOWN_SID_TYPE type) {
    sid_value known;
    return well_known_sid(type, known) && same_sid(sid, known);
}

}  // namespace

bool open_to_others(const struct stat& status) {
    if (status.st_uid != 0 && status.st_uid != geteuid()) return true;
    return S_ISDIR(status.st_mode) && (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
           (status.st_mode & S_ISVTX) == 0;
}

bool folder_mode(const SECURITY_ATTRIBUTES* security, mode_t& mode) {
    mode = 0777;
    if (security == nullptr || security->lpSecurityDescriptor == nullptr) return true;
    const auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(security->lpSecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    if ((descriptor->Control & SE_DACL_PRESENT) == 0 || descriptor->Dacl == nullptr) return true;
    const auto* list = static_cast<const access_list*>(descriptor->Dacl);
    if (list->tag != access_list_tag) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    const bool root = geteuid() == 0;
    mode_t owner = 0;
    for (DWORD i = 0; i < list->count; ++i) {
        const access_entry& entry = list->entries[i];
        if (entry.who == trustee::owner || root) owner |= mode_bits(entry.mask);
    }
    mode = owner << 6;
    return true;
}

}  // namespace qv_posix

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    if (descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    std::memset(descriptor, 0, sizeof(*descriptor));
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, void* dacl, BOOL defaulted) {
    if (descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    descriptor->Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    if (present) {
        descriptor->Control |= SE_DACL_PRESENT;
        if (defaulted) descriptor->Control |= SE_DACL_DEFAULTED;
        descriptor->Dacl = dacl;
    } else {
        descriptor->Dacl = nullptr;
    }
    return TRUE;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                                  PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
    using namespace qv_posix;
    if (text == nullptr || descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != SDDL_REVISION_1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    std::vector<access_entry> entries;
    bool protect = false;
    try {
        const std::string sddl = text;
        if (sddl.size() < 2 || sddl[1] != ':') throw fails{ERROR_INVALID_PARAMETER};
        if (sddl[0] != 'D') throw fails{ERROR_NOT_SUPPORTED};
        size_t at = sddl.find('(', 2);
        const std::string flags = sddl.substr(2, at == std::string::npos ? std::string::npos : at - 2);
        if (flags == "P")
            protect = true;
        else if (!flags.empty())
            throw fails{ERROR_NOT_SUPPORTED};
        while (at != std::string::npos) {
            const size_t end = sddl.find(')', at);
            if (end == std::string::npos) throw fails{ERROR_INVALID_PARAMETER};
            entries.push_back(parse_entry(sddl.substr(at + 1, end - at - 1)));
            at = end + 1;
            if (at == sddl.size()) break;
            if (sddl[at] != '(') throw fails{ERROR_INVALID_PARAMETER};
        }
    } catch (const fails& failure) {
        SetLastError(failure.error);
        return FALSE;
    }

    // One block, so that LocalFree releases it whole.
    const size_t list_size = sizeof(access_list) + sizeof(access_entry) * (entries.empty() ? 0 : entries.size() - 1);
    const size_t block_size = sizeof(SECURITY_DESCRIPTOR) + list_size;
    void* block = std::calloc(1, block_size);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    auto* made = static_cast<SECURITY_DESCRIPTOR*>(block);
    auto* list = reinterpret_cast<access_list*>(made + 1);
    list->tag = access_list_tag;
    list->count = static_cast<DWORD>(entries.size());
    std::copy(entries.begin(), entries.end(), list->entries);
    made->Revision = SECURITY_DESCRIPTOR_REVISION;
    made->Control = SE_DACL_PRESENT | (protect ? SE_DACL_PROTECTED : 0);
    made->Dacl = list;
    *descriptor = made;
    if (size != nullptr) *size = static_cast<ULONG>(block_size);
    return TRUE;
}

BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size) {
    qv_posix::sid_value known;
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (domain != nullptr || !qv_posix::well_known_sid(type, known)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(qv_posix::sid_length(known));
    if (*size < needed || sid == nullptr) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(sid, &known, needed);
    *size = needed;
    return TRUE;
}

BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, PBOOL is_member) {
    if (sid == nullptr || is_member == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (token != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    const BYTE user_authority[6] = {0, 0, 0, 0, 0, 22};
    if (qv_posix::same_sid(sid, WinLocalSystemSid) || qv_posix::same_sid(sid, WinBuiltinAdministratorsSid)) {
        *is_member = geteuid() == 0;
    } else if (bytes[1] == 2 && std::memcmp(bytes + 2, user_authority, 6) == 0) {
        *is_member = geteuid() != 0 && qv_posix::same_sid(sid, qv_posix::owner_sid(geteuid()));
    } else {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) { return sid != nullptr && qv_posix::same_sid(sid, type); }

DWORD WINAPI GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                             PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    using namespace qv_posix;
    if (type != SE_FILE_OBJECT || information != OWNER_SECURITY_INFORMATION || group != nullptr || dacl != nullptr ||
        sacl != nullptr)
        return ERROR_NOT_SUPPORTED;  // see the opening comment
    if (owner == nullptr || descriptor == nullptr) return ERROR_INVALID_PARAMETER;
    auto* file = dynamic_cast<file_object*>(lookup_handle(object));
    if (file == nullptr) return ERROR_INVALID_HANDLE;
    struct stat status;
    if (fstat(file->fd(), &status) != 0) return win32_error_from_errno(errno);

    // One block, so that LocalFree releases it whole.
    struct owner_block {
        SECURITY_DESCRIPTOR descriptor;
        sid_value owner;
    };
    auto* block = static_cast<owner_block*>(std::calloc(1, sizeof(owner_block)));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    block->owner = owner_sid(status.st_uid);
    block->descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
    block->descriptor.Owner = &block->owner;
    *owner = &block->owner;
    *descriptor = &block->descriptor;
    return ERROR_SUCCESS;
}
