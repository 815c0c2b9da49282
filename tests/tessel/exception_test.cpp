// The exception family: what() texts, wide texts and their narrow forms.

#include "tessel/exception.h"
#include "tessel/registry2/errors.h"
#include "tests/support/ansi_code_page.h"

#include <gtest/gtest.h>

TEST(exception, what_is_category_and_message) {
    EXPECT_STREQ(tessel::exception(std::string("M")).what(), "[M]");
    EXPECT_STREQ(tessel::exception("%s %d", "at", 3).what(), "[at 3]");
    try {
        throw tessel::registry2::key_error("M");
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "registry2.key_error[M]");
        const tessel::exception copy(dynamic_cast<const tessel::exception&>(error));
        EXPECT_STREQ(copy.category(), "registry2.key_error");
        EXPECT_STREQ(copy.message(), "M");
    }
}

TEST(exception, wide_texts_and_their_narrow_form) {
    const tessel::exception_w error(L"%s \x20AC%d \x4E2D", L"\xe9t\xe9", 5);
    EXPECT_STREQ(error.what_w(), L"[\xe9t\xe9 \x20AC" L"5 \x4E2D]");
    EXPECT_STREQ(error.message_w(), L"\xe9t\xe9 \x20AC" L"5 \x4E2D");
    EXPECT_STREQ(error.category_w(), L"");
    // The ANSI code page (1252) has no form for U+4E2D: the default character.
    EXPECT_STREQ(error.what(), "[\xe9t\xe9 \x80" "5 ?]");
    EXPECT_STREQ(error.message(), "\xe9t\xe9 \x80" "5 ?");
    const tessel::exception_w copy(error);
    EXPECT_STREQ(copy.what(), error.what());
    EXPECT_STREQ(copy.what_w(), error.what_w());
}

// Under ANSI code page 65001 every character has a narrow form, and the
// lenient narrowing must not ask UTF-8 for a used-default report, which it
// refuses. Under Wine this runs in windows_unit_tests_utf8, whose manifest
// asks for that code page.
TEST(exception, narrow_texts_under_a_utf8_ansi_code_page) {
    ansi_code_page utf8("65001");
    if (!utf8.in_effect()) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 65001";
    const tessel::exception_w error(L"%s \x20AC%d \x4E2D", L"\xe9t\xe9", 5);
    EXPECT_STREQ(error.what(), "[\xc3\xa9t\xc3\xa9 \xe2\x82\xac" "5 \xe4\xb8\xad]");
    EXPECT_STREQ(error.message(), "\xc3\xa9t\xc3\xa9 \xe2\x82\xac" "5 \xe4\xb8\xad");
}
