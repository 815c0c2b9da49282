// The working folder of the run. The launcher runs elevated and makes it in
// the user's temporary directory, where the user's unelevated programs may
// write: so it is made private, and a folder of that name that is already
// there is never trusted.

#include "launcher/working_folder.h"

#include "launcher/message.h"
#include "launcher/run_state.h"
#include "platform/win32.h"
#include "tessel/format.h"
#include "tessel/text.h"

#include <ctime>

namespace launcher {
namespace {

// Administrators and SYSTEM may do anything in the folder and in what is
// extracted into it. Its owner, the account that made it, may read and
// execute; when that account is no administrator it may do anything, else
// the launcher could not write there itself. No one else may do anything.
// Protected (P) from the temporary directory's inheritable entries; every
// entry is inherited (OI, CI) by what the folder holds.
const char* const for_administrators = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;OW)";
const char* const for_administrators_and_owner = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)";

bool runs_as_administrator() {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           CheckTokenMembership(nullptr, administrators, &member) && member;
}

bool create_private_folder(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const char* const text = runs_as_administrator() ? for_administrators : for_administrators_and_owner;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    const BOOL created = CreateDirectoryA(path.c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return created != FALSE;
}

// Whatever stands at path goes, as the clean-up removes: a link itself,
// never what it leads to; a folder with what is in it; a file.
void remove_entry(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(path.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    FindClose(find);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        DeleteFileA(path.c_str());
    else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        RemoveDirectoryA(path.c_str());
    else
        remove_folder_tree(path);
}

}  // namespace

std::string temp_directory() {
    char buffer[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    // A longer path reports the size it needs and leaves the buffer unfilled.
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
}

bool prepare_working_folder() {
    working_folder = temp_directory();
    if (working_folder.empty()) {
        show_message("GetTempPath failed", "Unable to get Temporary Directory");
        working_folder = "C:\\Temp\\";
    }
    CreateDirectoryA(working_folder.c_str(), nullptr);
    const std::string folder = working_folder + tessel::format("QV%I64d", static_cast<long long>(std::time(nullptr)));
    working_folder = folder + "\\";
    // Someone else's folder of that name, or a link, is replaced; if it
    // cannot be, the run ends as if the folder could not be made current.
    if (!create_private_folder(folder)) {
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        remove_entry(folder);
        if (!create_private_folder(folder)) return false;
    }
    return SetCurrentDirectoryA(working_folder.c_str()) != FALSE;
}

std::string parent_directory() {
    if (working_folder.size() < 2) return std::string();
    const size_t cut = working_folder.rfind('\\', working_folder.size() - 2);
    return cut == std::string::npos ? std::string() : working_folder.substr(0, cut);
}

bool remove_folder_tree(const std::string& path) {
    std::string folder = path;
    if (!tessel::ends_with(folder, "\\") && !tessel::ends_with(folder, "/")) folder += "\\";

    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Covers "." and "..", and keeps every other dot folder.
            if (tessel::starts_with(name, ".")) continue;
            // A link or junction is removed itself: what it leads to lies
            // outside the working folder and is not ours to delete.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveDirectoryA((folder + name).c_str());
            else
                remove_folder_tree(folder + name);
        } else {
            DeleteFileA((folder + name).c_str());
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return RemoveDirectoryA(folder.c_str()) != FALSE;
}

}  // namespace launcher
