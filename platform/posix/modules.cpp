// Modules: the process's own module, GetModuleFileNameA/W, and
// LoadLibraryExA / GetProcAddress / FreeLibrary for the layer's own debug
// help library (minidump.cpp).
// Differs from Windows: module handles are created only by this layer (the
// process module, its debug help library) or by tests; the path comes from
// /proc/self/exe. LoadLibraryExA knows "dbghelp.dll" only, and fails for it
// as if missing while QV_NO_DBGHELP is set to anything but "" or "0". The
// layer never loads a library from a folder, so the search is the system
// folder's already: the flags may be 0 or LOAD_LIBRARY_SEARCH_SYSTEM32; any
// other flag or a file handle fails with ERROR_NOT_SUPPORTED.

#include "platform/posix/internal/dos_path.h"
#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/module.h"
#include "platform/win32.h"

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
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

// The debug help library: one module, counted like a loaded library.
qv_module& debug_help_module() {
    static qv_module* module = new qv_module{std::string(), {}};  // lives until exit
    return *module;
}
std::atomic<int> debug_help_references(0);

bool names_debug_help(const char* name) {
    const char* base = name;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    return strcasecmp(base, "dbghelp.dll") == 0 || strcasecmp(base, "dbghelp") == 0;
}

bool debug_help_disabled() {
    const char* value = std::getenv("QV_NO_DBGHELP");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    if (file != nullptr || (flags & ~static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32)) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!names_debug_help(name) || debug_help_disabled()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++debug_help_references;
    SetLastError(ERROR_SUCCESS);
    return &debug_help_module();
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (module == &debug_help_module() && debug_help_references.load() == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Ordinals (values below 0x10000) name nothing here.
    if (module != &debug_help_module() || reinterpret_cast<uintptr_t>(name) < 0x10000 ||
        std::strcmp(name, "MiniDumpWriteDump") != 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(MiniDumpWriteDump));
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (module != &debug_help_module()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int references = debug_help_references.load();
    do {
        if (references == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    } while (!debug_help_references.compare_exchange_weak(references, references - 1));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
