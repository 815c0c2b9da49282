// Layer-internal: the kernel object behind a file handle from CreateFileA.
#pragma once

#include "platform/posix/internal/kernel_object.h"

namespace qv_posix {

// An open file descriptor and the access it was opened with; the
// descriptor is closed with the object (CloseHandle).
class file_object : public kernel_object {
public:
    file_object(int fd, bool can_read, bool can_write) : fd_(fd), can_read_(can_read), can_write_(can_write) {}
    file_object(int fd, bool can_read, bool can_write, unregistered_t)
        : kernel_object(unregistered), fd_(fd), can_read_(can_read), can_write_(can_write) {}
    ~file_object() override;

    int fd() const { return fd_; }
    bool can_read() const { return can_read_; }
    bool can_write() const { return can_write_; }

private:
    int fd_;
    bool can_read_;
    bool can_write_;
};

// The files opened in a fatal-signal filter (files.cpp): in static storage,
// outside the registry. open_signal_file returns null when all are taken;
// the handle functions find and close them without the registry's lock.
HANDLE open_signal_file(int fd, bool can_read, bool can_write);
kernel_object* find_signal_file(HANDLE handle);
bool close_signal_file(HANDLE handle);

}  // namespace qv_posix
