// Layer-internal: the one translation of errno values to Win32 error codes.
#pragma once

#include "platform/posix/types.h"

namespace qv_posix {

DWORD win32_error_from_errno(int error_number);

// SetLastError(win32_error_from_errno(errno)); returns the code.
DWORD set_last_error_from_errno();

}  // namespace qv_posix
