// LoadStringW over the string table compiled from string_table_variant.rc
// and over tables of modules made here.

#include "platform/posix/internal/module.h"
#include "platform/win32.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qv_test::sentinel;
const std::wstring long_text = [] {
    std::wstring text;
    for (int i = 0; i < 30; ++i) text += L"0123456789";
    return text;
}();

int load(HINSTANCE module, UINT id, WCHAR* buffer, int buffer_max) {
    SetLastError(sentinel);
    return LoadStringW(module, id, buffer, buffer_max);
}

TEST(LoadStringW, CopiesAtMostBufferMaxMinusOneUnitsAndAZero) {
    WCHAR buffer[260];
    EXPECT_EQ(load(nullptr, 1, buffer, 260), 5);
    EXPECT_EQ(std::wstring(buffer), L"plain");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));

    EXPECT_EQ(load(nullptr, 1, buffer, 3), 2);
    EXPECT_EQ(std::wstring(buffer), L"pl");

    buffer[0] = L'x';
    EXPECT_EQ(load(nullptr, 1, buffer, 1), 0);
    EXPECT_EQ(buffer[0], L'\0');

    EXPECT_EQ(load(nullptr, 3, buffer, 260), 259);
    EXPECT_EQ(std::wstring(buffer), long_text.substr(0, 259));
}

TEST(LoadStringW, MissingAndEmptyEntriesReadAsNotFound) {
    WCHAR buffer[16] = L"untouched";
    for (UINT id : {2u, 2001u, 65535u}) {
        EXPECT_EQ(load(nullptr, id, buffer, 16), 0) << id;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND)) << id;
        EXPECT_EQ(buffer[0], L'\0') << id;
    }
    EXPECT_EQ(load(nullptr, 1, nullptr, 16), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(LoadStringW, ZeroBufferMaxHandsOutTheTablesOwnText) {
    const wchar_t* text = nullptr;
    EXPECT_EQ(load(nullptr, 3, reinterpret_cast<LPWSTR>(&text), 0), 300);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text, 300), long_text);
}

TEST(LoadStringW, TheBuildKeepsTheScriptsEscapes) {
    WCHAR buffer[260];
    ASSERT_GT(load(nullptr, 4, buffer, 260), 0);
    EXPECT_EQ(std::wstring(buffer), L"quote \" backslash \\ tab \t; [brackets] ?? end");
}

TEST(LoadStringW, ReadsTheTableOfTheModuleItIsGiven) {
    qv_module other{"/opt/other.exe", {{1, L"other"}, {2001, L"Vendor"}}};
    WCHAR buffer[260];
    EXPECT_EQ(load(&other, 2001, buffer, 260), 6);
    EXPECT_EQ(std::wstring(buffer), L"Vendor");
    EXPECT_EQ(load(&other, 1, buffer, 260), 5);
    EXPECT_EQ(std::wstring(buffer), L"other");
    EXPECT_EQ(load(&other, 4, buffer, 260), 0);
    EXPECT_EQ(load(nullptr, 1, buffer, 260), 5);
    EXPECT_EQ(std::wstring(buffer), L"plain");
}

}  // namespace
