// The Windows launcher's process entry. A package runs elevated from
// whatever folder it was downloaded to, and a DLL loaded by bare name is
// searched there first. So before the C runtime starts (and with it the
// static initialisers), the DLL search is restricted to the system folder;
// only kernel32 and msvcrt, known DLLs that Windows maps from its own folder
// alone, are loaded before that. Everything else the program calls
// (user32, shell32, advapi32) is a delay-loaded import, loaded on first use
// from the system folder by its full path.
//
// Runs before the runtime: nothing here may rely on static constructors,
// the heap or pseudo-relocated data.

#include "platform/win32.h"

#include <delayimp.h>

extern "C" int WinMainCRTStartup();

namespace {

typedef BOOL(WINAPI* set_default_dll_directories_function)(DWORD flags);

// Libraries that system libraries load later by bare name along a path that
// ignores the restriction, loaded first so that those loads find them
// loaded: Wine's shell32 reaches ole32 that way while it starts a program.
const char* const early_libraries[] = {"ole32.dll"};

// True once the system searches the system folder alone for every load.
bool system_folder_only = false;

void restrict_dll_search() {
    // Windows 8 and later, Windows 7 with update KB2533623, Wine.
    const auto set_default_dll_directories = reinterpret_cast<set_default_dll_directories_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    system_folder_only =
        set_default_dll_directories != nullptr && set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Everywhere: not the current directory either.
    SetDllDirectoryW(L"");
}

HMODULE load_system_library(const char* name) {
    char path[MAX_PATH];
    const UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    if (folder == 0 || folder + 1 + lstrlenA(name) >= MAX_PATH) return nullptr;
    path[folder] = '\\';
    lstrcpyA(path + folder + 1, name);
    // Where the system cannot restrict the search, the library's own
    // imports are at least searched from its folder, not the program's.
    return LoadLibraryExA(path, nullptr, system_folder_only ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The delay-load helper's hook, asked before it loads a library by bare
// name; a null answer would let it do so.
FARPROC WINAPI load_from_system_folder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    return reinterpret_cast<FARPROC>(load_system_library(info->szDll));
}

}  // namespace

extern "C" {

PfnDliHook __pfnDliNotifyHook2 = load_from_system_folder;

// The entry point (the linker's --entry); the runtime's own follows.
int qv_restricted_start() {
    restrict_dll_search();
    for (const char* library : early_libraries) load_system_library(library);
    return WinMainCRTStartup();
}

}  // extern "C"
