// Files: CreateFileA, SetFilePointer, ReadFile, WriteFile, GetFileSize,
// SetEndOfFile, GetFileInformationByHandle, SetFileInformationByHandle,
// MoveFileExA, DeleteFileA, GetFileAttributesA.
// Differs from Windows:
// - share modes are accepted and not enforced: POSIX has no mandatory
//   sharing, so another open of the same file always succeeds. A folder
//   (FILE_FLAG_BACKUP_SEMANTICS) opened without FILE_SHARE_DELETE is to be
//   held in place, which POSIX cannot do by a handle: it is opened only
//   where no other account can rename or remove it, that is, when it and
//   every folder above it (and every link on its path) belong to root or
//   the caller and others may not write them, unless the sticky bit lets
//   them write without moving what is not theirs; else ERROR_ACCESS_DENIED;
// - FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link itself: its handle
//   reports FILE_ATTRIBUTE_REPARSE_POINT and can be neither read nor
//   written, and CREATE_ALWAYS on it is refused;
// - a folder handle can only be read from for its information; ReadFile
//   fails with ERROR_ACCESS_DENIED;
// - SetFileInformationByHandle takes the attributes of FileBasicInfo (its
//   times must be 0, unchanged) and FileDispositionInfo, whose deletion
//   happens at once rather than at the last close, and only while the
//   handle's name still leads to its file;
// - MoveFileExA has nothing to schedule for a restart
//   (MOVEFILE_DELAY_UNTIL_REBOOT: ERROR_NOT_SUPPORTED): an open file can be
//   removed at once; it renames within one file system only
//   (ERROR_NOT_SAME_DEVICE), and takes no flag but MOVEFILE_REPLACE_EXISTING;
// - a new file's access list becomes its mode as a folder's does
//   (internal/security.h, without execute permission); without one it gets
//   the umask's mode; template files, overlapped I/O and TRUNCATE_EXISTING
//   are refused (ERROR_INVALID_PARAMETER);
// - the read-only attribute is the absence of the owner's write bit; it is
//   honoured for files only (a folder cannot be made read-only) and checked
//   here, so root is refused too; other attributes (hidden, system ...) are
//   refused; a file always reports FILE_ATTRIBUTE_ARCHIVE, which Windows
//   sets on every new or changed file: the bit is not stored, so clearing
//   it has no effect (as under Wine);
// - SIGXFSZ is ignored from the first write on, so that a write past the
//   file size limit fails with an error instead of ending the process;
// - in a fatal-signal filter a file opened by CreateFileA is one of four
//   objects in static storage outside the handle registry, so that opening,
//   writing and closing it allocate and lock nothing (internal/fatal_signal.h).

#include "platform/posix/internal/dos_path.h"
#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/fatal_signal.h"
#include "platform/posix/internal/file_info.h"
#include "platform/posix/internal/file_object.h"
#include "platform/posix/internal/security.h"
#include "platform/win32.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace qv_posix {

file_object::file_object(int fd, kind what, DWORD access, std::string path)
    : fd_(fd),
      can_read_(what == kind::file && (access & GENERIC_READ) != 0),
      can_write_(what == kind::file && (access & GENERIC_WRITE) != 0),
      kind_(what),
      access_(access),
      path_(std::move(path)) {}

file_object::~file_object() { close(fd_); }

namespace {

// The files opened in a fatal-signal filter.
struct signal_file_slot {
    std::atomic<bool> taken{false};
    alignas(file_object) unsigned char storage[sizeof(file_object)];
    file_object* object() { return reinterpret_cast<file_object*>(storage); }
};
signal_file_slot signal_files[4];

signal_file_slot* slot_of(HANDLE handle) {
    for (signal_file_slot& slot : signal_files)
        if (slot.taken.load() && static_cast<kernel_object*>(slot.object()) == handle) return &slot;
    return nullptr;
}

}  // namespace

HANDLE open_signal_file(int fd, bool can_read, bool can_write) {
    for (signal_file_slot& slot : signal_files) {
        bool free = false;
        if (!slot.taken.compare_exchange_strong(free, true)) continue;
        return (new (slot.storage) file_object(fd, can_read, can_write, kernel_object::unregistered))->handle();
    }
    return nullptr;
}

kernel_object* find_signal_file(HANDLE handle) {
    signal_file_slot* slot = slot_of(handle);
    return slot != nullptr ? slot->object() : nullptr;
}

bool close_signal_file(HANDLE handle) {
    signal_file_slot* slot = slot_of(handle);
    if (slot == nullptr) return false;
    slot->object()->~file_object();
    slot->taken.store(false);
    return true;
}

namespace {

const DWORD supported_access =
    GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
const DWORD supported_share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD supported_flags = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
const DWORD supported_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;
const int64_t four_gib = int64_t(1) << 32;
// One write(2) of a whole large buffer makes the page cache take folios as
// large as 2 MiB, which on a virtual machine that hands free memory back to
// its host are slow to fill and make the time erratic; 64 KiB pieces get
// small folios, as cp's in-kernel copy does.
const DWORD write_piece = 64 * 1024;

bool valid_name(LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (*name == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

bool posix_path_of(LPCSTR name, std::string& path) { return valid_name(name) && to_posix_path(name, path); }

// Without allocating: CreateFileA runs in fatal-signal filters too.
bool posix_path_of(LPCSTR name, char* path, size_t size) { return valid_name(name) && to_posix_path(name, path, size); }

// The last error for a failed call on path: ENOENT means a missing file
// only when the folder that should hold it exists, as Windows tells the two
// apart.
void set_error_for(const char* path, int error_number) {
    if (error_number == ENOENT) {
        char parent[PATH_MAX];
        size_t length = std::min(std::strlen(path), sizeof parent - 1);
        std::memcpy(parent, path, length);
        while (length > 1 && parent[length - 1] == '/') --length;
        while (length > 0 && parent[length - 1] != '/') --length;
        if (length == 0) parent[length++] = '.';
        else if (length > 1) --length;  // the slash before the last name; the root keeps its own
        parent[length] = '\0';
        struct stat status;
        if (stat(parent, &status) != 0 || !S_ISDIR(status.st_mode)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return;
        }
    }
    errno = error_number;
    set_last_error_from_errno();
}

bool is_read_only(const struct stat& status) { return S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0; }

// The mode that gives a file the read-only attribute or takes it away.
mode_t mode_with_attributes(mode_t mode, DWORD attributes) {
    const mode_t changed = (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)
                                                                  : mode | S_IWUSR;
    return changed & 07777;
}

void ignore_file_size_signal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current;
        if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGXFSZ, SIG_IGN);
    });
}

}  // namespace

void prepare_file_writes() { ignore_file_size_signal(); }

FILETIME file_time(const struct timespec& time) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(time.tv_sec) + 11644473600ULL) * 10000000ULL +
                            static_cast<ULONGLONG>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD file_attributes(const struct stat& status, const char* path) {
    struct stat target;
    if (S_ISLNK(status.st_mode))
        return FILE_ATTRIBUTE_REPARSE_POINT |
               (stat(path, &target) == 0 && S_ISDIR(target.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0);
    if (S_ISDIR(status.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    return is_read_only(status) ? FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_ARCHIVE;
}

namespace {

// Opens path without creating it; EINTR is retried.
int open_retrying(const char* path, int flags, mode_t mode = 0) {
    for (;;) {
        const int fd = open(path, flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Whether no other account can move the folder at path away: every name
// on the way to it, links included, and every folder on its real path are
// root's or the caller's and closed to others.
bool held_in_place(const char* path) {
    std::string prefix;
    const std::string text = path;
    for (size_t at = 0; at != std::string::npos;) {
        const size_t next = text.find('/', at + 1);
        prefix = text.substr(0, next);
        struct stat status;
        if (!prefix.empty() && (lstat(prefix.c_str(), &status) != 0 || open_to_others(status))) return false;
        at = next;
    }
    char real[PATH_MAX];
    if (realpath(path, real) == nullptr) return false;
    for (std::string folder = real;; folder.erase(std::max<size_t>(folder.rfind('/'), 1))) {
        struct stat status;
        if (stat(folder.c_str(), &status) != 0 || open_to_others(status)) return false;
        if (folder == "/") return true;
    }
}

}  // namespace
}  // namespace qv_posix

using qv_posix::file_object;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE template_file) {
    using namespace qv_posix;
    if ((access & ~supported_access) != 0 || access == 0 || (share & ~supported_share) != 0 ||
        (flags & ~supported_flags) != 0 || template_file != nullptr || disposition < CREATE_NEW ||
        disposition > OPEN_ALWAYS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    char path[PATH_MAX];
    if (!posix_path_of(name, path, sizeof path)) return INVALID_HANDLE_VALUE;

    const bool can_read = (access & GENERIC_READ) != 0;
    const bool can_write = (access & GENERIC_WRITE) != 0;
    const bool folders = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    const int no_follow = (flags & FILE_FLAG_OPEN_REPARSE_POINT) ? O_NOFOLLOW : 0;
    const int mode_flags = (can_read && can_write ? O_RDWR : can_write ? O_WRONLY : O_RDONLY) | no_follow;
    // An access list gives a new file its mode as it gives a folder one.
    mode_t create_mode = 0666;
    if (!folder_mode(security, create_mode)) return INVALID_HANDLE_VALUE;
    create_mode &= (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    const bool opens_existing = disposition == OPEN_EXISTING || disposition == OPEN_ALWAYS;

    int fd = -1;
    bool existed = false;
    file_object::kind kind = file_object::kind::file;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
            fd = open_retrying(path, mode_flags | O_CREAT | O_EXCL, create_mode);
            if (fd >= 0 || errno != EEXIST || disposition == CREATE_NEW) break;
        }
        fd = open_retrying(path, mode_flags);
        // A folder cannot be opened for writing; its handle is for its information.
        if (fd < 0 && errno == EISDIR && folders && opens_existing)
            fd = open_retrying(path, O_RDONLY | O_DIRECTORY | no_follow);
        // The link itself.
        if (fd < 0 && errno == ELOOP && no_follow != 0 && opens_existing) {
            fd = open_retrying(path, O_PATH | O_NOFOLLOW);
            kind = file_object::kind::link;
        }
        existed = fd >= 0;
        // Removed between the two opens: create it after all.
        if (fd < 0 && errno == ENOENT && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) continue;
        break;
    }
    if (fd < 0) {
        if (errno == EEXIST) SetLastError(ERROR_FILE_EXISTS);  // CREATE_NEW on an existing file
        else if (errno == ELOOP && no_follow != 0) SetLastError(ERROR_ACCESS_DENIED);  // a link to replace
        else set_error_for(path, errno);
        return INVALID_HANDLE_VALUE;
    }

    struct stat status;
    if (fstat(fd, &status) != 0) {
        set_last_error_from_errno();
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(status.st_mode)) kind = file_object::kind::folder;
    bool refused = (kind == file_object::kind::folder && !folders) || (existed && can_write && is_read_only(status));
    // A folder that nobody may rename or remove: see the opening comment.
    if (!refused && kind == file_object::kind::folder && (share & FILE_SHARE_DELETE) == 0)
        refused = !held_in_place(path);
    if (refused) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (kind == file_object::kind::file && existed &&
        disposition == CREATE_ALWAYS && status.st_size != 0 &&
        ftruncate(fd, 0) != 0) {
        set_last_error_from_errno();
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    if (flags & FILE_FLAG_SEQUENTIAL_SCAN) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    const HANDLE file = in_fatal_signal() ? open_signal_file(fd, can_read, can_write)
                                          : (new file_object(fd, kind, access, path))->handle();
    if (file == nullptr) {
        close(fd);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return file;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distance_high, DWORD method) {
    file_object* file = qv_posix::handle_cast<file_object>(handle);
    if (file == nullptr) return INVALID_SET_FILE_POINTER;
    int64_t base = 0;
    if (method == FILE_CURRENT) {
        base = lseek(file->fd(), 0, SEEK_CUR);
    } else if (method == FILE_END) {
        struct stat status;
        base = fstat(file->fd(), &status) == 0 ? int64_t(status.st_size) : -1;
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (base < 0) {
        qv_posix::set_last_error_from_errno();
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the distance is a signed 32-bit value.
    const int64_t offset = distance_high == nullptr
                               ? int64_t(distance)
                               : int64_t(uint64_t(uint32_t(*distance_high)) << 32 | uint32_t(distance));
    const int64_t target = base + offset;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_high == nullptr && target >= qv_posix::four_gib) {
        SetLastError(ERROR_INVALID_PARAMETER);  // the result would not fit the return value
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->fd(), off_t(target), SEEK_SET) < 0) {
        qv_posix::set_last_error_from_errno();
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_high != nullptr) *distance_high = LONG(uint64_t(target) >> 32);
    const DWORD low = DWORD(uint64_t(target) & 0xFFFFFFFFu);
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);  // tells success from failure
    return low;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD to_read, LPDWORD read_count, LPOVERLAPPED overlapped) {
    if (read_count != nullptr) *read_count = 0;
    file_object* file = qv_posix::handle_cast<file_object>(handle);
    if (file == nullptr) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && to_read != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!file->can_read()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    char* bytes = static_cast<char*>(buffer);
    DWORD done = 0;
    while (done < to_read) {
        const ssize_t count = read(file->fd(), bytes + done, to_read - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            qv_posix::set_last_error_from_errno();
            if (read_count != nullptr) *read_count = done;
            return FALSE;
        }
        if (count == 0) break;  // end of file: success with fewer bytes
        done += DWORD(count);
    }
    if (read_count != nullptr) *read_count = done;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD to_write, LPDWORD written, LPOVERLAPPED overlapped) {
    if (written != nullptr) *written = 0;
    file_object* file = qv_posix::handle_cast<file_object>(handle);
    if (file == nullptr) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && to_write != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!file->can_write()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    qv_posix::ignore_file_size_signal();
    const char* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < to_write) {
        const ssize_t count = write(file->fd(), bytes + done, std::min(to_write - done, qv_posix::write_piece));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            if (count == 0) errno = ENOSPC;
            qv_posix::set_last_error_from_errno();
            if (written != nullptr) *written = done;
            return FALSE;
        }
        done += DWORD(count);
    }
    if (written != nullptr) *written = done;
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD size_high) {
    file_object* file = qv_posix::handle_cast<file_object>(handle);
    if (file == nullptr) return INVALID_FILE_SIZE;
    struct stat status;
    if (fstat(file->fd(), &status) != 0) {
        qv_posix::set_last_error_from_errno();
        return INVALID_FILE_SIZE;
    }
    const uint64_t size = uint64_t(status.st_size);
    if (size_high != nullptr) *size_high = DWORD(size >> 32);
    const DWORD low = DWORD(size & 0xFFFFFFFFu);
    if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI SetEndOfFile(HANDLE handle) {
    file_object* file = qv_posix::handle_cast<file_object>(handle);
    if (file == nullptr) return FALSE;
    if (!file->can_write()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const off_t position = lseek(file->fd(), 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->fd(), position) != 0) {
        qv_posix::set_last_error_from_errno();
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
    file_object* file = qv_posix::handle_cast<file_object>(handle);
    if (file == nullptr) return FALSE;
    if (information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat status;
    if (fstat(file->fd(), &status) != 0) {
        qv_posix::set_last_error_from_errno();
        return FALSE;
    }
    const uint64_t size = S_ISREG(status.st_mode) ? uint64_t(status.st_size) : 0;
    const uint64_t index = uint64_t(status.st_ino);
    information->dwFileAttributes = qv_posix::file_attributes(status, file->path().c_str());
    information->ftCreationTime = qv_posix::file_time(status.st_ctim);
    information->ftLastAccessTime = qv_posix::file_time(status.st_atim);
    information->ftLastWriteTime = qv_posix::file_time(status.st_mtim);
    information->dwVolumeSerialNumber = DWORD(status.st_dev);
    information->nFileSizeHigh = DWORD(size >> 32);
    information->nFileSizeLow = DWORD(size);
    information->nNumberOfLinks = DWORD(status.st_nlink);
    information->nFileIndexHigh = DWORD(index >> 32);
    information->nFileIndexLow = DWORD(index);
    return TRUE;
}

namespace qv_posix {
namespace {

BOOL set_basic_information(file_object& file, const FILE_BASIC_INFO& basic) {
    if ((file.access() & (GENERIC_WRITE | FILE_WRITE_ATTRIBUTES)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (basic.CreationTime.QuadPart != 0 || basic.LastAccessTime.QuadPart != 0 || basic.LastWriteTime.QuadPart != 0 ||
        basic.ChangeTime.QuadPart != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);  // see the opening comment
        return FALSE;
    }
    if ((basic.FileAttributes & ~supported_attributes) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (basic.FileAttributes == 0) return TRUE;  // left as they are
    if (file.what() != file_object::kind::file) {
        // A folder cannot be made read-only (see the opening comment); a link's own mode does not exist here.
        const bool folder = file.what() == file_object::kind::folder;
        if (folder && (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return TRUE;
        SetLastError(folder ? ERROR_INVALID_PARAMETER : ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    struct stat status;
    if (fstat(file.fd(), &status) != 0) {
        set_last_error_from_errno();
        return FALSE;
    }
    const mode_t mode = mode_with_attributes(status.st_mode, basic.FileAttributes);
    if (mode != (status.st_mode & 07777) && fchmod(file.fd(), mode) != 0) {
        set_last_error_from_errno();
        return FALSE;
    }
    return TRUE;
}

// Removes the file, folder or link behind the handle, by the name it was
// opened by, as long as that name still leads to it.
BOOL delete_by_handle(file_object& file) {
    if ((file.access() & DELETE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    struct stat opened, named;
    if (fstat(file.fd(), &opened) != 0 || lstat(file.path().c_str(), &named) != 0 ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (file.what() == file_object::kind::folder) {
        struct stat current;
        if (stat(".", &current) == 0 && current.st_dev == opened.st_dev && current.st_ino == opened.st_ino) {
            SetLastError(ERROR_SHARING_VIOLATION);  // as RemoveDirectoryA
            return FALSE;
        }
        if (rmdir(file.path().c_str()) != 0) {
            SetLastError(errno == ENOTEMPTY || errno == EEXIST ? DWORD(ERROR_DIR_NOT_EMPTY) : win32_error_from_errno(errno));
            return FALSE;
        }
        return TRUE;
    }
    if (is_read_only(opened)) {
        SetLastError(ERROR_ACCESS_DENIED);  // as DeleteFileA
        return FALSE;
    }
    if (unlink(file.path().c_str()) != 0) {
        set_last_error_from_errno();
        return FALSE;
    }
    return TRUE;
}

}  // namespace
}  // namespace qv_posix

BOOL WINAPI SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class, LPVOID information,
                                       DWORD size) {
    file_object* file = qv_posix::handle_cast<file_object>(handle);
    if (file == nullptr) return FALSE;
    if (information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (information_class) {
        case FileBasicInfo:
            if (size < sizeof(FILE_BASIC_INFO)) break;
            return qv_posix::set_basic_information(*file, *static_cast<const FILE_BASIC_INFO*>(information));
        case FileDispositionInfo:
            if (size < sizeof(FILE_DISPOSITION_INFO)) break;
            return !static_cast<const FILE_DISPOSITION_INFO*>(information)->DeleteFile ||
                   qv_posix::delete_by_handle(*file);
        default:
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
    }
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
}

BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
    using namespace qv_posix;
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        SetLastError(ERROR_NOT_SUPPORTED);  // see the opening comment
        return FALSE;
    }
    if ((flags & ~DWORD(MOVEFILE_REPLACE_EXISTING)) != 0 || target == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string from, to;
    if (!posix_path_of(existing, from) || !posix_path_of(target, to)) return FALSE;
    struct stat source_status;
    if (lstat(from.c_str(), &source_status) != 0) {
        set_error_for(from.c_str(), errno);
        return FALSE;
    }
    struct stat target_status;
    if (lstat(to.c_str(), &target_status) == 0) {
        const bool same = target_status.st_dev == source_status.st_dev && target_status.st_ino == source_status.st_ino;
        if (!same) {
            if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
                SetLastError(ERROR_ALREADY_EXISTS);
                return FALSE;
            }
            if (S_ISDIR(target_status.st_mode) || S_ISDIR(source_status.st_mode) || is_read_only(target_status)) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
        }
    }
    if (rename(from.c_str(), to.c_str()) != 0) {
        if (errno == EXDEV) SetLastError(ERROR_NOT_SAME_DEVICE);
        else set_error_for(to.c_str(), errno);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
    using namespace qv_posix;
    std::string path;
    if (!posix_path_of(name, path)) return FALSE;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        set_error_for(path.c_str(), errno);
        return FALSE;
    }
    // Checked here rather than left to unlink, which lets root through.
    if (S_ISDIR(status.st_mode) || is_read_only(status)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path.c_str()) != 0) {
        set_error_for(path.c_str(), errno);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR name) {
    using namespace qv_posix;
    std::string path;
    if (!posix_path_of(name, path)) return INVALID_FILE_ATTRIBUTES;
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        set_error_for(path.c_str(), errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    return file_attributes(status, path.c_str());
}
