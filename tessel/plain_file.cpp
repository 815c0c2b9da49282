// Opening a file of ours in a folder that others can write.

#include "tessel/plain_file.h"

namespace tessel {
namespace {

bool owned_by_us(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    BOOL member = FALSE;
    const bool ours = (CheckTokenMembership(nullptr, owner, &member) && member) ||
                      IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid);
    LocalFree(descriptor);
    return ours;
}

bool is_plain_file(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           information.nNumberOfLinks == 1 && owned_by_us(file);
}

}  // namespace

HANDLE open_plain_file(const std::string& name, DWORD access, DWORD share, DWORD disposition,
                       SECURITY_ATTRIBUTES* security) {
    // The checks read the file's attributes and owner.
    HANDLE file = CreateFileA(name.c_str(), access | FILE_READ_ATTRIBUTES | READ_CONTROL, share, security,
                              disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    const DWORD opened = GetLastError();  // ERROR_ALREADY_EXISTS tells an existing file
    if (is_plain_file(file)) {
        SetLastError(opened);
        return file;
    }
    CloseHandle(file);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

}  // namespace tessel
