// Layer-internal: the objects behind HANDLE values (files, find handles,
// processes, mutexes). Business code never includes this.
#pragma once

#include "platform/posix/types.h"

namespace qv_posix {

// A HANDLE is the address of a live kernel_object. Every object the layer
// hands out is registered, so a stale or foreign handle is refused with
// ERROR_INVALID_HANDLE instead of being dereferenced.
class kernel_object {
public:
    kernel_object();
    // For objects the registry does not hold (see file_object.h).
    struct unregistered_t {};
    static constexpr unregistered_t unregistered{};
    explicit kernel_object(unregistered_t) : registered_(false) {}
    virtual ~kernel_object();
    kernel_object(const kernel_object&) = delete;
    kernel_object& operator=(const kernel_object&) = delete;

    // WaitForSingleObject on this object; the default refuses the wait.
    virtual DWORD wait(DWORD milliseconds);

    HANDLE handle() { return static_cast<HANDLE>(this); }

private:
    bool registered_ = true;
};

// The live object behind a handle, or null (last error ERROR_INVALID_HANDLE)
// when the handle is not one of ours or not of type T. In a fatal-signal
// filter the registry is looked at only when its lock is free.
kernel_object* lookup_handle(HANDLE handle);
void set_invalid_handle_error();

template <class T>
T* handle_cast(HANDLE handle) {
    T* object = dynamic_cast<T*>(lookup_handle(handle));
    if (object == nullptr) set_invalid_handle_error();
    return object;
}

}  // namespace qv_posix
