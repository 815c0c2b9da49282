// The buffer a record's payload is read into.
//
// Every payload is read into a buffer of exactly its size, and the one
// before it is given back first, so that two large packed files never
// share the memory: the peak is the largest payload.
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

// What payload buffers hold at the moment and at most since the last
// reset, in bytes: one payload at a time is the reader's rule.
struct payload_usage {
    size_t in_use = 0;
    size_t peak = 0;
};
payload_usage& payload_bytes();

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
        T* buffer = count * sizeof(T) < pages_from ? std::allocator<T>().allocate(count) : allocate_pages(count);
        payload_usage& usage = payload_bytes();
        usage.in_use += count * sizeof(T);
        if (usage.in_use > usage.peak) usage.peak = usage.in_use;
        return buffer;
    }

    void deallocate(T* buffer, size_t count) noexcept {
        payload_bytes().in_use -= count * sizeof(T);
        if (count * sizeof(T) < pages_from) std::allocator<T>().deallocate(buffer, count);
        else VirtualFree(buffer, 0, MEM_RELEASE);
    }

private:
    static T* allocate_pages(size_t count) {
        void* pages = VirtualAlloc(nullptr, count * sizeof(T), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (pages == nullptr) throw std::bad_alloc();
        return static_cast<T*>(pages);
    }
};

template <class T, class U>
bool operator==(const payload_allocator<T>&, const payload_allocator<U>&) noexcept { return true; }
template <class T, class U>
bool operator!=(const payload_allocator<T>&, const payload_allocator<U>&) noexcept { return false; }

using payload_buffer = std::basic_string<char, std::char_traits<char>, payload_allocator<char>>;

}  // namespace archive
