// The support library's in-process lock: a critical section, re-entrant for
// the thread that holds it.
#pragma once

#include "platform/win32.h"
#include "tessel/scope_semantics.h"

namespace tessel {

class mutex final : public scope_semantics {
public:
    mutex();
    ~mutex();
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;

    void acquire() override;
    void release() override;

private:
    CRITICAL_SECTION section_;
};

}  // namespace tessel
