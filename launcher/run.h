// The run of one package, from its command line to the exit code.
#pragma once

#include "platform/win32.h"

namespace launcher {

// Runs the package: guard, working folder, archive, installer, clean-up.
// Returns the installer's exit code, or 1 when the launcher itself fails.
// Nothing escapes: an exception that no stage handles ends the run with
// the "Unhandled Exception" message and 1.
int run_package(HINSTANCE instance, const char* command_line);

}  // namespace launcher
