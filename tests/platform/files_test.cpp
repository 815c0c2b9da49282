// What the POSIX layer's file functions do beyond the Win32 contract
// (tests/win32): the arguments it refuses, writes past the file size
// limit, links opened themselves, the folders it holds in place, and the
// owners it tells.

#include "platform/posix/internal/dos_path.h"
#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

using qv_test::sentinel;

class FilesTest : public ::testing::Test {
protected:
    std::string posix(const std::string& name) const { return folder_ / name; }
    std::string dos(const std::string& name) const { return qv_posix::to_dos_path(posix(name)); }

    void put(const std::string& name, const std::string& content) { qv_test::write_file(posix(name), content); }
    std::string get(const std::string& name) const { return qv_test::read_file(posix(name)); }
    bool exists(const std::string& name) const { return access(posix(name).c_str(), F_OK) == 0; }

    HANDLE open(const std::string& name, DWORD access_mode, DWORD disposition) {
        return CreateFileA(dos(name).c_str(), access_mode, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    qv_test::test_folder folder_;
};

TEST_F(FilesTest, UnsupportedArgumentsAreRefused) {
    const std::string name = dos("a");
    struct {
        DWORD access_mode, share, disposition, flags;
    } cases[] = {
        {0, 0, OPEN_ALWAYS, 0},                                 // no access
        {GENERIC_READ, 0x80, OPEN_ALWAYS, 0},                   // unknown share bit
        {GENERIC_READ, 0, 0, 0},                                // no disposition
        {GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN}, // no hidden files here
        {GENERIC_WRITE, 0, OPEN_ALWAYS, 0x40000000},            // overlapped
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        EXPECT_EQ(CreateFileA(name.c_str(), c.access_mode, c.share, nullptr, c.disposition, c.flags, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    EXPECT_FALSE(exists("a"));
}

// Writes data to file, then closes it, while the process may write files of
// limit_bytes at the most: the call's result, written count and last error.
struct limited_write {
    BOOL ok;
    DWORD written;
    DWORD error;
};

limited_write write_under_limit(HANDLE file, const std::string& data, rlim_t limit_bytes) {
    struct rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    struct rlimit limit = old_limit;
    limit.rlim_cur = limit_bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    limited_write result{FALSE, 99, 0};
    SetLastError(sentinel);
    result.ok = WriteFile(file, data.data(), DWORD(data.size()), &result.written, nullptr);
    result.error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    CloseHandle(file);
    return result;
}

TEST_F(FilesTest, AWriteThatDoesNotFitFailsWithoutEndingTheProcess) {
    HANDLE file = open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const limited_write result = write_under_limit(file, std::string(10000, 'x'), 4096);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, DWORD(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(result.written, 4096u);  // the bytes that did reach the file
}

// Large writes go out in pieces: a failure in a later piece still counts
// the bytes before it.
TEST_F(FilesTest, ALargeWriteThatDoesNotFitCountsWhatArrived) {
    std::string data(200001, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 131 % 251);
    HANDLE file = open("b", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const limited_write result = write_under_limit(file, data, 150000);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, DWORD(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(result.written, 150000u);
    EXPECT_EQ(get("b"), data.substr(0, 150000));
}

TEST_F(FilesTest, UnsupportedAttributesAndMovesAreRefused) {
    ASSERT_EQ(mkdir(posix("d").c_str(), 0755), 0);
    put("a", "x");
    for (const auto& [name, attributes] : {std::make_pair("d", DWORD(FILE_ATTRIBUTE_READONLY)),
                                           std::make_pair("a", DWORD(FILE_ATTRIBUTE_HIDDEN))}) {
        HANDLE file = CreateFileA(dos(name).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = attributes;
        SetLastError(sentinel);
        EXPECT_FALSE(SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic))) << name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << name;
        CloseHandle(file);
    }
    put("c", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(dos("c").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
}

// Windows opens a symbolic link itself with FILE_FLAG_OPEN_REPARSE_POINT;
// here its handle can tell what it is, and nothing goes through it.
TEST_F(FilesTest, a_link_opened_itself_is_a_reparse_point_and_leads_nowhere) {
    put("target", "kept");
    ASSERT_EQ(symlink(posix("target").c_str(), posix("link").c_str()), 0);
    const auto open_link = [&](DWORD disposition) {
        return CreateFileA(dos("link").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    HANDLE link = open_link(OPEN_ALWAYS);
    ASSERT_NE(link, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information;
    ASSERT_TRUE(GetFileInformationByHandle(link, &information));
    EXPECT_EQ(information.dwFileAttributes, DWORD(FILE_ATTRIBUTE_REPARSE_POINT));
    DWORD done = 0;
    SetLastError(sentinel);
    EXPECT_FALSE(WriteFile(link, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(link);
    SetLastError(sentinel);
    EXPECT_EQ(open_link(CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(get("target"), "kept");
}

// A folder held without FILE_SHARE_DELETE must stay where it is; POSIX
// cannot refuse others a rename, so it is held only where nobody else can
// move it or a folder above it.
TEST_F(FilesTest, a_folder_is_held_only_where_no_other_account_can_move_it) {
    const auto hold = [&](const std::string& name, DWORD share) {
        HANDLE folder = CreateFileA(dos(name).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const bool held = folder != INVALID_HANDLE_VALUE;
        if (held) CloseHandle(folder);
        return held;
    };
    for (const char* name : {"open", "open/private", "sticky", "sticky/private"}) mkdir(posix(name).c_str(), 0700);
    chmod(posix("open").c_str(), 0777);
    chmod(posix("sticky").c_str(), 01777);
    EXPECT_TRUE(hold("sticky/private", FILE_SHARE_READ | FILE_SHARE_WRITE));
    SetLastError(sentinel);
    EXPECT_FALSE(hold("open/private", FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(hold("open/private", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    ASSERT_EQ(symlink(posix("sticky/private").c_str(), posix("sticky/link").c_str()), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(lchown(posix("sticky/link").c_str(), 65534, 65534), 0);  // another account's link on the way
        EXPECT_FALSE(hold("sticky/link/", FILE_SHARE_READ | FILE_SHARE_WRITE));
    }
}

// The disposition is carried out by name, so only while the name still
// leads to the handle's own folder.
TEST_F(FilesTest, a_disposition_removes_only_what_its_handle_opened) {
    mkdir(posix("made").c_str(), 0700);
    HANDLE folder = CreateFileA(dos("made").c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    ASSERT_EQ(rename(posix("made").c_str(), posix("moved").c_str()), 0);
    mkdir(posix("made").c_str(), 0700);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetLastError(sentinel);
    EXPECT_FALSE(SetFileInformationByHandle(folder, FileDispositionInfo, &disposition, sizeof(disposition)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    CloseHandle(folder);
    struct stat status;
    EXPECT_EQ(stat(posix("made").c_str(), &status), 0);
}

// What root owns reads as the administrators' (as what an elevated
// administrator makes on Windows); another user's file as that user's.
TEST_F(FilesTest, a_files_owner_is_the_administrators_or_its_user) {
    put("file", "x");
    const auto owner_is = [&](const auto& expected) {
        HANDLE file = CreateFileA(dos("file").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_EQ(GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                                  &descriptor),
                  DWORD(ERROR_SUCCESS));
        BOOL member = FALSE;
        const bool matches = expected(owner, CheckTokenMembership(nullptr, owner, &member) && member);
        LocalFree(descriptor);
        CloseHandle(file);
        return matches;
    };
    EXPECT_TRUE(owner_is([](PSID owner, bool member) {
        return member && IsWellKnownSid(owner, WinBuiltinAdministratorsSid) == (geteuid() == 0);
    }));
    if (geteuid() != 0) return;
    ASSERT_EQ(chown(posix("file").c_str(), 65534, 65534), 0);
    EXPECT_TRUE(owner_is([](PSID owner, bool member) {
        return !member && !IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
               !IsWellKnownSid(owner, WinLocalSystemSid);
    }));
}

}  // namespace
