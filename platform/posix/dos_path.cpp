// The mapping between DOS-style paths and POSIX paths (see
// internal/dos_path.h). Drive letters other than C: and Z: are not mapped;
// a path with a character Windows refuses in names is refused here, so
// every function that takes a name refuses it as Windows does.

#include "platform/posix/internal/dos_path.h"
#include "platform/win32.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace qv_posix {
namespace {

// Appends text with backslashes made slashes; false when it does not fit.
bool append_with_slashes(const char* text, size_t length, char* out, size_t size, size_t& used) {
    if (length >= size - used) return false;
    for (size_t i = 0; i < length; ++i) out[used++] = text[i] == '\\' ? '/' : text[i];
    out[used] = '\0';
    return true;
}

}  // namespace

bool is_invalid_name_character(char c) {
    const unsigned char b = static_cast<unsigned char>(c);
    return (b >= 1 && b <= 31) || std::strchr("<>\"|?*", c) != nullptr;
}

bool to_posix_path(const char* dos_path, char* posix_path, size_t size) {
    size_t used = 0;
    if (size == 0) return false;
    posix_path[0] = '\0';
    const size_t length = std::strlen(dos_path);
    const bool drive = length >= 2 && dos_path[1] == ':';
    for (size_t i = drive ? 2 : 0; i < length; ++i) {
        if (is_invalid_name_character(dos_path[i])) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
    }
    bool fits = true;
    if (length >= 2 && dos_path[1] == ':' && std::isalpha(static_cast<unsigned char>(dos_path[0]))) {
        const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(dos_path[0])));
        const char* drive_c = std::getenv("QV_DRIVE_C");
        if (drive == 'C' && drive_c != nullptr && *drive_c != '\0') {
            size_t root = std::strlen(drive_c);
            while (root > 1 && drive_c[root - 1] == '/') --root;
            if (!(root == 1 && drive_c[0] == '/')) fits = append_with_slashes(drive_c, root, posix_path, size, used);
        } else if (drive != 'Z') {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        // Drive-relative: from its root.
        const char* rest = dos_path + 2;
        if (fits && *rest != '\\' && *rest != '/') fits = append_with_slashes("/", 1, posix_path, size, used);
        if (fits) fits = append_with_slashes(rest, length - 2, posix_path, size, used);
    } else {
        fits = append_with_slashes(dos_path, length, posix_path, size, used);
    }
    if (!fits) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return fits;
}

bool to_posix_path(const std::string& dos_path, std::string& posix_path) {
    const char* drive_c = std::getenv("QV_DRIVE_C");
    std::string buffer(dos_path.size() + (drive_c != nullptr ? std::strlen(drive_c) : 0) + 2, '\0');
    if (!to_posix_path(dos_path.c_str(), &buffer[0], buffer.size())) return false;
    buffer.resize(std::strlen(buffer.c_str()));
    posix_path = buffer;
    return true;
}

std::string to_dos_path(const std::string& posix_path) {
    std::string dos = "Z:";
    for (char c : posix_path) dos += c == '/' ? '\\' : c;
    return dos;
}

}  // namespace qv_posix
