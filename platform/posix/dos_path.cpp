// The mapping between DOS-style paths and POSIX paths (see
// internal/dos_path.h). Drive letters other than C: and Z: are not mapped.

#include "platform/posix/internal/dos_path.h"
#include "platform/win32.h"

#include <cctype>
#include <cstdlib>

namespace qv_posix {
namespace {

std::string with_slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

}  // namespace

bool to_posix_path(const std::string& dos_path, std::string& posix_path) {
    if (dos_path.size() >= 2 && dos_path[1] == ':' && std::isalpha(static_cast<unsigned char>(dos_path[0]))) {
        const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(dos_path[0])));
        std::string rest = with_slashes(dos_path.substr(2));
        if (rest.empty() || rest[0] != '/') rest.insert(rest.begin(), '/');  // drive-relative: from its root
        if (drive == 'Z') {
            posix_path = rest;
            return true;
        }
        const char* drive_c = std::getenv("QV_DRIVE_C");
        if (drive == 'C' && drive_c != nullptr && *drive_c != '\0') {
            std::string root = drive_c;
            while (root.size() > 1 && root.back() == '/') root.pop_back();
            posix_path = root == "/" ? rest : root + rest;
            return true;
        }
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    posix_path = with_slashes(dos_path);
    return true;
}

std::string to_dos_path(const std::string& posix_path) {
    std::string dos = "Z:";
    for (char c : posix_path) dos += c == '/' ? '\\' : c;
    return dos;
}

}  // namespace qv_posix
