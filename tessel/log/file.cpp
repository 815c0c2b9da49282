// tessel::log::file: the UTF-8 log file shared by every process that logs to
// the same base.

#include "tessel/log/file.h"

#include "tessel/format.h"
#include "tessel/log/errors.h"
#include "tessel/plain_file.h"
#include "tessel/scope.h"
#include "tessel/security_attributes.h"
#include "tessel/text.h"

#include <vector>

namespace tessel {
namespace log {
namespace {

const char byte_order_mark[] = "\xEF\xBB\xBF";
const DWORD byte_order_mark_size = 3;
// Another process's line takes far less; one that holds the lock longer is
// stuck or hostile.
const DWORD default_lock_wait = 5000;

// Lines may carry what a user typed behind /V, passwords too: a new log or
// copy is for its account, the administrators and SYSTEM, besides what the
// folder passes on to what is made in it (the user's own temporary folder
// on Windows; nothing on POSIX, where /tmp is everyone's).
const char* const log_access = "D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";

// Read as well as written: a rotation copies the file through its handle.
HANDLE open_for_append(const std::string& name, DWORD share) {
    security_attributes access(log_access);
    return open_plain_file(name, GENERIC_READ | GENERIC_WRITE, share, OPEN_ALWAYS, access.get());
}

// The whole size, past 4 GiB too; false when it cannot be read.
bool size_of(HANDLE file, std::uint64_t& size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file, &high);
    size = std::uint64_t(high) << 32 | low;
    return low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
}

// The named mutex as a line takes it: for a bounded time only.
class bounded_lock final : public scope_semantics {
public:
    bounded_lock(real_mutex& lock, DWORD wait) : lock_(lock), wait_(wait) {}
    void acquire() override { held_ = lock_.try_acquire(wait_); }
    void release() override {
        if (held_) lock_.release();
        held_ = false;
    }
    bool held() const { return held_; }

private:
    real_mutex& lock_;
    DWORD wait_;
    bool held_ = false;
};

}  // namespace

file::file(const std::string& base)
    : lock_("log-" + replace_all(base, "\\", "_")),
      base_(base),
      size_limit_(0xFFFFFFFFu),
      backups_(0),
      lock_wait_(default_lock_wait),
      silent_(false),
      handle_(INVALID_HANDLE_VALUE) {
    const std::string name = base_ + ".log.txt";
    handle_ = open_for_append(name, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (handle_ == INVALID_HANDLE_VALUE) handle_ = open_for_append(name, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle_ == INVALID_HANDLE_VALUE) throw generic("CreateFile failed: " + format_error(GetLastError()));
    // Without the lock: a fresh handle writes at offset 0, so processes that
    // open an empty file at once each write the same three bytes over each
    // other's, and every line goes to the end under the lock. A lock that
    // cannot be taken costs a line, never the log.
    std::uint64_t size = 0;
    if (size_of(handle_, size) && size == 0) write_byte_order_mark();
}

file::~file() { CloseHandle(handle_); }

void file::write(int, const std::string& prefix, const std::string& text) {
    if (silent_) return;
    bounded_lock lock(lock_, lock_wait_);
    scope hold(&lock);
    if (!lock.held()) {
        silent_ = true;
        return;
    }
    // A size that cannot be read leaves the file as it is: the line is still
    // appended rather than lost.
    std::uint64_t size = 0;
    if (size_of(handle_, size) && size >= size_limit_) {
        rotate();
        SetFilePointer(handle_, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(handle_);
        write_byte_order_mark();
    }
    SetFilePointer(handle_, 0, nullptr, FILE_END);
    // A failed write loses this line only.
    const std::string line = format("%s%s\r\n", prefix.c_str(), text.c_str());
    DWORD written = 0;
    WriteFile(handle_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void file::write_byte_order_mark() {
    DWORD written = 0;
    WriteFile(handle_, byte_order_mark, byte_order_mark_size, &written, nullptr);
}

std::string file::generation(std::uint32_t index) const {
    return format("%s.%i.log.txt", base_.c_str(), static_cast<int>(index));
}

// Copies the current file to a numbered generation; generation 1 is the
// oldest. When every generation exists, the oldest is dropped by moving each
// one down a number. If even that does not let the copy succeed (a copy that
// fails for another reason, a move that fails), the rotation gives up and
// the caller only cuts the file.
void file::rotate() {
    if (backups_ == 0) return;
    std::uint32_t index = 1;
    bool shifted = false;
    for (;;) {
        if (backups_ == 1) DeleteFileA(generation(index).c_str());
        if (copy_to(generation(index))) return;
        if (index < backups_) {
            ++index;
            continue;
        }
        if (shifted) return;
        for (std::uint32_t k = 1; k < backups_; ++k)
            if (!MoveFileExA(generation(k + 1).c_str(), generation(k).c_str(), MOVEFILE_REPLACE_EXISTING)) break;
        shifted = true;
    }
}

// Copies the file through its own handle, never through its name, into a
// new file of ours; false when name exists or the copy fails (nothing of it
// is left then).
bool file::copy_to(const std::string& name) {
    security_attributes access(log_access);
    HANDLE copy = open_plain_file(name, GENERIC_WRITE, 0, CREATE_NEW, access.get());
    if (copy == INVALID_HANDLE_VALUE) return false;
    std::vector<char> block(64 * 1024);
    bool copied = SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
    for (DWORD got = 0; copied; ) {
        DWORD written = 0;
        copied = ReadFile(handle_, block.data(), DWORD(block.size()), &got, nullptr) != FALSE;
        if (!copied || got == 0) break;
        copied = WriteFile(copy, block.data(), got, &written, nullptr) && written == got;
    }
    CloseHandle(copy);
    if (!copied) DeleteFileA(name.c_str());
    return copied;
}

}  // namespace log
}  // namespace tessel
