// GetVersionExA and GetSystemWindowsDirectoryA. Differs from Windows: the
// version is fixed at 6.2 (what current Windows reports to programs without
// a compatibility manifest), so callers take their NT 6 paths; there is no
// service-pack text. The Windows folder is C:\Windows, on the drive C:
// that QV_DRIVE_C maps (it need not exist).

#include "platform/win32.h"

#include <cstring>

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 2;
    info->dwBuildNumber = 9200;
    info->dwPlatformId = 2;  // VER_PLATFORM_WIN32_NT
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}

UINT WINAPI GetSystemWindowsDirectoryA(LPSTR buffer, UINT size) {
    static const char folder[] = "C:\\Windows";
    if (buffer == nullptr || size < sizeof(folder)) return sizeof(folder);
    std::memcpy(buffer, folder, sizeof(folder));
    return sizeof(folder) - 1;
}
