// The support library's hold-and-give-up interface, implemented by every
// lock and guard of the library. The two hooks do nothing and nothing calls
// them; they keep the interface's operation order. No virtual destructor:
// objects are never deleted through this interface.
#pragma once

namespace tessel {

class scope_semantics {
public:
    virtual void reserved_hook_1() {}
    virtual void acquire() = 0;
    virtual void reserved_hook_2() {}
    virtual void release() = 0;

protected:
    ~scope_semantics() = default;
};

}  // namespace tessel
