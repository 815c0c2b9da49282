// A named system mutex, shared by every process on the machine, behind the
// library's hold-and-give-up interface.
#pragma once

#include "platform/win32.h"
#include "tessel/scope_semantics.h"

#include <string>

namespace tessel {

class real_mutex : public scope_semantics {
public:
    // Creates or opens the mutex; a name without a backslash is placed in
    // the machine's global namespace. Does not take the mutex. Throws
    // tessel::exception when the mutex can be neither created nor opened.
    explicit real_mutex(const std::string& name);
    // Closes the handle without releasing: a held mutex stays held until
    // its holder ends or the last handle anywhere is closed.
    ~real_mutex();
    real_mutex(const real_mutex&) = delete;
    real_mutex& operator=(const real_mutex&) = delete;

    // True when the calling thread now holds the mutex (also when a previous
    // holder abandoned it), false when the time-out ran out. Throws
    // tessel::exception when the wait fails.
    bool try_acquire(DWORD timeout_milliseconds);
    void acquire() override;
    // Throws tessel::exception when the mutex cannot be released.
    void release() override;

private:
    HANDLE handle;
};

}  // namespace tessel
