// The DLL the Wine suite plants under many names where a download could put
// it (beside a package, in the current directory, in a working folder).
// Loaded, it leaves a marker: a file named after itself, holding its path,
// in the folder QV_PLANT_MARKERS names. No C runtime and no import but
// kernel32, so it loads whatever else is planted around it.

#include "platform/win32.h"

extern "C" BOOL WINAPI plant_main(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char own[MAX_PATH];
    char marker[MAX_PATH * 2];
    const DWORD own_length = GetModuleFileNameA(self, own, MAX_PATH);
    const DWORD folder_length = GetEnvironmentVariableA("QV_PLANT_MARKERS", marker, MAX_PATH);
    if (own_length == 0 || own_length >= MAX_PATH || folder_length == 0 || folder_length >= MAX_PATH) return TRUE;
    const char* name = own;
    for (const char* c = own; *c != '\0'; ++c)
        if (*c == '\\') name = c + 1;
    lstrcatA(marker, "\\");
    lstrcatA(marker, name);
    const HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TRUE;
    DWORD written = 0;
    WriteFile(file, own, own_length, &written, nullptr);
    CloseHandle(file);
    return TRUE;
}
