// tessel::log::file: the UTF-8 log file shared by every process that logs to
// the same base.

#include "tessel/log/file.h"

#include "tessel/format.h"
#include "tessel/log/errors.h"
#include "tessel/scope.h"
#include "tessel/text.h"

namespace tessel {
namespace log {
namespace {

const char byte_order_mark[] = "\xEF\xBB\xBF";
const DWORD byte_order_mark_size = 3;

HANDLE open_for_append(const std::string& name, DWORD share) {
    return CreateFileA(name.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

file::file(const std::string& base)
    : lock_("log-" + replace_all(base, "\\", "_")),
      base_(base),
      size_limit_(0xFFFFFFFFu),
      backups_(0),
      handle_(INVALID_HANDLE_VALUE) {
    const std::string name = base_ + ".log.txt";
    handle_ = open_for_append(name, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (handle_ == INVALID_HANDLE_VALUE) handle_ = open_for_append(name, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle_ == INVALID_HANDLE_VALUE) throw generic("CreateFile failed: " + format_error(GetLastError()));
    // Without the lock: a fresh handle writes at offset 0, so processes that
    // open an empty file at once each write the same three bytes over each
    // other's, and every line goes to the end under the lock. A lock that
    // cannot be taken costs a line, never the log.
    if (GetFileSize(handle_, nullptr) == 0) write_byte_order_mark();
}

file::~file() { CloseHandle(handle_); }

void file::write(int, const std::string& prefix, const std::string& text) {
    scope hold(&lock_);
    SetLastError(NO_ERROR);
    const DWORD size = GetFileSize(handle_, nullptr);
    // A size that cannot be read leaves the file as it is: the line is still
    // appended rather than lost.
    const bool size_known = size != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    if (size_known && size >= size_limit_) {
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
    const std::string current = base_ + ".log.txt";
    std::uint32_t index = 1;
    bool shifted = false;
    for (;;) {
        if (backups_ == 1) DeleteFileA(generation(index).c_str());
        if (CopyFileA(current.c_str(), generation(index).c_str(), TRUE)) return;
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

}  // namespace log
}  // namespace tessel
