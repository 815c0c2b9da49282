// Layer-internal: how a file's POSIX status reads as Win32 information, in
// one place for the handle, name and listing functions (files.cpp).
#pragma once

#include "platform/posix/types.h"

#include <sys/stat.h>

namespace qv_posix {

// 100-nanosecond intervals since 1601-01-01.
FILETIME file_time(const struct timespec& time);

// FILE_ATTRIBUTE_DIRECTORY for a folder; FILE_ATTRIBUTE_ARCHIVE for a file,
// with FILE_ATTRIBUTE_READONLY when its owner may not write it; for a
// symbolic link (lstat) FILE_ATTRIBUTE_REPARSE_POINT, with
// FILE_ATTRIBUTE_DIRECTORY when path, the link, leads to a folder.
DWORD file_attributes(const struct stat& status, const char* path);

}  // namespace qv_posix
