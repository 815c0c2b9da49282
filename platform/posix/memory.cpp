// VirtualAlloc and VirtualFree over anonymous mappings; LocalFree for the
// blocks the layer hands out (message texts, security descriptors), which
// come from the C library's heap.
//
// Differs from Windows: regions are page-aligned, not aligned to 64 KiB,
// and a region of 2 MiB or more is aligned to 2 MiB and marked for huge
// pages. Every page of a fresh region is zero-filled on its first touch;
// with 4 KiB pages a 64 MiB buffer costs 16,384 faults, which on a virtual
// machine that hands freed memory back to its host take longer than
// filling the buffer from the page cache. With huge pages it is 32.

#include "platform/win32.h"
#include "platform/posix/internal/errno_map.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>

namespace {

const size_t huge_page = 2 * 1024 * 1024;

// The length of each region, by the address VirtualAlloc returned.
std::mutex regions_lock;
std::map<void*, size_t>& regions() {
    static std::map<void*, size_t> the_regions;
    return the_regions;
}

void* map_pages(size_t length) {
    void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return start == MAP_FAILED ? nullptr : start;
}

// Maps length bytes at a huge-page boundary: a larger mapping, trimmed.
void* map_huge_aligned(size_t length) {
    const size_t padded = length + huge_page;
    char* start = static_cast<char*>(map_pages(padded));
    if (start == nullptr) return nullptr;
    const uintptr_t address = reinterpret_cast<uintptr_t>(start);
    char* aligned = start + ((huge_page - address % huge_page) % huge_page);
    if (aligned > start) munmap(start, size_t(aligned - start));
    const size_t tail = size_t(start + padded - (aligned + length));
    if (tail > 0) munmap(aligned + length, tail);
    // Only a hint: without transparent huge pages the region keeps small ones.
    madvise(aligned, length, MADV_HUGEPAGE);
    return aligned;
}

}  // namespace

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocation_type, DWORD protection) {
    if (address != nullptr || size == 0 || allocation_type != (MEM_RESERVE | MEM_COMMIT) ||
        protection != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    if (size > SIZE_MAX - huge_page - page) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const size_t length = (size + page - 1) / page * page;
    void* region = length >= huge_page ? map_huge_aligned(length) : map_pages(length);
    if (region == nullptr) {
        qv_posix::set_last_error_from_errno();
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> hold(regions_lock);
        regions().emplace(region, length);
    } catch (...) {
        munmap(region, length);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return region;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD free_type) {
    if (free_type != MEM_RELEASE || size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t length = 0;
    {
        std::lock_guard<std::mutex> hold(regions_lock);
        const auto found = regions().find(address);
        if (found == regions().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        length = found->second;
        regions().erase(found);
    }
    munmap(address, length);
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
