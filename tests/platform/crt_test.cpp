// The counted formatters of the POSIX layer: the counted contract, the
// crossings between narrow and wide text, malformed formats.

#include "platform/win32.h"
#include "tests/platform/acp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int narrow_format(char* buffer, size_t count, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = _vsnprintf(buffer, count, format, arguments);
    va_end(arguments);
    return result;
}

int wide_format(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = _vsnwprintf(buffer, count, format, arguments);
    va_end(arguments);
    return result;
}

}  // namespace

TEST(crt, counted_contract) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(narrow_format(buffer, 4, "%s", "abcd"), 4);  // exact fit: no terminator
    EXPECT_EQ(std::string(buffer, 5), "abcdx");
    EXPECT_EQ(narrow_format(buffer, 8, "%d", 12), 2);
    EXPECT_EQ(std::string(buffer), "12");
    EXPECT_EQ(narrow_format(buffer, 3, "%s", "abcd"), -1);
    wchar_t wide[4];
    EXPECT_EQ(wide_format(wide, 4, L"%s", L"abcd"), 4);
    EXPECT_EQ(std::wstring(wide, 4), L"abcd");
    EXPECT_EQ(wide_format(wide, 3, L"%s", L"abcd"), -1);
}

TEST(crt, text_crosses_widths_through_the_ansi_code_page) {
    char buffer[32];
    ASSERT_EQ(narrow_format(buffer, sizeof buffer, "[%S|%C|%3.2S]", L"\xe9\x4E2D", L'\xe9', L"\x20AC\x20AC\x20AC"), 10);
    EXPECT_EQ(std::string(buffer), "[\xe9?|\xe9| \x80\x80]");
    wchar_t wide[32];
    ASSERT_EQ(wide_format(wide, 32, L"[%S|%C|%-3hs]", "\xe9\x80", '\xe9', "a"), 10);
    EXPECT_EQ(std::wstring(wide), L"[\xe9\x20AC|\xe9|a  ]");

    scoped_acp acp("932");
    ASSERT_EQ(wide_format(wide, 32, L"%S", "\x82\xa0"), 1);
    EXPECT_EQ(std::wstring(wide), L"\x3042");
    ASSERT_EQ(narrow_format(buffer, sizeof buffer, "%S", L"\x3042"), 2);
    EXPECT_EQ(std::string(buffer), "\x82\xa0");
}

TEST(crt, windows_sizes_and_malformed_formats) {
    char buffer[64];
    // "l" is 32 bits, as on Windows, whatever the caller's upper bits.
    ASSERT_GT(narrow_format(buffer, sizeof buffer, "%lu %0lX %Iu %05s %s", 4000000000u, 0xabcu, size_t(7), "ab",
                            static_cast<const char*>(nullptr)),
              0);
    EXPECT_EQ(std::string(buffer), "4000000000 ABC 7 000ab (null)");
    for (const char* malformed : {"%n", "%y", "abc%", "%5"}) {
        int stored = 0;
        EXPECT_EQ(narrow_format(buffer, sizeof buffer, malformed, &stored), -1) << malformed;
    }
    EXPECT_EQ(wide_format(reinterpret_cast<wchar_t*>(buffer), 4, L"%k", 1), -1);
}
