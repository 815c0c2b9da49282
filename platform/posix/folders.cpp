// Folders: CreateDirectoryA, RemoveDirectoryA, SetCurrentDirectoryA,
// GetTempPathA / GetTempPathW, GetShortPathNameW, FindFirstFileA / FindNextFileA / FindClose. Differs from Windows:
// - GetTempPathA takes TMPDIR (else /tmp) and reports it as a Z: path; it
//   does not check that the folder exists, as Windows does not. Names here
//   are bytes: GetTempPathW is that path read in the ANSI code page.
// - There are no short (8.3) names: GetShortPathNameW gives an existing
//   path back as it was given, as Windows does on a volume without them.
// - RemoveDirectoryA refuses the process's current directory with
//   ERROR_SHARING_VIOLATION, as Windows does for a folder in use; other
//   processes' use is not seen.
// - FindFirstFileA matches "*" and "?" in the last component only, ASCII
//   case-insensitively ("*.*" matches every name); the listing is a
//   snapshot taken by FindFirstFileA, "." and ".." first. Other characters
//   Windows refuses in names match nothing there (Windows takes "<", ">"
//   and '"' for DOS wildcards); elsewhere they fail with ERROR_INVALID_NAME,
//   as in every name the layer takes. Names of that kind that POSIX
//   programs made are listed, but cannot be opened or deleted.
// - Attributes: FILE_ATTRIBUTE_DIRECTORY for a folder; FILE_ATTRIBUTE_ARCHIVE
//   for a file, with FILE_ATTRIBUTE_READONLY when it has no owner write
//   permission (see files.cpp). A symbolic link is
//   a reparse point, as on Windows: FILE_ATTRIBUTE_REPARSE_POINT, with
//   FILE_ATTRIBUTE_DIRECTORY when it leads to a folder; RemoveDirectoryA
//   removes such a link itself, never its target.
// - A security descriptor's access list becomes the new folder's mode
//   (internal/security.h): the owner's permissions, less the umask; nothing
//   is inherited by what is made inside.

#include "platform/posix/internal/dos_path.h"
#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/file_info.h"
#include "platform/posix/internal/kernel_object.h"
#include "platform/posix/internal/security.h"
#include "platform/win32.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace qv_posix {
namespace {

// Maps a DOS path; the last error is set when it cannot be mapped.
bool posix_path_of(LPCSTR dos_path, std::string& posix_path) {
    if (dos_path == nullptr || *dos_path == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return to_posix_path(dos_path, posix_path);
}

// Copies text with the Win32 length rules: the length without terminator
// when it fits, else the size needed including the terminator.
DWORD copy_path_out(const std::string& text, DWORD size, LPSTR buffer) {
    if (buffer == nullptr || text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

std::string current_directory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// "*" matches any run of characters, "?" any one character.
bool wildcard_match(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern != '\0' && fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

class find_object : public kernel_object {
public:
    std::string folder;  // POSIX folder being listed, with a trailing "/"
    std::vector<std::string> names;
    size_t next = 0;

    // Fills data with the next entry that still exists; false at the end.
    bool next_entry(LPWIN32_FIND_DATAA data) {
        while (next < names.size()) {
            const std::string& name = names[next++];
            struct stat info;
            if (lstat((folder + name).c_str(), &info) != 0) continue;  // gone since the snapshot
            std::memset(data, 0, sizeof(*data));
            data->dwFileAttributes = file_attributes(info, (folder + name).c_str());
            data->ftCreationTime = file_time(info.st_ctim);
            data->ftLastAccessTime = file_time(info.st_atim);
            data->ftLastWriteTime = file_time(info.st_mtim);
            if (!S_ISDIR(info.st_mode)) {
                const ULONGLONG size = static_cast<ULONGLONG>(info.st_size);
                data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
                data->nFileSizeLow = static_cast<DWORD>(size);
            }
            std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
            return true;
        }
        return false;
    }
};

}  // namespace
}  // namespace qv_posix

BOOL WINAPI CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security) {
    std::string path;
    mode_t mode = 0;
    if (!qv_posix::folder_mode(security, mode) || !qv_posix::posix_path_of(name, path)) return FALSE;
    if (mkdir(path.c_str(), mode) != 0) {
        if (errno == ENOENT)
            SetLastError(ERROR_PATH_NOT_FOUND);  // a missing parent
        else
            qv_posix::set_last_error_from_errno();
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR name) {
    std::string path;
    if (!qv_posix::posix_path_of(name, path)) return FALSE;
    struct stat target;
    struct stat current;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (lstat(path.c_str(), &target) == 0 && S_ISLNK(target.st_mode)) {
        // A link to a folder goes, its target stays.
        if (stat(path.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
            SetLastError(ERROR_DIRECTORY);
            return FALSE;
        }
        if (unlink(path.c_str()) != 0) {
            qv_posix::set_last_error_from_errno();
            return FALSE;
        }
        return TRUE;
    }
    if (stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode) && stat(".", &current) == 0 &&
        target.st_dev == current.st_dev && target.st_ino == current.st_ino) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (rmdir(path.c_str()) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST)
            SetLastError(ERROR_DIR_NOT_EMPTY);
        else if (errno == ENOTDIR)
            SetLastError(ERROR_DIRECTORY);
        else
            qv_posix::set_last_error_from_errno();
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR name) {
    std::string path;
    if (!qv_posix::posix_path_of(name, path)) return FALSE;
    if (chdir(path.c_str()) != 0) {
        if (errno == ENOTDIR)
            SetLastError(ERROR_DIRECTORY);
        else
            qv_posix::set_last_error_from_errno();
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
    const char* variable = std::getenv("TMPDIR");
    std::string path = variable != nullptr && *variable != '\0' ? variable : "/tmp";
    if (path[0] != '/') {
        const std::string current = qv_posix::current_directory();
        if (current.empty()) {
            qv_posix::set_last_error_from_errno();
            return 0;
        }
        path = current + "/" + path;
    }
    std::string dos = qv_posix::to_dos_path(path);
    if (dos.back() != '\\') dos += '\\';
    return qv_posix::copy_path_out(dos, size, buffer);
}

DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
    const DWORD needed = GetTempPathA(0, nullptr);
    if (needed == 0) return 0;
    std::string narrow(needed, '\0');
    const DWORD length = GetTempPathA(needed, &narrow[0]);
    if (length == 0 || length >= needed) return 0;
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(length), nullptr, 0);
    if (wide_length <= 0) return 0;
    if (buffer == nullptr || static_cast<DWORD>(wide_length) + 1 > size) return static_cast<DWORD>(wide_length) + 1;
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(length), buffer, wide_length);
    buffer[wide_length] = L'\0';
    return static_cast<DWORD>(wide_length);
}

DWORD WINAPI GetShortPathNameW(LPCWSTR long_path, LPWSTR buffer, DWORD size) {
    if (long_path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t length = std::wcslen(long_path);
    std::string narrow(length * 4 + 1, '\0');
    if (length > 0 && WideCharToMultiByte(CP_ACP, 0, long_path, static_cast<int>(length), &narrow[0],
                                          static_cast<int>(narrow.size()), nullptr, nullptr) == 0)
        return 0;
    if (GetFileAttributesA(narrow.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
    if (buffer == nullptr || length + 1 > size) return static_cast<DWORD>(length + 1);
    std::wmemcpy(buffer, long_path, length + 1);
    return static_cast<DWORD>(length);
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (pattern == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string text = pattern;
    size_t cut = text.find_last_of("\\/");
    const bool drive_only = cut == std::string::npos && text.size() >= 2 && text[1] == ':';
    if (drive_only) cut = 1;  // "C:*" lists the drive's root
    std::string last = cut == std::string::npos ? text : text.substr(cut + 1);
    if (last.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (last == "*.*") last = "*";

    std::string folder;
    if (cut == std::string::npos) {
        folder = ".";
    } else if (!qv_posix::to_posix_path(text.substr(0, cut + 1), folder)) {
        return INVALID_HANDLE_VALUE;
    }
    if (folder.empty() || folder.back() != '/') folder += '/';

    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : qv_posix::win32_error_from_errno(errno));
        return INVALID_HANDLE_VALUE;
    }
    // Besides the wildcards, a character Windows refuses in names matches
    // no name there.
    for (char c : last) {
        if (c != '*' && c != '?' && qv_posix::is_invalid_name_character(c)) {
            closedir(listing);
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    auto* find = new qv_posix::find_object();
    find->folder = folder;
    for (const char* dot : {".", ".."})
        if (qv_posix::wildcard_match(last.c_str(), dot)) find->names.push_back(dot);
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (qv_posix::wildcard_match(last.c_str(), name.c_str())) find->names.push_back(name);
    }
    closedir(listing);

    if (!find->next_entry(data)) {
        delete find;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return find->handle();
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
    auto* find = qv_posix::handle_cast<qv_posix::find_object>(handle);
    if (find == nullptr) return FALSE;
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!find->next_entry(data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle) {
    auto* find = qv_posix::handle_cast<qv_posix::find_object>(handle);
    if (find == nullptr) return FALSE;
    delete find;
    return TRUE;
}
