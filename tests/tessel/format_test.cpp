// The formatters in the Windows runtime's dialect, and the system error text.

#include "platform/win32.h"
#include "tessel/exception.h"
#include "tessel/format.h"

#include <gtest/gtest.h>

TEST(format, windows_dialect_in_both_widths) {
    EXPECT_EQ(tessel::format("%s _com_error: %S", "at", L"wide"), "at _com_error: wide");
    EXPECT_EQ(tessel::format(L"%s _com_error: %S", L"at", "narrow"), L"at _com_error: narrow");
    EXPECT_EQ(tessel::format("%i|%08x|%I64d|%0lX", -5, 0xbeefu, -1234567890123LL, 0xffffffffu),
              "-5|0000beef|-1234567890123|FFFFFFFF");
    EXPECT_EQ(tessel::format(L"%i|%08x|%I64d|%c%C", 7, 255u, 1LL << 40, L'w', 'n'), L"7|000000ff|1099511627776|wn");
    EXPECT_EQ(tessel::format("%.4d/%.2d %c  %%", 2024, 3, '@'), "2024/03 @  %");
}

TEST(format, results_around_the_first_buffer_come_back_whole) {
    for (size_t length : {1023u, 1024u, 1025u, 5000u}) {
        const std::string text(length, 'n');
        EXPECT_EQ(tessel::format("%s", text.c_str()), text);
        const std::wstring wide(length, L'w');
        EXPECT_EQ(tessel::format(L"%s", wide.c_str()), wide);
    }
}

// A width beyond int is refused by every runtime's formatter, as is text
// too long for a count; neither may grow the buffer without bound.
TEST(format, a_format_error_is_an_error_of_the_family_and_a_long_text_is_whole) {
    EXPECT_THROW(tessel::format("%99999999999d", 1), tessel::exception);
    EXPECT_THROW(tessel::format(L"[%99999999999d]", 1), tessel::exception);
    EXPECT_THROW(tessel::exception_w(L"%99999999999d", 1), tessel::exception);
    const std::string text(100000, 'n');
    EXPECT_EQ(tessel::format("%s.", text.c_str()), text + ".");
    EXPECT_EQ(tessel::format(L"%S.", text.c_str()), std::wstring(text.size(), L'n') + L".");
}

// The system's own words are a case of the Win32 suite (tests/win32).
TEST(format, system_error_text) {
    const std::string text = tessel::format_error(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);  // the line end is cut off
    EXPECT_EQ(tessel::format_error(0x2bad1dea), "");
}
