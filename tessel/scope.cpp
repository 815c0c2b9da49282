// tessel::scope.

#include "tessel/scope.h"

#include <exception>

namespace tessel {

scope::scope(scope_semantics* held) : held_(held), exceptions_at_entry_(std::uncaught_exceptions()) {
    if (held_ != nullptr) held_->acquire();
}

scope::~scope() noexcept(false) {
    if (held_ == nullptr) return;
    scope_semantics* held = held_;
    held_ = nullptr;
    if (std::uncaught_exceptions() > exceptions_at_entry_) {
        // Throwing now would end the process; the exception already on its
        // way out says more than a failed release.
        try {
            held->release();
        } catch (...) {
        }
        return;
    }
    held->release();
}

void scope::acquire() {
    if (held_ != nullptr) held_->acquire();
}

void scope::release() {
    if (held_ == nullptr) return;
    scope_semantics* held = held_;
    held_ = nullptr;
    held->release();
}

}  // namespace tessel
