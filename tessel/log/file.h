// The file listener: appends lines in UTF-8 to base + ".log.txt", guarded
// across processes by the named mutex "log-" + base (backslashes made
// underscores), and rotates the file when it reaches the size limit. The
// file lies in a folder others may write: it is used only when it is a
// plain file of ours (tessel/plain_file.h), and a lock that another process
// holds too long makes the listener fall silent rather than wait.
#pragma once

#include "platform/win32.h"
#include "tessel/log/listener.h"
#include "tessel/real_mutex.h"

#include <cstdint>
#include <string>

namespace tessel {
namespace log {

class file : public listener {
public:
    // Opens or creates the file, never truncating it; throws
    // tessel::log::generic when it cannot be opened or is not ours.
    explicit file(const std::string& base);
    ~file() override;
    file(const file&) = delete;
    file& operator=(const file&) = delete;

    // At this size in bytes the next line first rotates the file.
    void set_size_limit(std::uint32_t bytes) { size_limit_ = bytes; }
    // Numbered copies kept on rotation: generation 1 is the oldest.
    void set_backups(std::uint32_t count) { backups_ = count; }
    // How long a line waits for the lock; a line that waited in vain is
    // dropped, and so is every later one.
    void set_lock_wait(DWORD milliseconds) { lock_wait_ = milliseconds; }

    void write(int level, const std::string& prefix, const std::string& text) override;

private:
    void write_byte_order_mark();
    void rotate();
    bool copy_to(const std::string& name);
    std::string generation(std::uint32_t index) const;

    real_mutex lock_;
    std::string base_;
    std::uint32_t size_limit_;
    std::uint32_t backups_;
    DWORD lock_wait_;
    bool silent_;  // a lock was not had in time: no more lines
    HANDLE handle_;
};

}  // namespace log
}  // namespace tessel
