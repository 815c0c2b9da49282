// What the POSIX layer's folder functions do beyond the Win32 contract
// (tests/win32): the temporary directory from TMPDIR, drive C: from
// QV_DRIVE_C, symbolic links.

#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace {

using qv_test::sentinel;

class folders : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(getcwd(original_, sizeof(original_)), nullptr); }
    void TearDown() override { ASSERT_EQ(chdir(original_), 0); }

    qv_test::test_folder folder;
    char original_[4096];
};

TEST_F(folders, temp_path_follows_tmpdir_with_win32_length_rules) {
    qv_test::scoped_environment tmpdir("TMPDIR", folder.path());
    const std::string expected = folder.dos() + "\\";
    char buffer[MAX_PATH];
    SetLastError(sentinel);
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), expected.size());
    EXPECT_EQ(std::string(buffer), expected);
    // Exactly one short: the size needed, terminator included; nothing written.
    buffer[0] = '#';
    EXPECT_EQ(GetTempPathA(static_cast<DWORD>(expected.size()), buffer), expected.size() + 1);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetTempPathA(static_cast<DWORD>(expected.size() + 1), buffer), expected.size());

    qv_test::scoped_environment trailing("TMPDIR", folder.path() + "/");
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), expected.size());
    qv_test::scoped_environment unset("TMPDIR", std::nullopt);
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 7u);
    EXPECT_STREQ(buffer, "Z:\\tmp\\");
}

TEST_F(folders, drive_c_is_the_folder_named_by_the_environment) {
    {
        qv_test::scoped_environment drive("QV_DRIVE_C", folder.path());
        EXPECT_TRUE(CreateDirectoryA("C:\\Temp\\", nullptr));
        struct stat info;
        EXPECT_EQ(stat((folder / "Temp").c_str(), &info), 0);
    }
    qv_test::scoped_environment unmapped("QV_DRIVE_C", std::nullopt);
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryA("C:\\Temp2", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\Temp"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Symbolic links are reparse points; removing a link to a folder removes
// the link only.
TEST_F(folders, links_are_reparse_points_removed_themselves) {
    ASSERT_EQ(mkdir((folder / "sub").c_str(), 0777), 0);
    qv_test::write_file(folder / "a.txt", "hello");
    ASSERT_EQ(symlink((folder / "sub").c_str(), (folder / "link").c_str()), 0);
    ASSERT_EQ(symlink((folder / "a.txt").c_str(), (folder / "file-link").c_str()), 0);
    const std::map<std::string, DWORD> expected = {
        {".", FILE_ATTRIBUTE_DIRECTORY},
        {"..", FILE_ATTRIBUTE_DIRECTORY},
        {"sub", FILE_ATTRIBUTE_DIRECTORY},
        {"a.txt", FILE_ATTRIBUTE_ARCHIVE},
        {"link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT},
        {"file-link", FILE_ATTRIBUTE_REPARSE_POINT},
    };
    EXPECT_EQ(qv_test::list(folder.dos() + "\\*"), expected);

    qv_test::write_file(folder / "sub/inside", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA((folder.dos() + "\\file-link").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_TRUE(RemoveDirectoryA((folder.dos() + "\\link\\").c_str()));
    EXPECT_EQ(access((folder / "link").c_str(), F_OK), -1);
    EXPECT_EQ(access((folder / "sub/inside").c_str(), F_OK), 0);
}

}  // namespace
