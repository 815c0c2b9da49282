// The POSIX layer's code page conversions beyond the Win32 contract
// (tests/win32): the ANSI code page QV_ACP names, the flags and code pages
// it refuses, and wchar_t values that UTF-32 has and UTF-16 cannot have.

#include "platform/win32.h"
#include "tests/support/ansi_code_page.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qv_test::narrow;
using qv_test::sentinel;
using qv_test::widen;

}  // namespace

TEST(text, the_ansi_code_page_is_the_one_qv_acp_names) {
    EXPECT_EQ(GetACP(), 1252u);
    {
        ansi_code_page acp("932");
        EXPECT_EQ(GetACP(), 932u);
        EXPECT_EQ(widen(CP_ACP, "\x82\xa0"), L"\x3042");
    }
    ansi_code_page unknown("1234x");
    EXPECT_EQ(GetACP(), 1252u);
}

TEST(text, flags_and_code_pages_the_layer_does_not_support_fail) {
    wchar_t wide[8];
    char bytes[8];
    SetLastError(sentinel);
    EXPECT_EQ(MultiByteToWideChar(1252, 0x4 /* MB_USEGLYPHCHARS */, "a", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(1252, 0x200 /* WC_COMPOSITECHECK */, L"a", 1, bytes, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    // Only ANSI code pages and UTF-8: not ISO-8859-1.
    CPINFO info;
    SetLastError(sentinel);
    EXPECT_FALSE(GetCPInfo(28591, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(text, wide_values_beyond_utf16) {
    // Values that are no character at all must not upset the conversion.
    const std::wstring broken{L'x', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000),
                              static_cast<wchar_t>(-1)};
    BOOL used_default = FALSE;
    EXPECT_EQ(narrow(1252, broken, &used_default), "x???");
    EXPECT_EQ(narrow(CP_UTF8, broken), "x\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
    char bytes[16];
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0x80 /* WC_ERR_INVALID_CHARS */, broken.data(), 4, bytes, 16, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

// One U+FFFD per byte that cannot start or finish a character.
TEST(text, an_encoded_surrogate_is_three_replacements) {
    EXPECT_EQ(widen(CP_UTF8, "\xed\xa0\x80"), L"\xFFFD\xFFFD\xFFFD");
}
