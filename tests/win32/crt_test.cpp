// The runtime's counted formatters, which tessel::format calls: the counted
// contract, text crossing between widths, the Windows sizes, and what they
// make of conversions they do not know.

#include "tests/win32/contract.h"

#include <cstdarg>
#include <cstring>

namespace {

class crt : public contract::test {};

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

TEST_F(crt, counted_contract) {
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

// The runtime's "C" locale, whatever the ANSI code page: byte N is U+00NN.
TEST_F(crt, text_crosses_widths_as_latin_1) {
    char buffer[32];
    ASSERT_EQ(narrow_format(buffer, sizeof buffer, "[%S|%C|%3.2S]", L"\xe9\xff", L'\xe9', L"abc"), 10);
    EXPECT_EQ(std::string(buffer), "[\xe9\xff|\xe9| ab]");
    wchar_t wide[32];
    ASSERT_EQ(wide_format(wide, 32, L"[%S|%C|%-3hs]", "\xe9\x80", '\x80', "a"), 10);
    EXPECT_EQ(std::wstring(wide), L"[\xe9\x80|\x80|a  ]");
    // Beyond U+00FF: a string fails the call, a character is left out.
    EXPECT_EQ(narrow_format(buffer, sizeof buffer, "[%S]", L"\xe9\x20AC"), -1);
    EXPECT_EQ(narrow_format(buffer, sizeof buffer, "[%C]", L'\x20AC'), 2);
    EXPECT_EQ(std::string(buffer), "[]");
}

TEST_F(crt, windows_sizes) {
    char buffer[64];
    // "l" is 32 bits, as on Windows, whatever the caller's upper bits.
    ASSERT_GT(narrow_format(buffer, sizeof buffer, "%lu %0lX %Iu %05s %s %I64d %Ix", 4000000000u, 0xabcu, size_t(7),
                            "ab", static_cast<const char*>(nullptr), -1234567890123LL, size_t(42)),
              0);
    EXPECT_EQ(std::string(buffer), "4000000000 ABC 7 000ab (null) -1234567890123 2a");
}

// A conversion the runtime does not know prints its character, without
// width or argument; a format that ends inside a conversion ends there.
TEST_F(crt, unknown_conversions_print_their_character) {
    const struct {
        const char* format;
        const char* text;
    } cases[] = {
        {"%y", "y"},   {"a%yb", "ayb"}, {"%-5y|", "y|"}, {"%.3y", "y"},  {"%ly", "y"},   {"%y%d", "y42"},
        {"%Iy", "Iy"}, {"%zy", "zy"},   {"%Fd", "42"},   {"abc%", "abc"}, {"%5", ""},    {"%-5%|", "|"},
        {"%q", "q"},   {"%%", "%"},     {"%1$d", "$d"},
    };
    for (const auto& c : cases) {
        char buffer[32] = "";
        EXPECT_EQ(narrow_format(buffer, sizeof buffer, c.format, 42), int(std::strlen(c.text))) << c.format;
        EXPECT_STREQ(buffer, c.text) << c.format;
    }
    wchar_t wide[8] = L"";
    EXPECT_EQ(wide_format(wide, 8, L"%5k|", 1), 2);
    EXPECT_EQ(std::wstring(wide), L"k|");
}

TEST_F(crt, percent_n_stores_the_count) {
    char buffer[8];
    int stored = -1;
    EXPECT_EQ(narrow_format(buffer, sizeof buffer, "ab%n", &stored), 2);
    EXPECT_EQ(stored, 2);
}

}  // namespace
