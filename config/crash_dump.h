// The crash dump writer: a process that initialises its environment without
// a module handle leaves a minidump in the per-user data folder's "Dumps"
// when an exception escapes every handler.
#pragma once

#include "platform/win32.h"

#include <string>

namespace config {

// Creates the dump folder (with missing parents) and installs the filter
// for the dump file named after the module; registers remove_dump_filter
// with atexit once. Filesystem and conversion failures propagate.
void install_crash_dump_writer();

// Loads the debug help library and installs dump_filter, the dump file being
// prefix + "." + the current time in seconds + ".dmp". A second call
// changes nothing. True when the dump function is available.
bool install_dump_filter(const std::string& prefix);

// The top-level exception filter: writes the dump, then answers what the
// previous filter answers (EXCEPTION_CONTINUE_SEARCH without one).
LONG WINAPI dump_filter(EXCEPTION_POINTERS* exception_pointers);

// Exit routine: puts the previous filter back and unloads the library.
void remove_dump_filter();

}  // namespace config
