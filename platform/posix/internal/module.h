// Layer-internal: modules (HMODULE / HINSTANCE). A module is a file with a
// string table. The process's own module is WinMain's instance handle; its
// string table is the one compiled into the executable, registered during
// static initialisation.
#pragma once

#include "platform/posix/types.h"

#include <map>
#include <string>

struct qv_module {
    std::string path;                      // POSIX path of the module's file
    std::map<UINT, std::wstring> strings;  // its string table
};

namespace qv_posix {

// The running executable's module (never null).
HMODULE process_module();

// Adds entries to the process module's string table; called by the table
// that the build generates from the resource script.
struct string_entry {
    UINT id;
    const wchar_t* text;
};
void register_string_table(const string_entry* entries, size_t count);

// The module for a handle: null stands for the process's own module.
qv_module* module_from_handle(HMODULE module);

}  // namespace qv_posix
