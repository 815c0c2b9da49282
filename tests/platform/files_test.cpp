// The file functions of the POSIX layer: results and last errors.

#include "platform/posix/internal/dos_path.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const DWORD sentinel = 0xdeadbeef;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/files_test.XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("chmod -R u+w '" + dir_ + "' && rm -rf '" + dir_ + "'").c_str()); }

    std::string posix(const std::string& name) const { return dir_ + "/" + name; }
    std::string dos(const std::string& name) const { return qv_posix::to_dos_path(posix(name)); }

    void put(const std::string& name, const std::string& content) {
        std::ofstream(posix(name), std::ios::binary) << content;
    }
    std::string get(const std::string& name) const {
        std::ifstream in(posix(name), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    bool exists(const std::string& name) const { return access(posix(name).c_str(), F_OK) == 0; }

    HANDLE open(const std::string& name, DWORD access_mode, DWORD disposition) {
        return CreateFileA(dos(name).c_str(), access_mode, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    std::string dir_;
};

TEST_F(FilesTest, DispositionsReportWhetherTheFileExisted) {
    SetLastError(sentinel);
    HANDLE file = open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    ASSERT_TRUE(CloseHandle(file));

    SetLastError(sentinel);
    file = open("a", GENERIC_WRITE, CREATE_ALWAYS);  // replaced, emptied
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    CloseHandle(file);
    EXPECT_EQ(get("a"), "");

    put("a", "kept");
    SetLastError(sentinel);
    file = open("a", GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    CloseHandle(file);
    EXPECT_EQ(get("a"), "kept");

    SetLastError(sentinel);
    EXPECT_EQ(open("a", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));

    SetLastError(sentinel);
    EXPECT_EQ(open("missing", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(open("no/such/file", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

    file = open("a", GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(get("a"), "");
}

TEST_F(FilesTest, ADirectoryCannotBeOpenedAsAFile) {
    const std::string folder = qv_posix::to_dos_path(dir_) + "\\";  // a folder path and an empty file name
    for (DWORD access_mode : {DWORD(GENERIC_READ), DWORD(GENERIC_WRITE)}) {
        for (DWORD disposition : {DWORD(OPEN_EXISTING), DWORD(CREATE_ALWAYS)}) {
            SetLastError(sentinel);
            EXPECT_EQ(CreateFileA(folder.c_str(), access_mode, FILE_SHARE_READ, nullptr, disposition,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr),
                      INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        }
    }
}

TEST_F(FilesTest, UnsupportedArgumentsAreRefused) {
    const std::string name = dos("a");
    struct {
        DWORD access_mode, share, disposition, flags;
    } cases[] = {
        {0, 0, OPEN_ALWAYS, 0},                                 // no access
        {GENERIC_READ, 0x80, OPEN_ALWAYS, 0},                   // unknown share bit
        {GENERIC_READ, 0, 0, 0},                                // no disposition
        {GENERIC_READ, 0, TRUNCATE_EXISTING, 0},                // truncation needs write access
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

TEST_F(FilesTest, SetFilePointerHasThirtyTwoBitSemantics) {
    put("a", "0123456789");
    HANDLE file = open("a", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
    char bytes[4] = {};
    DWORD read_count = 99;
    ASSERT_TRUE(ReadFile(file, bytes, 2, &read_count, nullptr));
    EXPECT_EQ(read_count, 2u);
    EXPECT_EQ(std::string(bytes, 2), "78");
    EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_CURRENT), 4u);

    // Before the start: refused, the position stays.
    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 4u);

    // Beyond 4 GiB cannot be expressed without a high part.
    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_BEGIN), 0x7fffffffu);
    EXPECT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_CURRENT), 0xfffffffeu);
    EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 0xfffffffeu);

    // With a high part: 64-bit positions, and 0xFFFFFFFF is told apart by the last error.
    LONG high = 0;
    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(high, 0);
    high = 1;
    EXPECT_EQ(SetFilePointer(file, 5, &high, FILE_BEGIN), 5u);
    EXPECT_EQ(high, 1);

    // Reading past the end succeeds with no bytes.
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 10u);
    read_count = 99;
    EXPECT_TRUE(ReadFile(file, bytes, 4, &read_count, nullptr));
    EXPECT_EQ(read_count, 0u);

    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    CloseHandle(file);
}

TEST_F(FilesTest, AccessIsCheckedPerHandle) {
    put("a", "abc");
    HANDLE reader = open("a", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    DWORD count = 99;
    SetLastError(sentinel);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(count, 0u);
    SetLastError(sentinel);
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    HANDLE writer = open("a", GENERIC_WRITE, OPEN_EXISTING);
    char byte;
    SetLastError(sentinel);
    EXPECT_FALSE(ReadFile(writer, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(writer);

    // A closed handle is no longer one.
    ASSERT_TRUE(CloseHandle(reader));
    SetLastError(sentinel);
    EXPECT_FALSE(ReadFile(reader, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_EQ(GetFileSize(reader, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(FilesTest, SizeAndEndOfFile) {
    HANDLE file = open("a", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "0123456789", 10, &count, nullptr));
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), 10u);
    EXPECT_EQ(high, 0u);
    ASSERT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
    ASSERT_TRUE(SetEndOfFile(file));
    EXPECT_EQ(GetFileSize(file, nullptr), 4u);
    // Growing: the gap reads as zero bytes.
    ASSERT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    EXPECT_EQ(get("a"), std::string("0123\0\0", 6));
}

TEST_F(FilesTest, AWriteThatDoesNotFitFailsWithoutEndingTheProcess) {
    HANDLE file = open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    struct rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    struct rlimit limit = old_limit;
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string data(10000, 'x');
    DWORD written = 99;
    SetLastError(sentinel);
    const BOOL ok = WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
    const DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    CloseHandle(file);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, DWORD(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(written, 4096u);  // the bytes that did reach the file
}

// Large writes go out in pieces: every byte arrives in order, and a failure
// in a later piece still counts the bytes before it.
TEST_F(FilesTest, ALargeWriteArrivesWholeOrCountsWhatArrived) {
    std::string data(200001, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 131 % 251);
    HANDLE file = open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    SetLastError(sentinel);
    EXPECT_TRUE(WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(written, data.size());
    CloseHandle(file);
    EXPECT_EQ(get("a"), data);

    file = open("b", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    struct rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    struct rlimit limit = old_limit;
    limit.rlim_cur = 150000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    SetLastError(sentinel);
    const BOOL ok = WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
    const DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    CloseHandle(file);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, DWORD(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(written, 150000u);
    EXPECT_EQ(get("b"), data.substr(0, 150000));
}

TEST_F(FilesTest, ReadOnlyFilesAreProtectedEvenFromRoot) {
    put("a", "data");
    SetLastError(sentinel);
    ASSERT_TRUE(SetFileAttributesA(dos("a").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesA(dos("a").c_str()), DWORD(FILE_ATTRIBUTE_READONLY));

    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(dos("a").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    SetLastError(sentinel);
    EXPECT_EQ(open("a", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(get("a"), "data");
    HANDLE reader = open("a", GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);

    ASSERT_TRUE(SetFileAttributesA(dos("a").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA(dos("a").c_str()), DWORD(FILE_ATTRIBUTE_NORMAL));
    SetLastError(sentinel);
    EXPECT_TRUE(DeleteFileA(dos("a").c_str()));
    EXPECT_FALSE(exists("a"));

    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(dos("a").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(GetFileAttributesA(dos("a").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(SetFileAttributesA(dos("a").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, FoldersAndUnsupportedAttributes) {
    ASSERT_EQ(mkdir(posix("d").c_str(), 0755), 0);
    EXPECT_EQ(GetFileAttributesA(dos("d").c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(dos("d").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(SetFileAttributesA(dos("d").c_str(), FILE_ATTRIBUTE_NORMAL));
    SetLastError(sentinel);
    EXPECT_FALSE(SetFileAttributesA(dos("d").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    put("a", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(SetFileAttributesA(dos("a").c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(FilesTest, CopyFile) {
    put("a", std::string(3 << 20, 'q') + "end");  // more than one copy buffer
    ASSERT_TRUE(SetFileAttributesA(dos("a").c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(sentinel);
    ASSERT_TRUE(CopyFileA(dos("a").c_str(), dos("b").c_str(), TRUE));
    EXPECT_EQ(get("b"), get("a"));
    EXPECT_EQ(GetFileAttributesA(dos("b").c_str()), DWORD(FILE_ATTRIBUTE_READONLY));  // attributes travel along

    SetLastError(sentinel);
    EXPECT_FALSE(CopyFileA(dos("a").c_str(), dos("b").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    SetLastError(sentinel);
    EXPECT_FALSE(CopyFileA(dos("a").c_str(), dos("b").c_str(), FALSE));  // b is read-only
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    put("c", "old");
    ASSERT_TRUE(CopyFileA(dos("a").c_str(), dos("c").c_str(), FALSE));
    EXPECT_EQ(get("c").size(), size_t(3 << 20) + 3);

    // Onto itself: refused, nothing lost.
    put("d", "precious");
    SetLastError(sentinel);
    EXPECT_FALSE(CopyFileA(dos("d").c_str(), dos("d").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(get("d"), "precious");

    SetLastError(sentinel);
    EXPECT_FALSE(CopyFileA(dos("missing").c_str(), dos("e").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(exists("e"));
}

TEST_F(FilesTest, MoveFile) {
    put("a", "one");
    put("b", "two");
    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(dos("a").c_str(), dos("b").c_str(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(get("b"), "two");

    ASSERT_TRUE(MoveFileExA(dos("a").c_str(), dos("b").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(get("b"), "one");
    EXPECT_FALSE(exists("a"));

    ASSERT_TRUE(MoveFileExA(dos("b").c_str(), dos("c").c_str(), 0));
    EXPECT_EQ(get("c"), "one");

    put("r", "read-only");
    ASSERT_TRUE(SetFileAttributesA(dos("r").c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(dos("c").c_str(), dos("r").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(dos("missing").c_str(), dos("x").c_str(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(dos("c").c_str(), dos("x").c_str(), 0x4 /* delay until reboot */));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
