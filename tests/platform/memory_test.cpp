// VirtualAlloc and VirtualFree of the POSIX layer.

#include "platform/win32.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using qv_test::sentinel;
const size_t huge_page = 2 * 1024 * 1024;

void* allocate(size_t size) {
    SetLastError(sentinel);
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool release(void* region) {
    SetLastError(sentinel);
    return VirtualFree(region, 0, MEM_RELEASE) != FALSE;
}

// The flags of the mapping holding address, from smaps ("hg": advised
// for huge pages).
std::string mapping_flags(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const uintptr_t wanted = reinterpret_cast<uintptr_t>(address);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        uintptr_t low = 0, high = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> low >> dash >> high && dash == '-') inside = low <= wanted && wanted < high;
        else if (inside && line.rfind("VmFlags:", 0) == 0) return line + " ";
    }
    return "";
}

bool kernel_has_huge_pages() { return std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled").good(); }

TEST(VirtualMemory, RegionsAreZeroedWritableAndReleasedOnce) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    for (size_t size : {size_t(1), page + 1, huge_page - 1, 3 * huge_page + 12345}) {
        unsigned char* region = static_cast<unsigned char*>(allocate(size));
        ASSERT_NE(region, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(region) % page, 0u) << size;
        for (size_t at = 0; at < size; at += 4093) EXPECT_EQ(region[at], 0) << at;
        EXPECT_EQ(region[size - 1], 0);
        region[0] = 1;
        region[size - 1] = 2;
        EXPECT_TRUE(release(region)) << size;
        EXPECT_FALSE(release(region)) << size;  // already gone
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_ADDRESS));
    }
}

TEST(VirtualMemory, LargeRegionsAreHugePageAlignedAndAdvised) {
    void* region = allocate(5 * huge_page);
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(region) % huge_page, 0u);
    if (kernel_has_huge_pages()) {
        EXPECT_NE(mapping_flags(region).find(" hg "), std::string::npos) << mapping_flags(region);
    }
    EXPECT_TRUE(release(region));
}

TEST(VirtualMemory, UnsupportedRequestsFailWithoutEffect) {
    int local = 0;
    const struct {
        void* address;
        size_t size;
        DWORD type, protection;
    } requests[] = {
        {&local, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE},
        {nullptr, 0, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE},
        {nullptr, 4096, MEM_COMMIT, PAGE_READWRITE},
        {nullptr, 4096, MEM_RESERVE, PAGE_READWRITE},
        {nullptr, 4096, MEM_RESERVE | MEM_COMMIT, 0x02},  // read-only
    };
    for (const auto& request : requests) {
        SetLastError(sentinel);
        EXPECT_EQ(VirtualAlloc(request.address, request.size, request.type, request.protection), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    SetLastError(sentinel);
    EXPECT_EQ(VirtualAlloc(nullptr, SIZE_MAX, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));

    char* region = static_cast<char*>(allocate(4096));
    ASSERT_NE(region, nullptr);
    SetLastError(sentinel);
    EXPECT_FALSE(VirtualFree(region, 4096, MEM_RELEASE));  // a release takes size 0
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    region[4095] = 'x';  // still there
    EXPECT_FALSE(release(&local));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_ADDRESS));
    EXPECT_TRUE(release(region));
}

}  // namespace
