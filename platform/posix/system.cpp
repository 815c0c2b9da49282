// GetVersionExA. Differs from Windows: the version is fixed at 6.2 (what
// current Windows reports to programs without a compatibility manifest), so
// callers take their NT 6 paths; there is no service-pack text.

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
