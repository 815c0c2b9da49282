// Folders: the temporary and the current directory, creation, removal and
// listings, as the working folder's life and the log's rotation use them.

#include "tests/win32/contract.h"
#include "tests/support/win32_calls.h"

#include <map>
#include <vector>

namespace {

using contract::sentinel;

class folders : public contract::test {};

TEST_F(folders, the_temporary_directory_with_the_length_rules) {
    char buffer[MAX_PATH];
    SetLastError(sentinel);
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, DWORD(MAX_PATH));
    const std::string temp(buffer, length);
    EXPECT_EQ(temp.back(), '\\');
    EXPECT_EQ(GetFileAttributesA(temp.c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    // One short: the size needed, terminator included; nothing written.
    buffer[0] = '#';
    EXPECT_EQ(GetTempPathA(length, buffer), length + 1);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetTempPathA(length + 1, buffer), length);
    EXPECT_EQ(std::string(buffer), temp);
}

TEST_F(folders, create_and_remove_report_windows_errors) {
    const std::string sub = path("sub");
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryA(folder().c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryA(path("missing\\sub").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    put("sub\\file", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA((sub + "\\file").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
    ASSERT_TRUE(DeleteFileA((sub + "\\file").c_str()));

    // A folder in use as the current directory stays.
    ASSERT_TRUE(SetCurrentDirectoryA(sub.c_str()));
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(SetCurrentDirectoryA(folder().c_str()));
    EXPECT_TRUE(RemoveDirectoryA((sub + "\\").c_str()));
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(folders, the_current_directory) {
    const std::string sub = path("sub");
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(sub.c_str()));
    ASSERT_TRUE(CreateDirectoryA("here", nullptr));  // a relative name is found there
    EXPECT_EQ(GetFileAttributesA((sub + "\\here").c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));

    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryA(path("missing").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    put("file", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryA(path("file").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
}

TEST_F(folders, listings_have_dot_entries_first_attributes_and_wildcards) {
    ASSERT_TRUE(CreateDirectoryA(path("sub").c_str(), nullptr));
    put("a.txt", "hello");
    put("b.TXT", "");
    put("locked", "");
    ASSERT_TRUE(set_attributes("locked", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    const std::map<std::string, DWORD> all = qv_test::list(folder() + "\\*");
    const std::map<std::string, DWORD> expected = {
        {".", FILE_ATTRIBUTE_DIRECTORY},
        {"..", FILE_ATTRIBUTE_DIRECTORY},
        {"sub", FILE_ATTRIBUTE_DIRECTORY},
        {"a.txt", FILE_ATTRIBUTE_ARCHIVE},
        {"b.TXT", FILE_ATTRIBUTE_ARCHIVE},
        {"locked", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
    };
    EXPECT_EQ(all, expected);
    EXPECT_EQ(qv_test::list(folder() + "/*.txt").size(), 2u);  // case-insensitive, either separator
    EXPECT_EQ(qv_test::list(folder() + "\\?.txt").size(), 2u);
    EXPECT_EQ(qv_test::list(folder() + "\\*.*").size(), all.size());
    EXPECT_EQ(qv_test::list(folder() + "\\a.txt").size(), 1u);

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder() + "\\*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, ".");
    std::vector<std::string> seen;
    do {
        seen.push_back(data.cFileName);
        if (seen.back() == "a.txt") {
            EXPECT_EQ(data.nFileSizeLow, 5u);
        }
        if (seen.back() == "b.TXT") DeleteFileA(path(data.cFileName).c_str());
    } while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    FindClose(find);
    EXPECT_EQ(seen.size(), expected.size());

    SetLastError(sentinel);
    EXPECT_EQ(FindFirstFileA((folder() + "\\*.none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(FindFirstFileA((folder() + "\\missing\\*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

// What a tree removal does: delete every entry while walking the listing.
TEST_F(folders, a_listing_survives_the_deletion_of_its_entries) {
    put("one", "12345");
    put("two", "");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder() + "\\*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::vector<std::string> seen;
    do {
        seen.push_back(data.cFileName);
        if (seen.back() == "one") {
            EXPECT_EQ(data.nFileSizeLow, 5u);
        }
        if (seen.back() != "." && seen.back() != "..") {
            EXPECT_TRUE(DeleteFileA(path(data.cFileName).c_str()));
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
    EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
