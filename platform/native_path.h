// The file-system name of one of the system's DOS-style paths, for the
// libraries that take native paths (Boost.Filesystem). On Windows that is
// the path itself; on POSIX the layer maps the drive and the separators.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
inline std::wstring native_path(const std::wstring& dos_path) { return dos_path; }
#else
// The POSIX path for a DOS path. Narrowed to the ANSI code page as the
// layer's narrow file functions expect, unmappable characters replaced by
// "_"; throws std::system_error, EINVAL for a character Windows refuses in
// names, ENOENT for a drive that is not mapped.
std::string native_path(const std::wstring& dos_path);
#endif

}  // namespace platform
