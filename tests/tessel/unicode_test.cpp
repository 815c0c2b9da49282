// Strict and lenient conversions between wide text and code pages.

#include "tessel/unicode/unicode.h"
#include "tests/support/ansi_code_page.h"

#include "platform/win32.h"

#include <gtest/gtest.h>

using namespace tessel::unicode;

TEST(unicode, narrowing_strict_and_lenient) {
    EXPECT_EQ(to_narrow(L"caf\xe9 \x20AC", CP_ACP, true), "caf\xe9 \x80");
    EXPECT_EQ(to_narrow(L"a\x4E2D", CP_ACP, false), "a?");
    EXPECT_THROW(to_narrow(L"a\x4E2D", CP_ACP, true), unmappable_character);
    // UTF-8 reports no default characters: even a lone surrogate passes.
    EXPECT_EQ(to_narrow(L"\x4E2D", CP_UTF8, true), "\xe4\xb8\xad");
    EXPECT_EQ(to_narrow(std::wstring(1, static_cast<wchar_t>(0xDC00)), CP_UTF8, true), "\xef\xbf\xbd");
    // Zeros are converted like any other character.
    EXPECT_EQ(to_narrow(std::wstring(L"a\0b\0", 4), 1252, true), std::string("a\0b\0", 4));
    EXPECT_EQ(to_wide(std::string("\0\xe9", 2), 1252), std::wstring(L"\0\xe9", 2));
}

TEST(unicode, widening_invalid_input) {
    // UTF-8 is widened without checks: replacement characters, no error.
    EXPECT_EQ(to_wide("a\xc3(\xff", CP_UTF8), L"a\xFFFD(\xFFFD");
    EXPECT_THROW(to_wide("a\x82", 932), unmappable_character);
    ansi_code_page acp("932");
    EXPECT_EQ(to_wide("\x82\xa0", CP_ACP), L"\x3042");
    EXPECT_THROW(to_wide("\x82\xa0\x82", CP_ACP), unmappable_character);
    EXPECT_EQ(to_narrow(L"\x3042\x65E5", CP_ACP, true), "\x82\xa0\x93\xfa");
}

TEST(unicode, unknown_code_pages) {
    EXPECT_THROW(to_narrow(L"a", 12345, false), invalid_codepage);
    EXPECT_THROW(to_wide("a", 12345), invalid_codepage);
    EXPECT_EQ(to_narrow(L"", 12345, true), "");
    EXPECT_EQ(to_wide("", 12345), L"");
}

TEST(unicode, what_texts_of_the_errors) {
    try {
        to_narrow(L"\x4E2D", CP_ACP, true);
        FAIL() << "no error";
    } catch (const tessel::exception& error) {
        EXPECT_STREQ(error.what(), "unicode.unmappable_character[]");
    }
    EXPECT_STREQ(generic(std::string()).what(), "unicode[]");
    EXPECT_STREQ(out_of_memory(std::string()).what(), "unicode.out_of_memory[]");
    EXPECT_STREQ(invalid_codepage(std::string()).what(), "unicode.invalid_codepage[]");
}
