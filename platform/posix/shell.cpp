// SHGetFolderPathW for the two application-data folders the system asks for.
//   CSIDL_COMMON_APPDATA: QV_COMMON_APPDATA, else /var/lib.
//   CSIDL_APPDATA: QV_APPDATA, else $XDG_DATA_HOME, else $HOME/.local/share.
// A variable may hold a DOS path (C:\..., Z:\...) or a POSIX path; a variable
// that is set but empty makes the folder unavailable, and so does a per-user
// folder without QV_APPDATA, XDG_DATA_HOME and HOME. The path is returned in
// DOS form with backslashes and without a trailing one.
// Differs from Windows: whether the folder exists is not checked; no other
// folders, no access tokens, no flags but SHGFP_TYPE_CURRENT.

#include "platform/posix/internal/dos_path.h"
#include "platform/posix/internal/errno_map.h"
#include "platform/win32.h"

#include <unistd.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const HRESULT filename_too_long = static_cast<HRESULT>(0x800700CEu);  // from ERROR_FILENAME_EXCED_RANGE

// The configured location of a folder, or false when it has none.
bool folder_source(int folder, std::string& location) {
    const char* variable = std::getenv(folder == CSIDL_APPDATA ? "QV_APPDATA" : "QV_COMMON_APPDATA");
    if (variable != nullptr) {
        location = variable;
        return !location.empty();
    }
    if (folder == CSIDL_COMMON_APPDATA) {
        location = "/var/lib";
        return true;
    }
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && *data_home != '\0') {
        location = data_home;
        return true;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        location = std::string(home) + "/.local/share";
        return true;
    }
    return false;
}

bool is_dos_path(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// The DOS form of a configured location; false when its drive is not mapped
// or the working folder cannot be read for a relative POSIX path.
bool dos_form(const std::string& location, std::string& dos) {
    std::string posix;
    if (is_dos_path(location)) {
        if (!qv_posix::to_posix_path(location, posix)) return false;
        dos = location.substr(0, 2);
        dos[0] = static_cast<char>(dos[0] & ~0x20);  // upper-case drive letter
        for (size_t i = 2; i < location.size(); ++i) dos += location[i] == '/' ? '\\' : location[i];
        if (dos.size() == 2) dos += '\\';
    } else {
        posix = location;
        if (posix[0] != '/') {
            std::vector<char> cwd(4096);
            if (getcwd(cwd.data(), cwd.size()) == nullptr) {
                qv_posix::set_last_error_from_errno();
                return false;
            }
            posix = std::string(cwd.data()) + "/" + posix;
        }
        dos = qv_posix::to_dos_path(posix);
    }
    while (dos.size() > 2 && dos.back() == '\\') dos.pop_back();
    return true;
}

}  // namespace

HRESULT WINAPI SHGetFolderPathW(HWND, int folder, HANDLE token, DWORD flags, LPWSTR path) {
    if ((folder != CSIDL_APPDATA && folder != CSIDL_COMMON_APPDATA) || token != nullptr ||
        flags != SHGFP_TYPE_CURRENT || path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_INVALIDARG;
    }
    std::string location;
    std::string dos;
    if (!folder_source(folder, location)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return E_FAIL;
    }
    if (!dos_form(location, dos)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return E_FAIL;
    }
    // Paths are bytes here; the wide form widens them from the ANSI code page.
    std::wstring wide(dos.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, dos.data(), static_cast<int>(dos.size()),
                                           &wide[0], static_cast<int>(wide.size()));
    if (length <= 0) return E_FAIL;
    if (length >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return filename_too_long;
    }
    std::wmemcpy(path, wide.data(), static_cast<size_t>(length));
    path[length] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return S_OK;
}
