// Files in folders that other accounts can write (the temporary folder):
// a name there may have been made in advance, or be a link to a file
// elsewhere, so such a file is opened without following links and used
// only when it is a plain file of one name that belongs to us.
#pragma once

#include "platform/win32.h"

#include <string>

namespace tessel {

// CreateFileA without following a link at name; the handle is kept only
// when it is a regular file (no folder, no link or other reparse point)
// with one name, owned by the caller, the administrators or the system.
// Otherwise INVALID_HANDLE_VALUE with ERROR_ACCESS_DENIED; a failed open
// leaves the system's last error. A file it creates gets security.
HANDLE open_plain_file(const std::string& name, DWORD access, DWORD share, DWORD disposition,
                       SECURITY_ATTRIBUTES* security = nullptr);

}  // namespace tessel
