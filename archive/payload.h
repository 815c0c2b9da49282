// The buffer a record's payload is read into.
//
// A packed file's payload is read whole, so a large one means as much fresh
// memory as the file is long. Such buffers take whole pages of their own
// from VirtualAlloc, where the system can fault them in cheaply and takes
// them back at once when freed; small payloads stay on the heap.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <string>

namespace archive {

template <class T>
class payload_allocator {
public:
    using value_type = T;
    // From this size on a buffer gets its own pages.
    static constexpr size_t pages_from = 1024 * 1024;

    payload_allocator() = default;
    template <class U>
    payload_allocator(const payload_allocator<U>&) noexcept {}

    T* allocate(size_t count) {
        if (count > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
        if (count * sizeof(T) < pages_from) return std::allocator<T>().allocate(count);
        void* pages = VirtualAlloc(nullptr, count * sizeof(T), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (pages == nullptr) throw std::bad_alloc();
        return static_cast<T*>(pages);
    }

    void deallocate(T* buffer, size_t count) noexcept {
        if (count * sizeof(T) < pages_from) std::allocator<T>().deallocate(buffer, count);
        else VirtualFree(buffer, 0, MEM_RELEASE);
    }
};

template <class T, class U>
bool operator==(const payload_allocator<T>&, const payload_allocator<U>&) noexcept { return true; }
template <class T, class U>
bool operator!=(const payload_allocator<T>&, const payload_allocator<U>&) noexcept { return false; }

using payload_buffer = std::basic_string<char, std::char_traits<char>, payload_allocator<char>>;

}  // namespace archive
