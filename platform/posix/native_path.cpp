// platform::native_path on POSIX: the drive mapping of internal/dos_path.h
// for wide paths.

#include "platform/native_path.h"

#include "platform/posix/internal/dos_path.h"
#include "platform/win32.h"

#include <cerrno>
#include <system_error>
#include <vector>

namespace platform {

std::string native_path(const std::wstring& dos_path) {
    for (const wchar_t c : dos_path)
        if (c < 0x80 && qv_posix::is_invalid_name_character(static_cast<char>(c)))
            throw std::system_error(EINVAL, std::generic_category(), "native_path: a name Windows refuses");
    std::string narrow;
    if (!dos_path.empty()) {
        std::vector<char> buffer(dos_path.size() * 4);
        // A character without a form becomes "_": the default "?" is no
        // name character.
        const char* replacement = GetACP() == CP_UTF8 ? nullptr : "_";
        const int length = WideCharToMultiByte(CP_ACP, 0, dos_path.data(), static_cast<int>(dos_path.size()),
                                               buffer.data(), static_cast<int>(buffer.size()), replacement, nullptr);
        if (length <= 0) throw std::system_error(EILSEQ, std::generic_category(), "native_path");
        narrow.assign(buffer.data(), static_cast<size_t>(length));
    }
    std::string posix;
    if (!qv_posix::to_posix_path(narrow, posix))
        throw std::system_error(ENOENT, std::generic_category(), "native_path: drive not mapped: " + narrow);
    return posix;
}

}  // namespace platform
