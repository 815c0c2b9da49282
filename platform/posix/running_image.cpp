// The file of the running program: the system's own name for it,
// /proc/self/exe, leads to the file the process runs from even when its
// name was taken away or given to another file since the start.

#include "platform/running_image.h"

#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/file_object.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

HANDLE open_running_image() {
    int fd;
    do {
        fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        qv_posix::set_last_error_from_errno();
        return INVALID_HANDLE_VALUE;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return (new qv_posix::file_object(fd, qv_posix::file_object::kind::file, GENERIC_READ, std::string()))->handle();
}

}  // namespace platform
