// Layer-internal: the kernel object behind a file handle from CreateFileA.
#pragma once

#include "platform/posix/internal/kernel_object.h"

#include <string>

namespace qv_posix {

// An open file descriptor and the access it was opened with; the
// descriptor is closed with the object (CloseHandle). A handle opened with
// FILE_FLAG_BACKUP_SEMANTICS may be a folder, one opened with
// FILE_FLAG_OPEN_REPARSE_POINT a symbolic link itself (an O_PATH
// descriptor, which can be neither read nor written).
class file_object : public kernel_object {
public:
    enum class kind { file, folder, link };

    file_object(int fd, bool can_read, bool can_write) : fd_(fd), can_read_(can_read), can_write_(can_write) {}
    file_object(int fd, bool can_read, bool can_write, unregistered_t)
        : kernel_object(unregistered), fd_(fd), can_read_(can_read), can_write_(can_write) {}
    // A handle of CreateFileA: its kind, its Win32 access rights and the
    // POSIX path it was opened by (for the disposition, which POSIX can
    // only carry out by name).
    file_object(int fd, kind what, DWORD access, std::string path);
    ~file_object() override;

    int fd() const { return fd_; }
    bool can_read() const { return can_read_; }
    bool can_write() const { return can_write_; }
    kind what() const { return kind_; }
    DWORD access() const { return access_; }
    const std::string& path() const { return path_; }

private:
    int fd_;
    bool can_read_;
    bool can_write_;
    kind kind_ = kind::file;
    DWORD access_ = 0;
    std::string path_;
};

// The files opened in a fatal-signal filter (files.cpp): in static storage,
// outside the registry. open_signal_file returns null when all are taken;
// the handle functions find and close them without the registry's lock.
HANDLE open_signal_file(int fd, bool can_read, bool can_write);
kernel_object* find_signal_file(HANDLE handle);
bool close_signal_file(HANDLE handle);

}  // namespace qv_posix
