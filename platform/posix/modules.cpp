// Modules: the process's own module, GetModuleFileNameA/W, and the DLL
// search: SetDefaultDllDirectories, SetDllDirectoryW, LoadLibraryExA.
// Differs from Windows: module handles are created only by this layer (the
// process module, its own libraries) or by tests; the path comes from
// /proc/self/exe. The layer never loads a library from a folder, so every
// restriction of the search already holds: SetDefaultDllDirectories and
// SetDllDirectoryW check their arguments as Windows does and change nothing;
// LoadLibraryExA is LoadLibraryA for the search flags (LOAD_LIBRARY_SEARCH_*)
// and fails with ERROR_NOT_SUPPORTED for any other flag or a file handle.

#include "platform/posix/internal/dos_path.h"
#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/module.h"
#include "platform/win32.h"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

namespace qv_posix {
namespace {

std::string executable_path() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return std::string();
        if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

std::mutex& module_lock() {
    static std::mutex lock;
    return lock;
}

qv_module& own_module() {
    static qv_module* module = new qv_module{executable_path(), {}};  // lives until exit
    return *module;
}

}  // namespace

// Copies text into a buffer of size characters as GetModuleFileName does:
// cut to size - 1 characters plus a terminating zero, and size returned with
// ERROR_INSUFFICIENT_BUFFER when the text does not fit.
template <class Char>
DWORD copy_module_name(const std::basic_string<Char>& text, Char* buffer, DWORD size) {
    if (size == 0 || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() >= size) {
        std::memcpy(buffer, text.data(), (size - 1) * sizeof(Char));
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(text.size());
}

HMODULE process_module() {
    std::lock_guard<std::mutex> hold(module_lock());
    return &own_module();
}

void register_string_table(const string_entry* entries, size_t count) {
    std::lock_guard<std::mutex> hold(module_lock());
    for (size_t i = 0; i < count; ++i) own_module().strings[entries[i].id] = entries[i].text;
}

qv_module* module_from_handle(HMODULE module) { return module != nullptr ? module : process_module(); }

}  // namespace qv_posix

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    const qv_module* found = qv_posix::module_from_handle(module);
    if (found->path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return qv_posix::copy_module_name(qv_posix::to_dos_path(found->path), buffer, size);
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    const qv_module* found = qv_posix::module_from_handle(module);
    if (found->path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    // Paths are bytes on POSIX; the wide name widens them from the ANSI code page.
    const std::string dos = qv_posix::to_dos_path(found->path);
    std::wstring wide(dos.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, dos.data(), static_cast<int>(dos.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    if (length <= 0) return 0;
    wide.resize(static_cast<size_t>(length));
    return qv_posix::copy_module_name(wide, buffer, size);
}

namespace {

const DWORD dll_search_flags = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                               LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

}  // namespace

BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
    if (flags == 0 || (flags & ~dll_search_flags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetDllDirectoryW(LPCWSTR) { return TRUE; }

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    if (file != nullptr || (flags & ~dll_search_flags) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return LoadLibraryA(name);
}
