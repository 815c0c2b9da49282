// The narrow form of a path: exact, else the short form, else nothing.
// The layer has no short names, so there the short form is the path itself.

#include "launcher/narrow_path.h"
#include "platform/win32.h"
#include "tests/support/ansi_code_page.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

std::wstring ascii_wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(narrow_path, takes_the_exact_form_and_refuses_a_lossy_one) {
    ansi_code_page western("1252");
    EXPECT_EQ(launcher::narrow_path("Z:\\caf\xE9\\", L"Z:\\caf\u00E9\\", 64), "Z:\\caf\xE9\\");
    // "?" where the code page has no letter, and no such folder to shorten.
    SetLastError(0);
    EXPECT_EQ(launcher::narrow_path("Z:\\????\\", L"Z:\\\u0418\u0432\u0430\u043D\\", 64), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    ansi_code_page cyrillic("1251");
    ASSERT_TRUE(cyrillic.in_effect());
    EXPECT_EQ(launcher::narrow_path("Z:\\\xC8\xE2\xE0\xED\\", L"Z:\\\u0418\u0432\u0430\u043D\\", 64),
              "Z:\\\xC8\xE2\xE0\xED\\");
}

TEST(narrow_path, falls_back_to_the_short_form_of_an_existing_path) {
    ansi_code_page western("1252");
    qv_test::test_folder folder;
    ASSERT_EQ(mkdir((folder / "caf\xE9").c_str(), 0700), 0);
    const std::wstring wide = ascii_wide(folder.dos()) + L"\\caf\u00E9";
    EXPECT_EQ(launcher::narrow_path(folder.dos() + "\\caf?", wide, 64), folder.dos() + "\\caf\xE9");
}

TEST(narrow_path, prefers_room_and_refuses_what_exceeds_max_path) {
    ansi_code_page western("1252");
    const std::string near(220, 'x');
    EXPECT_EQ(launcher::narrow_path(near, ascii_wide(near), 64), near);
    const std::string beyond(MAX_PATH, 'x');
    SetLastError(0);
    EXPECT_EQ(launcher::narrow_path(beyond, ascii_wide(beyond), 0), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace
