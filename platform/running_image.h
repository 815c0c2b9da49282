// The file of the running program, held for reading.
#pragma once

#include "platform/win32.h"

namespace platform {

// Opens the file this process runs from for reading, such that nobody may
// write, rename or delete it while the handle is open: on Windows the
// handle shares reading only (a rename needs delete access, which it
// refuses); on POSIX the system refuses writes to a running program, and
// the file itself is opened, whatever has become of its name. When the name
// the program was started by leads to another file by now, that file is
// not read: INVALID_HANDLE_VALUE with ERROR_FILE_INVALID. Other failures
// leave the system's last error.
HANDLE open_running_image();

}  // namespace platform
