// CloseHandle, WaitForSingleObject and the registry of live kernel objects.
// Differs from Windows: handles are not inherited by child processes and
// are not duplicated; a handle is the object's address.

#include "platform/posix/internal/fatal_signal.h"
#include "platform/posix/internal/file_object.h"
#include "platform/posix/internal/kernel_object.h"
#include "platform/win32.h"

#include <mutex>
#include <unordered_set>

namespace qv_posix {
namespace {

std::mutex& registry_lock() {
    static std::mutex lock;
    return lock;
}

std::unordered_set<kernel_object*>& live_objects() {
    static auto* objects = new std::unordered_set<kernel_object*>();  // outlives static destruction
    return *objects;
}

}  // namespace

kernel_object::kernel_object() {
    std::lock_guard<std::mutex> hold(registry_lock());
    live_objects().insert(this);
}

kernel_object::~kernel_object() {
    if (!registered_) return;
    std::lock_guard<std::mutex> hold(registry_lock());
    live_objects().erase(this);
}

DWORD kernel_object::wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

void set_invalid_handle_error() { SetLastError(ERROR_INVALID_HANDLE); }

kernel_object* lookup_handle(HANDLE handle) {
    if (kernel_object* file = find_signal_file(handle)) return file;
    std::unique_lock<std::mutex> hold(registry_lock(), std::defer_lock);
    if (!in_fatal_signal()) {
        hold.lock();
    } else if (!hold.try_lock()) {
        return nullptr;  // the code that the fatal signal interrupted may hold it
    }
    auto* object = static_cast<kernel_object*>(handle);
    return live_objects().count(object) != 0 ? object : nullptr;
}

}  // namespace qv_posix

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (qv_posix::close_signal_file(handle)) return TRUE;
    qv_posix::kernel_object* object = qv_posix::lookup_handle(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete object;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    qv_posix::kernel_object* object = qv_posix::lookup_handle(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->wait(milliseconds);
}
