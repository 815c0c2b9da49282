// The guard through which every lock of the support library is taken, so
// that an exception releases it.
#pragma once

#include "tessel/scope_semantics.h"

namespace tessel {

class scope final : public scope_semantics {
public:
    // Acquires the held object when it is not null; the object is not owned.
    explicit scope(scope_semantics* held);
    // Releases the held object unless release() already did. A failing
    // release propagates, except while another exception unwinds the stack:
    // then that first exception wins.
    ~scope() noexcept(false);
    scope(const scope&) = delete;
    scope& operator=(const scope&) = delete;

    void acquire() override;
    // Releases the held object and forgets it: neither a second release nor
    // the destructor releases it again, and a later acquire does nothing.
    void release() override;

private:
    scope_semantics* held_;
    int exceptions_at_entry_;
};

}  // namespace tessel
