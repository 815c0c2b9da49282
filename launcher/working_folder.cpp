// The working folder of the run. The launcher runs elevated and makes it in
// the user's temporary directory, where the user's unelevated programs may
// write: so it is made private and new, never taken over, and held open
// while the run uses it, so that nobody can put another folder in its
// place.

#include "launcher/working_folder.h"

#include "launcher/message.h"
#include "launcher/narrow_path.h"
#include "launcher/run_state.h"
#include "tessel/format.h"
#include "tessel/handle.h"
#include "tessel/security_attributes.h"
#include "tessel/text.h"

#include <algorithm>
#include <ctime>
#include <vector>

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

// Names tried in one second: "QV" + seconds, then with "_1" ... behind it.
const unsigned names_per_second = 100;

// Characters below MAX_PATH that the temporary directory leaves for the
// working folder ("QV", the seconds, "_99" and a backslash) and the names
// extracted into it; a longer path is taken in its short form.
const size_t working_room = 64;

// What another program holds open at the clean-up is tried again after
// these pauses, doubling, for so long in all.
const DWORD first_pause = 100;
const DWORD longest_pause = 2000;
const DWORD retry_time = 9000;

bool runs_as_administrator() {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           CheckTokenMembership(nullptr, administrators, &member) && member;
}

bool create_private_folder(const std::string& path) {
    tessel::security_attributes access(runs_as_administrator() ? for_administrators : for_administrators_and_owner);
    return access.get() != nullptr && CreateDirectoryA(path.c_str(), access.get()) != FALSE;
}

// A handle that keeps the folder at path from being renamed or removed
// (it does not share deletion), or INVALID_HANDLE_VALUE when it cannot be
// held or, unless follow_link, when path is no plain folder but a link or
// junction. The current directory may still be set to it.
HANDLE hold_folder(const std::string& path, bool follow_link) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE folder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                flags, nullptr);
    BY_HANDLE_FILE_INFORMATION information;
    if (folder == INVALID_HANDLE_VALUE ||
        (GetFileInformationByHandle(folder, &information) &&
         (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
             FILE_ATTRIBUTE_DIRECTORY))
        return folder;
    CloseHandle(folder);
    SetLastError(ERROR_DIRECTORY);
    return INVALID_HANDLE_VALUE;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// A new private folder in base (ending in a backslash), held; sets
// working_folder. Entries of the names tried that are there already are
// someone else's and stay as they are.
HANDLE make_folder_in(const std::string& base) {
    // A directory that cannot be held may be moved away under the folder.
    // It may well be a link the user set up: what it leads to is held.
    tessel::unique_handle base_hold(hold_folder(base, true));
    if (!base_hold.valid()) return INVALID_HANDLE_VALUE;
    const std::string stem = base + tessel::format("QV%I64d", static_cast<long long>(std::time(nullptr)));
    for (unsigned n = 0; n < names_per_second; ++n) {
        const std::string folder = n == 0 ? stem : stem + tessel::format("_%u", n);
        if (!create_private_folder(folder)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return INVALID_HANDLE_VALUE;
        }
        // Should another entry have taken its place before it was held,
        // that one is not ours: it is neither used nor removed.
        HANDLE hold = hold_folder(folder, false);
        if (hold != INVALID_HANDLE_VALUE) working_folder = folder + "\\";
        return hold;
    }
    return INVALID_HANDLE_VALUE;
}

// Deletes what folder (ending in a separator) holds, as far as it can;
// false when it cannot be listed. Read-only files and dot folders stay on
// purpose; what another program holds open (a virus scanner does for a
// while) may go a moment later, and is added to held, files before their
// folders.
bool remove_contents(const std::string& folder, std::vector<std::string>& held) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = entry.cFileName;
        const std::string path = folder + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Covers "." and "..", and keeps every other dot folder.
            if (tessel::starts_with(name, ".")) continue;
            // A link or junction is removed itself: what it leads to lies
            // outside the working folder and is not ours to delete.
            const size_t held_before = held.size();
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) remove_contents(path + "\\", held);
            if (!RemoveDirectoryA(path.c_str()) && held.size() > held_before) held.push_back(path);
        } else if (!DeleteFileA(path.c_str()) && (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
            held.push_back(path);
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return true;
}

// Removes the folder that made describes, through a handle to it: the
// hold, which refuses deletion to everyone, this process included, is
// closed first, so the name is opened again and the folder removed only if
// that is still the same one, whatever might have been put there meanwhile.
bool remove_folder_itself(const BY_HANDLE_FILE_INFORMATION& made) {
    tessel::unique_handle folder(CreateFileA(working_folder.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                             nullptr));
    BY_HANDLE_FILE_INFORMATION named;
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return folder.valid() && GetFileInformationByHandle(folder.get(), &named) && same_file(made, named) &&
           SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

// The system's own temporary folder, %SystemRoot%\Temp\, for an
// administrator; empty otherwise.
std::string system_temp_directory() {
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !runs_as_administrator()) return std::string();
    return std::string(windows, length) + "\\Temp\\";
}

// Where the system's temporary directory has no narrow form, the box says
// why, with the path as the code page shows it.
void report_missing_temp_directory(DWORD error) {
    std::string text = "Unable to get Temporary Directory";
    char shown[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, shown);
    if (error == ERROR_NO_UNICODE_TRANSLATION && length > 0 && length < MAX_PATH)
        text += "\r\n" + std::string(shown, length) +
                "\r\nThe system's code page cannot spell this path, and it has no short name.";
    show_message("GetTempPath failed", text.c_str());
}

}  // namespace

std::string temp_directory() {
    const DWORD narrow_size = GetTempPathA(0, nullptr);
    const DWORD wide_size = GetTempPathW(0, nullptr);
    if (narrow_size == 0 || wide_size == 0) return std::string();
    std::string narrow(narrow_size, '\0');
    std::wstring wide(wide_size, L'\0');
    const DWORD narrow_length = GetTempPathA(narrow_size, &narrow[0]);
    const DWORD wide_length = GetTempPathW(wide_size, &wide[0]);
    if (narrow_length == 0 || narrow_length >= narrow_size || wide_length == 0 || wide_length >= wide_size)
        return std::string();
    narrow.resize(narrow_length);
    wide.resize(wide_length);
    return narrow_path(narrow, wide, working_room);
}

HANDLE prepare_working_folder() {
    const std::string temp = temp_directory();
    if (temp.empty()) report_missing_temp_directory(GetLastError());
    // A temporary directory that takes no folder of ours falls back as one
    // the system does not report: to the system's own, then to C:\Temp.
    for (const std::string& base : {temp, system_temp_directory(), std::string("C:\\Temp\\")}) {
        if (base.empty()) continue;
        CreateDirectoryA(base.c_str(), nullptr);  // normally there already
        tessel::unique_handle hold(make_folder_in(base));
        if (!hold.valid()) continue;
        if (SetCurrentDirectoryA(working_folder.c_str())) return hold.release();
        remove_working_folder(hold.release());  // made in this run, so not left behind
    }
    return INVALID_HANDLE_VALUE;
}

std::string parent_directory() {
    if (working_folder.size() < 2) return std::string();
    const size_t cut = working_folder.rfind('\\', working_folder.size() - 2);
    return cut == std::string::npos ? std::string() : working_folder.substr(0, cut);
}

bool remove_folder_tree(const std::string& path) {
    std::string folder = path;
    if (!tessel::ends_with(folder, "\\") && !tessel::ends_with(folder, "/")) folder += "\\";
    std::vector<std::string> held;
    return remove_contents(folder, held) && RemoveDirectoryA(folder.c_str()) != FALSE;
}

bool remove_working_folder(HANDLE hold) {
    tessel::unique_handle holding(hold);
    BY_HANDLE_FILE_INFORMATION made;
    if (!GetFileInformationByHandle(holding.get(), &made)) return false;
    // What another program holds open is tried again, for about ten
    // seconds in all, while the folder is still held in place.
    std::vector<std::string> held;
    DWORD pause = first_pause;
    for (DWORD waited = 0;; waited += pause, pause = std::min(pause * 2, longest_pause)) {
        held.clear();
        remove_contents(working_folder, held);
        if (held.empty() || waited >= retry_time) break;
        Sleep(pause);
    }
    holding.reset();
    if (remove_folder_itself(made)) return true;
    // Still held: the system removes it when it next starts, before anyone
    // could hold it (Windows; on POSIX nothing is held against removal).
    if (!held.empty()) {
        for (const std::string& path : held) MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        MoveFileExA(working_folder.substr(0, working_folder.size() - 1).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return false;
}

}  // namespace launcher
