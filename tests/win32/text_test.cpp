// Code page conversions: counts, flags, invalid input, default characters,
// the code pages the system meets as ANSI code pages.

#include "tests/win32/contract.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using contract::sentinel;

class text : public contract::test {};

using qv_test::narrow;
using qv_test::widen;

TEST_F(text, code_page_information_and_the_ansi_code_page) {
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(1252, &info));
    EXPECT_EQ(info.MaxCharSize, 1u);
    EXPECT_EQ(info.DefaultChar[0], '?');
    ASSERT_TRUE(GetCPInfo(932, &info));
    EXPECT_EQ(info.MaxCharSize, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.LeadByte), 5), std::string("\x81\x9f\xe0\xfc\0", 5));
    ASSERT_TRUE(GetCPInfo(CP_UTF8, &info));
    EXPECT_EQ(info.MaxCharSize, 4u);

    SetLastError(sentinel);
    EXPECT_FALSE(GetCPInfo(12345, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(sentinel);
    EXPECT_FALSE(GetCPInfo(1252, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(widen(CP_ACP, "\x80"), L"\x20AC");
}

TEST_F(text, counts_and_buffer_sizes) {
    wchar_t wide[8];
    // -1: up to and including the terminating zero.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(std::wstring(wide), L"abc");
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);

    SetLastError(sentinel);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    char bytes[8];
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(932, 0, L"\x3042\x3044", 2, bytes, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(932, 0, L"\x3042\x3044", -1, nullptr, 0, nullptr, nullptr), 5);

    for (UINT code_page : {0u, 1u, 65001u}) {
        SetLastError(sentinel);
        EXPECT_EQ(MultiByteToWideChar(code_page, 0, "abc", 0, wide, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    SetLastError(sentinel);
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(12345, 0, L"abc", 3, bytes, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Embedded zeros are characters like any other.
    EXPECT_EQ(widen(1252, std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(narrow(CP_UTF8, std::wstring(L"\0\xe9", 2)), std::string("\0\xc3\xa9", 3));
}

TEST_F(text, no_best_fit_is_taken) {
    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, L"a", 1, bytes, 8, nullptr, nullptr), 1);
}

TEST_F(text, undefined_c1_bytes_map_to_c1_controls_both_ways) {
    const std::string undefined("\x81\x8d\x8f\x90\x9d");
    EXPECT_EQ(widen(1252, undefined, MB_ERR_INVALID_CHARS), L"\x81\x8d\x8f\x90\x9d");
    BOOL used_default = TRUE;
    EXPECT_EQ(narrow(1252, L"\x81\x8d\x8f\x90\x9d", &used_default), undefined);
    EXPECT_FALSE(used_default);
    // U+0080 is not byte 0x80 (the euro sign) and has no form.
    EXPECT_EQ(narrow(1252, L"\x80\x20AC", &used_default), "?\x80");
    EXPECT_TRUE(used_default);
    // In 1258 a combining mark stays a character of its own.
    EXPECT_EQ(widen(1258, "a\x81" "a\xec"), L"a\x81" L"a\x301");
}

TEST_F(text, invalid_input_is_replaced_or_refused) {
    wchar_t wide[8];
    // An incomplete double-byte character.
    SetLastError(sentinel);
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", 2, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(widen(932, "a\x82"), L"a\x30FB");

    SetLastError(sentinel);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xff", 2, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(widen(CP_UTF8, "a\xff" "b\xc3"), L"a\xFFFD" L"b\xFFFD");
}

TEST_F(text, characters_without_a_form_become_the_default_character) {
    BOOL used_default = FALSE;
    EXPECT_EQ(narrow(1252, L"a\x4E2D" L"b", &used_default), "a?b");
    EXPECT_TRUE(used_default);
    EXPECT_EQ(narrow(1252, L"a\x4E2D", nullptr, "*"), "a*");
    // A lone surrogate is no character: it must not upset the conversion.
    const std::wstring broken{L'x', static_cast<wchar_t>(0xD800), L'y'};
    EXPECT_EQ(narrow(1252, broken, &used_default), "x?y");
    EXPECT_EQ(narrow(CP_UTF8, broken), "x\xef\xbf\xbdy");

    char bytes[16];
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0x80 /* WC_ERR_INVALID_CHARS */, broken.data(), 3, bytes, 16, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

// UTF-8 has a form for every character: it takes no used-default report.
TEST_F(text, utf8_takes_no_used_default_report) {
    char bytes[16];
    BOOL used_default = FALSE;
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", 1, bytes, 16, nullptr, &used_default), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(text, double_byte_code_pages_round_trip) {
    EXPECT_EQ(narrow(932, L"\x65E5\x672C"), "\x93\xfa\x96\x7b");
    EXPECT_EQ(widen(936, narrow(936, L"\x4E2D\x6587")), L"\x4E2D\x6587");
}

}  // namespace
