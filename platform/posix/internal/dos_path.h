// Layer-internal: the one mapping between DOS-style paths and POSIX paths.
// Drive Z: is the POSIX root, drive C: the folder named by QV_DRIVE_C; both
// backslash and slash separate. Paths the layer returns use backslashes.
#pragma once

#include <string>

namespace qv_posix {

// The characters Windows refuses in file and folder names: < > " | ? *
// and the control characters 1 to 31.
bool is_invalid_name_character(char c);

// The POSIX path for a DOS-style path. Returns false with the last error
// ERROR_PATH_NOT_FOUND for a drive that is not mapped, ERROR_INVALID_NAME
// for a path with a character Windows refuses in names.
bool to_posix_path(const std::string& dos_path, std::string& posix_path);
// The same into a buffer of size bytes, allocating nothing; a path that
// does not fit fails with ERROR_FILENAME_EXCED_RANGE.
bool to_posix_path(const char* dos_path, char* posix_path, size_t size);

// "Z:" followed by the absolute POSIX path with backslashes.
std::string to_dos_path(const std::string& posix_path);

}  // namespace qv_posix
