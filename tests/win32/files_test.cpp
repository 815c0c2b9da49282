// Files: CreateFileA's dispositions, the 32-bit file pointer, reads and
// writes, sizes, attributes and moves.

#include "tests/win32/contract.h"
#include "tests/support/win32_calls.h"

namespace {

using contract::sentinel;

class files : public contract::test {
protected:
    HANDLE open(const std::string& name, DWORD access, DWORD disposition,
                DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) const {
        return CreateFileA(path(name).c_str(), access, share, nullptr, disposition,
                           FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    DWORD attributes(const std::string& name) const { return GetFileAttributesA(path(name).c_str()); }
};

TEST_F(files, dispositions_report_whether_the_file_existed) {
    SetLastError(sentinel);
    HANDLE file = open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(CloseHandle(file));

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

    const struct {
        const char* name;
        DWORD access, disposition, error;
    } refused[] = {
        {"a", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {"missing", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"missing\\a", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"no/such/file", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        SetLastError(sentinel);
        EXPECT_EQ(open(c.name, c.access, c.disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

// The reader's path for a file record with an empty file name.
TEST_F(files, a_folder_cannot_be_opened_as_a_file) {
    for (DWORD access : {DWORD(GENERIC_READ), DWORD(GENERIC_WRITE)}) {
        for (DWORD disposition : {DWORD(OPEN_EXISTING), DWORD(CREATE_ALWAYS)}) {
            SetLastError(sentinel);
            EXPECT_EQ(open("", access, disposition), INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED)) << access << " " << disposition;
        }
    }
}

// What a handle tells of its file: an identity that every handle to it
// shares, one name, its size; a folder opened with backup semantics.
TEST_F(files, handle_information_tells_the_file_apart) {
    put("a", "hello");
    put("b", "hello");
    HANDLE handles[] = {open("a", GENERIC_READ, OPEN_EXISTING), open("a", GENERIC_WRITE, OPEN_EXISTING),
                        open("b", GENERIC_READ, OPEN_EXISTING),
                        CreateFileA(folder().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    BY_HANDLE_FILE_INFORMATION information[4];
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(handles[i], INVALID_HANDLE_VALUE) << i;
        ASSERT_TRUE(GetFileInformationByHandle(handles[i], &information[i])) << i;
        CloseHandle(handles[i]);
    }
    const auto same = [](const BY_HANDLE_FILE_INFORMATION& x, const BY_HANDLE_FILE_INFORMATION& y) {
        return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
               x.nFileIndexLow == y.nFileIndexLow;
    };
    EXPECT_TRUE(same(information[0], information[1]));
    EXPECT_FALSE(same(information[0], information[2]));
    EXPECT_EQ(information[0].nNumberOfLinks, 1u);
    EXPECT_EQ(information[0].nFileSizeLow, 5u);
    EXPECT_EQ(information[0].dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), 0u);
    EXPECT_EQ(information[3].dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              DWORD(FILE_ATTRIBUTE_DIRECTORY));
}

// Through a handle: a file's attributes set, and an empty folder removed.
TEST_F(files, set_information_acts_on_the_handles_file) {
    put("a", "x");
    for (DWORD attributes : {DWORD(FILE_ATTRIBUTE_READONLY), DWORD(FILE_ATTRIBUTE_NORMAL)}) {
        HANDLE file = open("a", FILE_WRITE_ATTRIBUTES, OPEN_EXISTING);
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = attributes;
        EXPECT_TRUE(SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)));
        CloseHandle(file);
        EXPECT_EQ(GetFileAttributesA(path("a").c_str()) & FILE_ATTRIBUTE_READONLY,
                  attributes & FILE_ATTRIBUTE_READONLY);
    }
    ASSERT_TRUE(CreateDirectoryA(path("d").c_str(), nullptr));
    put("d\\f", "x");
    HANDLE folder = CreateFileA(path("d").c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetLastError(sentinel);
    EXPECT_FALSE(SetFileInformationByHandle(folder, FileDispositionInfo, &disposition, sizeof(disposition)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    ASSERT_TRUE(DeleteFileA(path("d\\f").c_str()));
    EXPECT_TRUE(SetFileInformationByHandle(folder, FileDispositionInfo, &disposition, sizeof(disposition)));
    CloseHandle(folder);
    EXPECT_EQ(GetFileAttributesA(path("d").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(files, set_file_pointer_has_thirty_two_bit_semantics) {
    put("a", "0123456789");
    HANDLE file = open("a", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
    char bytes[4] = {};
    DWORD count = 99;
    ASSERT_TRUE(ReadFile(file, bytes, 2, &count, nullptr));
    EXPECT_EQ(std::string(bytes, count), "78");
    EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_CURRENT), 4u);

    // Before the start: refused, the position stays.
    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, -10, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 4u);

    EXPECT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_BEGIN), 0x7fffffffu);
    EXPECT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_CURRENT), 0xfffffffeu);

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
    count = 99;
    EXPECT_TRUE(ReadFile(file, bytes, 4, &count, nullptr));
    EXPECT_EQ(count, 0u);

    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    CloseHandle(file);
}

// A package ends before 4 GiB; a position beyond cannot be returned whole.
TEST_F(files, a_seek_beyond_4_gib_without_a_high_part_fails) {
    put("a", "0123456789");
    HANDLE file = open("a", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_BEGIN), 0x7fffffffu);
    ASSERT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_CURRENT), 0xfffffffeu);
    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 0xfffffffeu);
    CloseHandle(file);
}

TEST_F(files, access_is_checked_per_handle) {
    put("a", "abc");
    HANDLE reader = open("a", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    DWORD count = 99;
    SetLastError(sentinel);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(count, 0u);

    HANDLE writer = open("a", GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
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

TEST_F(files, set_end_of_file_needs_write_access) {
    put("a", "abc");
    HANDLE reader = open("a", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    SetLastError(sentinel);
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
    EXPECT_EQ(get("a"), "abc");
}

TEST_F(files, size_and_end_of_file) {
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

// One WriteFile of a whole packed file: every byte arrives, in order.
TEST_F(files, a_large_write_arrives_whole) {
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
}

// The archive bit is set along with the read-only one: Windows sets exactly
// the attributes given (see set_attributes_replaces_the_archive_bit).
TEST_F(files, read_only_files_refuse_deletion) {
    put("a", "data");
    ASSERT_TRUE(set_attributes("a", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(attributes("a"), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(path("a").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(get("a"), "data");
    HANDLE reader = open("a", GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);

    // As the installer log's option clears it.
    ASSERT_TRUE(set_attributes("a", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(attributes("a") & FILE_ATTRIBUTE_READONLY, 0u);
    ASSERT_TRUE(set_attributes("a", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(attributes("a"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    SetLastError(sentinel);
    EXPECT_TRUE(DeleteFileA(path("a").c_str()));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(path("a").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(attributes("a"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

// Also for root, the user the launcher runs as when it is given the rights.
TEST_F(files, read_only_files_refuse_writers) {
    put("a", "data");
    put("other", "other");
    ASSERT_TRUE(set_attributes("a", FILE_ATTRIBUTE_READONLY));
    SetLastError(sentinel);
    EXPECT_EQ(open("a", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(path("other").c_str(), path("a").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(get("a"), "data");
}

// Windows marks every new or rewritten file for backup.
TEST_F(files, files_carry_the_archive_attribute_and_folders_the_directory_one) {
    put("a", "x");
    EXPECT_EQ(attributes("a"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path("a").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_ARCHIVE));
    FindClose(find);

    ASSERT_TRUE(CreateDirectoryA(path("d").c_str(), nullptr));
    EXPECT_EQ(attributes("d"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(path("d").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(set_attributes("d", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(attributes("d"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
}

// A handle's basic information sets exactly the attributes it is given, so
// the archive bit goes unless it is named; a rewrite sets it again.
TEST_F(files, set_attributes_replaces_the_archive_bit) {
    put("a", "x");
    ASSERT_TRUE(set_attributes("a", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(attributes("a"), DWORD(FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(set_attributes("a", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(attributes("a"), DWORD(FILE_ATTRIBUTE_NORMAL));
    put("a", "y");
    EXPECT_EQ(attributes("a"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(files, move_file) {
    put("a", "one");
    put("b", "two");
    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(path("a").c_str(), path("b").c_str(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(get("b"), "two");

    ASSERT_TRUE(MoveFileExA(path("a").c_str(), path("b").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(get("b"), "one");
    EXPECT_EQ(attributes("a"), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(MoveFileExA(path("b").c_str(), path("c").c_str(), 0));
    EXPECT_EQ(get("c"), "one");

    SetLastError(sentinel);
    EXPECT_FALSE(MoveFileExA(path("missing").c_str(), path("x").c_str(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

}  // namespace

// What no Windows name holds: < > " | ? * and the characters 1 to 31, in
// the last component or any other.
TEST_F(files, names_windows_refuses_fail_every_name_taking_function) {
    put("good", "x");
    ASSERT_TRUE(CreateDirectoryA(path("folder").c_str(), nullptr));
    for (const char c : std::string("<>\"|?*\x01\x09\x1f")) {
        const std::string bad = path(std::string("a") + c + "b");
        const std::string good = path("good");
        SCOPED_TRACE(int(c));
        for (const std::string& name : {bad, bad + "\\x", path(std::string("folder\\") + c)}) {
            const auto refused = [&](const char* call, bool failed) {
                EXPECT_TRUE(failed) << call << " " << name;
                EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME)) << call << " " << name;
                SetLastError(sentinel);
            };
            SetLastError(sentinel);
            refused("CreateFileA", CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE);
            refused("CreateFileA (open)", CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE);
            refused("CreateDirectoryA", !CreateDirectoryA(name.c_str(), nullptr));
            refused("RemoveDirectoryA", !RemoveDirectoryA(name.c_str()));
            refused("DeleteFileA", !DeleteFileA(name.c_str()));
            refused("MoveFileExA (to)", !MoveFileExA(good.c_str(), name.c_str(), 0));
            refused("MoveFileExA (from)", !MoveFileExA(name.c_str(), good.c_str(), 0));
            refused("GetFileAttributesA", GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES);
            refused("SetCurrentDirectoryA", !SetCurrentDirectoryA(name.c_str()));
        }
        // A listing's pattern: in a folder's name refused, in the last
        // component (besides the wildcards) matching nothing.
        WIN32_FIND_DATAA data;
        SetLastError(sentinel);
        EXPECT_EQ(FindFirstFileA((bad + "\\*").c_str(), &data), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
        if (c != '?' && c != '*') {
            SetLastError(sentinel);
            EXPECT_EQ(FindFirstFileA(bad.c_str(), &data), INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
        }
    }
    EXPECT_EQ(qv_test::list(path("g*")).size(), 1u);  // a trailing wildcard is a pattern, not a name
    EXPECT_EQ(qv_test::list(path("go?d")).size(), 1u);
    EXPECT_EQ(get("good"), "x");
}
