// Narrow text utilities.

#include "tessel/text.h"

#include <gtest/gtest.h>

TEST(text, replace_all_never_rescans_inserted_text) {
    EXPECT_EQ(tessel::replace_all("a\\b\\c", "\\", "_"), "a_b_c");
    EXPECT_EQ(tessel::replace_all("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(tessel::replace_all("xyz", "q", "r"), "xyz");
}

TEST(text, affixes_of_short_texts) {
    EXPECT_FALSE(tessel::starts_with("ab", "abc"));
    EXPECT_FALSE(tessel::ends_with("bc", "abc"));
    EXPECT_TRUE(tessel::starts_with("abc", ""));
    EXPECT_TRUE(tessel::ends_with("abc", "bc"));
    EXPECT_TRUE(tessel::contains("abc", ""));
    EXPECT_FALSE(tessel::contains("/S", "/s"));
}

TEST(text, to_upper_changes_only_ascii_letters) {
    EXPECT_EQ(tessel::to_upper(std::string("/v\"a\xe9z\"1")), std::string("/V\"A\xe9Z\"1"));
}
