// Named mutexes (CreateMutexA, OpenMutexA, ReleaseMutex and their waits).
//
// A named mutex is machine-wide, for all users: each name has two files in
// the folder named by QV_MUTEX_DIR (default /tmp/.qv-mutex, made with mode
// 1777), "<name>.own" and "<name>.ref". The holding process keeps an
// exclusive flock on ".own"; every process with a handle keeps a shared
// flock on ".ref", so a name exists while any process has a handle to it.
// ".own" carries a marker byte, set while held and cleared by the release,
// so the next holder sees that the previous one died holding it
// (WAIT_ABANDONED). Within a process, all handles of one name share one
// entry that records the owning thread and its recursion count.
//
// Differs from Windows:
// - "Global\" and "Local\" both name the one machine-wide namespace; any
//   other backslash in a name fails with ERROR_PATH_NOT_FOUND. Names are
//   case-sensitive; characters outside [A-Za-z0-9_-.] are escaped in the
//   file names, long names end in a hash.
// - Timed waits poll; INFINITE blocks.
// - A thread that ends while holding a mutex leaves it abandoned for the
//   other threads of its process; the process keeps the machine-wide lock
//   until the mutex is released there or its last handle closes.
// - Closing a process's last handle of a name while one of its threads
//   holds the mutex releases it (Windows keeps it held until the thread
//   ends, unless no handle is left anywhere).
// - Security: only a null DACL (everyone) or no descriptor is accepted;
//   the files are readable and writable by every user.
// - A name another account could redirect fails with ERROR_ACCESS_DENIED:
//   the folder must be a real folder (not a link) of root or of this user,
//   sticky when others may write it; a lock file must be a regular file
//   with one link, never opened through a link. Only files this process
//   created are given mode 0666.
// - A lock file made by an account other than root or this user is used for
//   its lock only, with no marker read or written: abandonment is not
//   reported between that account and this user.
// - Handle rights: OpenMutexA grants what was asked for; a handle without
//   SYNCHRONIZE cannot be waited on (ERROR_ACCESS_DENIED, WAIT_FAILED). As
//   on Windows, releasing asks for no right: only the owner may release.

#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/kernel_object.h"
#include "platform/posix/internal/security.h"
#include "platform/win32.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace qv_posix {
namespace {

const size_t max_file_stem = 180;

// One mutex as this process sees it: shared by all its handles.
struct mutex_entry {
    std::string name;  // key in the table; empty for an unnamed mutex
    int own_fd = -1;   // "<name>.own": exclusive flock while this process holds it
    int ref_fd = -1;   // "<name>.ref": shared flock while this process has a handle
    // ".own" is root's or this user's: its marker is read and written.
    bool marked = false;
    size_t handles = 0;
    std::mutex lock;
    std::condition_variable changed;
    DWORD owner = 0;  // owning thread, 0 when none in this process
    size_t count = 0;
    bool claiming = false;    // a thread is taking the machine-wide lock
    bool abandoned = false;   // its owning thread ended holding it
};

std::mutex& table_lock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, std::shared_ptr<mutex_entry>>& table() {
    static auto* entries = new std::map<std::string, std::shared_ptr<mutex_entry>>();  // outlives exit
    return *entries;
}

// Mutexes held by the calling thread, released as abandoned when it ends.
struct held_by_thread {
    std::set<std::shared_ptr<mutex_entry>> entries;
    ~held_by_thread();
};
thread_local held_by_thread thread_holdings;

void close_entry_files(mutex_entry& entry) {
    if (entry.own_fd >= 0) close(entry.own_fd);
    if (entry.ref_fd >= 0) close(entry.ref_fd);
    entry.own_fd = entry.ref_fd = -1;
}

void write_marker(const mutex_entry& entry, char marker) {
    if (entry.own_fd < 0 || !entry.marked) return;
    ssize_t ignored = pwrite(entry.own_fd, &marker, 1, 0);
    (void)ignored;
}

// Clears the machine-wide hold of an entry whose count dropped to zero.
void give_up_locked(mutex_entry& entry) {
    write_marker(entry, '0');
    if (entry.own_fd >= 0) flock(entry.own_fd, LOCK_UN);
    entry.owner = 0;
    entry.count = 0;
    entry.abandoned = false;
    entry.changed.notify_all();
}

held_by_thread::~held_by_thread() {
    for (const std::shared_ptr<mutex_entry>& entry : entries) {
        std::lock_guard<std::mutex> hold(entry->lock);
        entry->owner = 0;
        entry->count = 0;
        entry->abandoned = true;  // the process keeps the flock for the next thread
        entry->changed.notify_all();
    }
}

std::string mutex_folder() {
    const char* variable = std::getenv("QV_MUTEX_DIR");
    return variable != nullptr && *variable != '\0' ? variable : "/tmp/.qv-mutex";
}

// The folder, opened to hold it by handle; -1 with the last error set. One
// that another account could swap names in is refused: it must be a real
// folder of root or ours, sticky when others may write it.
int open_mutex_folder() {
    const std::string folder = mutex_folder();
    const bool made = mkdir(folder.c_str(), 0700) == 0;
    if (!made && errno != EEXIST) {
        set_last_error_from_errno();
        return -1;
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (fd < 0) {
        set_last_error_from_errno();
        if (lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    if (fstat(fd, &info) != 0 || open_to_others(info)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    if (made) fchmod(fd, 01777);  // every user may add names
    return fd;
}

// The name without its namespace; false (last error set) when the name is
// not one the system accepts.
bool object_name(const std::string& name, std::string& object) {
    if (name.size() > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    object = name;
    for (const char* prefix : {"Global\\", "Local\\"}) {
        if (object.compare(0, std::strlen(prefix), prefix) == 0) {
            object.erase(0, std::strlen(prefix));
            break;
        }
    }
    if (object.find('\\') != std::string::npos) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

std::string file_stem(const std::string& object) {
    static const char hex[] = "0123456789abcdef";
    std::string stem;
    for (unsigned char c : object) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || (c == '.' && !stem.empty());
        if (plain) {
            stem += static_cast<char>(c);
        } else {
            stem += '%';
            stem += hex[c >> 4];
            stem += hex[c & 15];
        }
    }
    if (stem.empty()) stem = "%";
    if (stem.size() > max_file_stem) {
        uint64_t hash = 1469598103934665603ULL;  // FNV-1a of the whole name keeps long names apart
        for (unsigned char c : object) hash = (hash ^ c) * 1099511628211ULL;
        stem.resize(max_file_stem - 17);
        stem += '~';
        for (int shift = 60; shift >= 0; shift -= 4) stem += hex[(hash >> shift) & 15];
    }
    return stem;
}

// A lock file in the folder, created here or opened as it was; -1 with the
// last error set. One that is not a plain file with this one name is
// refused. ours tells whether the marker may be written into it.
int open_lock_file(int folder, const std::string& name, bool& ours) {
    // Never through a link; O_NONBLOCK keeps a planted FIFO from blocking the open.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const auto open_as = [&](int mode) {
        int fd;
        do {
            fd = openat(folder, name.c_str(), mode | flags, 0666);
        } while (fd < 0 && errno == EINTR);
        return fd;
    };
    int fd = open_as(O_RDWR | O_CREAT | O_EXCL);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST) {
        fd = open_as(O_RDWR);
        if (fd < 0 && errno == EACCES) fd = open_as(O_RDONLY);  // the lock works read-only too
    }
    if (fd < 0) {
        if (errno == ELOOP)
            SetLastError(ERROR_ACCESS_DENIED);  // a link
        else
            set_last_error_from_errno();
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    if (created) fchmod(fd, 0666);  // whatever the umask: every user shares the name
    ours = !open_to_others(info);
    return fd;
}

// The files of a new entry, opened in the folder. existed tells whether the
// mutex existed anywhere before. Null with the last error set on failure;
// with must_exist a missing mutex fails with ERROR_FILE_NOT_FOUND.
std::shared_ptr<mutex_entry> open_entry_files(int folder, const std::string& object, bool must_exist, bool& existed) {
    const std::string stem = file_stem(object);
    auto entry = std::make_shared<mutex_entry>();
    entry->name = object;
    bool ignored = false;
    entry->ref_fd = open_lock_file(folder, stem + ".ref", ignored);
    if (entry->ref_fd < 0) return nullptr;
    // Nobody else has a handle when the exclusive lock is free: the mutex
    // is new (an earlier one ceased to exist with its last handle).
    existed = flock(entry->ref_fd, LOCK_EX | LOCK_NB) != 0;
    if (!existed && must_exist) {
        close_entry_files(*entry);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    entry->own_fd = open_lock_file(folder, stem + ".own", entry->marked);
    if (entry->own_fd < 0) {
        close_entry_files(*entry);
        return nullptr;
    }
    // A fresh mutex is not held, whatever an earlier holder left in the
    // marker; it is cleared only under the lock, so that a process that
    // opened the name meanwhile and took it keeps its marker.
    if (!existed && flock(entry->own_fd, LOCK_EX | LOCK_NB) == 0) {
        write_marker(*entry, '0');
        flock(entry->own_fd, LOCK_UN);
    }
    if (flock(entry->ref_fd, LOCK_SH) != 0) {
        set_last_error_from_errno();
        close_entry_files(*entry);
        return nullptr;
    }
    return entry;
}

// The entry for a name, opened for this process when it has none yet.
std::shared_ptr<mutex_entry> open_entry(const std::string& object, bool must_exist, bool& existed) {
    std::lock_guard<std::mutex> hold(table_lock());
    auto found = table().find(object);
    if (found != table().end()) {
        existed = true;
        ++found->second->handles;
        return found->second;
    }
    const int folder = open_mutex_folder();
    if (folder < 0) return nullptr;
    std::shared_ptr<mutex_entry> entry = open_entry_files(folder, object, must_exist, existed);
    close(folder);
    if (entry == nullptr) return nullptr;
    entry->handles = 1;
    table()[object] = entry;
    return entry;
}

class mutex_object : public kernel_object {
public:
    mutex_object(std::shared_ptr<mutex_entry> entry, DWORD access) : entry_(std::move(entry)), access_(access) {}

    ~mutex_object() override {
        std::unique_lock<std::mutex> hold_table(table_lock());
        std::lock_guard<std::mutex> hold(entry_->lock);
        if (--entry_->handles != 0) return;
        if (entry_->owner == GetCurrentThreadId()) thread_holdings.entries.erase(entry_);
        if (entry_->owner != 0 || entry_->abandoned) give_up_locked(*entry_);
        if (!entry_->name.empty()) table().erase(entry_->name);
        close_entry_files(*entry_);
    }

    DWORD wait(DWORD milliseconds) override {
        if ((access_ & SYNCHRONIZE) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return WAIT_FAILED;
        }
        const DWORD self = GetCurrentThreadId();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        const auto time_left = [&] { return std::chrono::steady_clock::now() < deadline; };
        mutex_entry& entry = *entry_;
        std::unique_lock<std::mutex> hold(entry.lock);
        if (entry.owner == self) {
            ++entry.count;
            return WAIT_OBJECT_0;
        }
        // First among the threads of this process.
        while (entry.owner != 0 || entry.claiming) {
            if (milliseconds == INFINITE) {
                entry.changed.wait(hold);
            } else if (entry.changed.wait_until(hold, deadline) == std::cv_status::timeout &&
                       (entry.owner != 0 || entry.claiming)) {
                return WAIT_TIMEOUT;
            }
        }
        if (entry.abandoned || entry.own_fd < 0) {
            // The process holds it already (an ended thread left it) or it is unnamed.
            return take(entry, self, entry.abandoned);
        }
        // Then among processes, without holding the entry's lock.
        entry.claiming = true;
        hold.unlock();
        int error = 0;
        const auto try_lock = [&](int mode) {
            int result;
            do {
                result = flock(entry.own_fd, mode);
            } while (result != 0 && errno == EINTR);
            error = result == 0 ? 0 : errno;
            return result == 0;
        };
        bool locked = try_lock(LOCK_EX | LOCK_NB);
        if (!locked && error == EWOULDBLOCK) {
            if (milliseconds == INFINITE) {
                locked = try_lock(LOCK_EX);
            } else {
                auto pause = std::chrono::microseconds(200);
                while (!locked && error == EWOULDBLOCK && time_left()) {
                    std::this_thread::sleep_for(pause);
                    pause = std::min(pause * 2, std::chrono::microseconds(5000));
                    locked = try_lock(LOCK_EX | LOCK_NB);
                }
            }
        }
        hold.lock();
        entry.claiming = false;
        entry.changed.notify_all();
        if (!locked) {
            if (error == EWOULDBLOCK) return WAIT_TIMEOUT;
            SetLastError(win32_error_from_errno(error));
            return WAIT_FAILED;
        }
        char marker = '0';
        const bool abandoned = entry.marked && pread(entry.own_fd, &marker, 1, 0) == 1 && marker == '1';
        write_marker(entry, '1');
        return take(entry, self, abandoned);
    }

    BOOL release() {
        std::lock_guard<std::mutex> hold(entry_->lock);
        if (entry_->owner != GetCurrentThreadId()) {
            SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--entry_->count == 0) {
            thread_holdings.entries.erase(entry_);
            give_up_locked(*entry_);
        }
        return TRUE;
    }

private:
    DWORD take(mutex_entry& entry, DWORD self, bool abandoned) {
        entry.owner = self;
        entry.count = 1;
        entry.abandoned = false;
        thread_holdings.entries.insert(entry_);
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    std::shared_ptr<mutex_entry> entry_;
    DWORD access_;
};

bool security_accepted(LPSECURITY_ATTRIBUTES security) {
    if (security == nullptr || security->lpSecurityDescriptor == nullptr) return true;
    const auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(security->lpSecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return false;
    }
    if (descriptor->Dacl != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return true;
}

}  // namespace
}  // namespace qv_posix

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initial_owner, LPCSTR name) {
    if (!qv_posix::security_accepted(security)) return nullptr;
    std::shared_ptr<qv_posix::mutex_entry> entry;
    bool existed = false;
    if (name == nullptr || *name == '\0') {
        entry = std::make_shared<qv_posix::mutex_entry>();
        entry->handles = 1;
    } else {
        std::string object;
        if (!qv_posix::object_name(name, object)) return nullptr;
        entry = qv_posix::open_entry(object, false, existed);
        if (entry == nullptr) return nullptr;
    }
    auto* mutex = new qv_posix::mutex_object(entry, MUTEX_ALL_ACCESS);
    // An existing mutex is opened as it is: the initial owner is ignored.
    if (initial_owner && !existed && mutex->wait(0) == WAIT_TIMEOUT) {
        delete mutex;
        SetLastError(ERROR_BUSY);  // another process took the fresh name first
        return nullptr;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return mutex->handle();
}

HANDLE WINAPI OpenMutexA(DWORD access, BOOL, LPCSTR name) {
    if ((access & ~static_cast<DWORD>(MUTEX_ALL_ACCESS)) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (name == nullptr || *name == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string object;
    if (!qv_posix::object_name(name, object)) return nullptr;
    bool existed = false;
    std::shared_ptr<qv_posix::mutex_entry> entry = qv_posix::open_entry(object, true, existed);
    if (entry == nullptr) return nullptr;
    return (new qv_posix::mutex_object(entry, access))->handle();
}

BOOL WINAPI ReleaseMutex(HANDLE mutex) {
    auto* object = qv_posix::handle_cast<qv_posix::mutex_object>(mutex);
    return object != nullptr ? object->release() : FALSE;
}
