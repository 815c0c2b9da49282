// Folders of the POSIX layer: temporary and current directory, creation,
// removal and listing.

#include "platform/win32.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace {

const DWORD sentinel = 0xdeadbeef;

class folders : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(getcwd(original_, sizeof(original_)), nullptr); }
    void TearDown() override { ASSERT_EQ(chdir(original_), 0); }

    // Every entry of a listing, name -> attributes.
    std::map<std::string, DWORD> list(const std::string& pattern) {
        std::map<std::string, DWORD> entries;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return entries;
        do entries[data.cFileName] = data.dwFileAttributes;
        while (FindNextFileA(find, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(find));
        return entries;
    }

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

TEST_F(folders, create_and_remove_report_windows_errors) {
    const std::string sub = folder.dos() + "\\sub";
    SetLastError(sentinel);
    EXPECT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA((folder.dos() + "\\missing\\sub").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    qv_test::write_file(folder / "sub/file", "x");
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA((sub + "\\file").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    ASSERT_EQ(unlink((folder / "sub/file").c_str()), 0);

    // Like Windows, a folder in use as the current directory stays.
    ASSERT_TRUE(SetCurrentDirectoryA(sub.c_str()));
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.dos().c_str()));
    EXPECT_TRUE(RemoveDirectoryA((sub + "\\").c_str()));
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
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

TEST_F(folders, current_directory_round_trip) {
    ASSERT_TRUE(SetCurrentDirectoryA(folder.dos().c_str()));
    char buffer[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), folder.dos().size());
    EXPECT_EQ(std::string(buffer), folder.dos());
    EXPECT_EQ(GetCurrentDirectoryA(3, buffer), folder.dos().size() + 1);

    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryA((folder.dos() + "\\missing").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    qv_test::write_file(folder / "file", "x");
    EXPECT_FALSE(SetCurrentDirectoryA((folder.dos() + "\\file").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(folders, listing_has_dot_entries_attributes_and_wildcards) {
    ASSERT_EQ(mkdir((folder / "sub").c_str(), 0777), 0);
    qv_test::write_file(folder / "a.txt", "hello");
    qv_test::write_file(folder / "b.TXT", "");
    qv_test::write_file(folder / "locked", "");
    ASSERT_EQ(chmod((folder / "locked").c_str(), 0444), 0);
    ASSERT_EQ(symlink((folder / "sub").c_str(), (folder / "link").c_str()), 0);
    ASSERT_EQ(symlink((folder / "a.txt").c_str(), (folder / "file-link").c_str()), 0);

    const std::map<std::string, DWORD> all = list(folder.dos() + "\\*");
    const std::map<std::string, DWORD> expected = {
        {".", FILE_ATTRIBUTE_DIRECTORY},
        {"..", FILE_ATTRIBUTE_DIRECTORY},
        {"sub", FILE_ATTRIBUTE_DIRECTORY},
        {"a.txt", FILE_ATTRIBUTE_NORMAL},
        {"b.TXT", FILE_ATTRIBUTE_NORMAL},
        {"locked", FILE_ATTRIBUTE_READONLY},
        {"link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT},
        {"file-link", FILE_ATTRIBUTE_REPARSE_POINT},
    };
    EXPECT_EQ(all, expected);

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder.dos() + "\\*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, ".");  // the dot entries come first
    FindClose(find);

    EXPECT_EQ(list(folder.dos() + "/*.txt").size(), 2u);  // case-insensitive, either separator
    EXPECT_EQ(list(folder.dos() + "\\?.txt").size(), 2u);
    EXPECT_EQ(list(folder.dos() + "\\*.*").size(), all.size());
    const auto one = list(folder.dos() + "\\a.txt");
    ASSERT_EQ(one.size(), 1u);

    SetLastError(sentinel);
    EXPECT_EQ(FindFirstFileA((folder.dos() + "\\*.none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA((folder.dos() + "\\missing\\*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // Removing a link to a folder removes the link only.
    qv_test::write_file(folder / "sub/inside", "x");
    EXPECT_FALSE(RemoveDirectoryA((folder.dos() + "\\file-link").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_TRUE(RemoveDirectoryA((folder.dos() + "\\link\\").c_str()));
    EXPECT_EQ(access((folder / "link").c_str(), F_OK), -1);
    EXPECT_EQ(access((folder / "sub/inside").c_str(), F_OK), 0);
}

TEST_F(folders, listing_reports_size_and_survives_deletion_while_walking) {
    qv_test::write_file(folder / "one", "12345");
    qv_test::write_file(folder / "two", "");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder.dos() + "\\*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::vector<std::string> seen;
    do {
        seen.push_back(data.cFileName);
        if (seen.back() == "one") {
            EXPECT_EQ(data.nFileSizeLow, 5u);
        }
        // Deleting entries while walking is what a tree removal does.
        if (seen.back() != "." && seen.back() != "..") unlink((folder / data.cFileName).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
    EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
