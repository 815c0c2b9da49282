// The POSIX layer's registry: hive files, RegOpenKeyExW, RegQueryValueExW
// and RegCloseKey.

#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using qv_test::sentinel;

class posix_registry : public ::testing::Test {
protected:
    void write_hive(const std::string& bytes) { qv_test::write_file(hive_, bytes); }

    // Opens a key below HKEY_LOCAL_MACHINE with read access; fails the test otherwise.
    HKEY open(const wchar_t* path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS);
        return key;
    }

    // The text of a string value, read the way the registry module does.
    static std::wstring text_of(HKEY key, const wchar_t* name, DWORD* size_out = nullptr) {
        DWORD type = 0;
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        std::wstring buffer((size + 1) / 2, L'\0');
        DWORD received = size;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&buffer[0]), &received),
                  ERROR_SUCCESS);
        EXPECT_EQ(received, size);
        if (size_out != nullptr) *size_out = size;
        buffer.resize(size / 2);
        return buffer;
    }

    qv_test::test_folder folder_;
    const std::string hive_ = folder_ / "hive.reg";
    qv_test::scoped_environment registry_{"QV_REGISTRY", hive_};
};

const char header[] = "Windows Registry Editor Version 5.00\r\n\r\n";

TEST_F(posix_registry, reads_every_value_form_with_names_in_any_case) {
    write_hive(std::string(header) +
               "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n"
               "\"Quoted\"=\"a \\\"b\\\" c\\\\d\"\r\n"
               "@=\"default\"\r\n"
               "\"Number\"=dword:0001e240\r\n"
               "\"Bytes\"=hex:de,ad,\\\r\n"
               "  be,ef\r\n"
               "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
               "\"Wide\"=hex(1):3d,d8,00,de,00,00\r\n");
    HKEY key = open(L"SOFTWARE\\test");
    ASSERT_NE(key, nullptr);
    SetLastError(sentinel);

    DWORD size = 0;
    EXPECT_EQ(text_of(key, L"quoted", &size), std::wstring(L"a \"b\" c\\d", 10));
    EXPECT_EQ(size, 20u);  // 9 characters and the terminator, 2 bytes each
    EXPECT_EQ(text_of(key, nullptr), std::wstring(L"default", 8));
    EXPECT_EQ(text_of(key, L""), std::wstring(L"default", 8));
    EXPECT_EQ(text_of(key, L"MULTI"), std::wstring(L"a\0b\0\0", 5));
    // A surrogate pair is one character here, counted as 2 bytes.
    EXPECT_EQ(text_of(key, L"Wide", &size), std::wstring(L"\U0001F600\0", 2));
    EXPECT_EQ(size, 4u);

    DWORD type = 0;
    DWORD number = 0;
    size = sizeof(number);
    EXPECT_EQ(RegQueryValueExW(key, L"Number", nullptr, &type, reinterpret_cast<LPBYTE>(&number), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number, 123456u);
    BYTE bytes[4] = {};
    size = sizeof(bytes);
    EXPECT_EQ(RegQueryValueExW(key, L"Bytes", nullptr, &type, bytes, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 4), (std::vector<BYTE>{0xde, 0xad, 0xbe, 0xef}));
    EXPECT_EQ(GetLastError(), sentinel);  // registry functions return their code
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(posix_registry, sizes_count_two_bytes_per_character_and_short_buffers_get_more_data) {
    write_hive(std::string(header) + "[HKEY_LOCAL_MACHINE\\T]\r\n\"ab\"=\"ab\"\r\n\"odd\"=hex(1):61,00,62,00,63\r\n");
    HKEY key = open(L"T");
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"ab", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 6u);

    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    size = 4;
    EXPECT_EQ(RegQueryValueExW(key, L"ab", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(buffer[0], L'x');  // nothing copied

    size = 8;  // room for 4 characters: the 3 of the value are copied, the rest stays
    EXPECT_EQ(RegQueryValueExW(key, L"ab", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"ab\0x", 4));

    // An odd byte count is reported as stored; the odd byte is never copied.
    DWORD odd_size = 0;
    EXPECT_EQ(text_of(key, L"odd", &odd_size), L"ab");
    EXPECT_EQ(odd_size, 5u);

    EXPECT_EQ(RegQueryValueExW(key, L"ab", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"ab", &reserved, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(posix_registry, missing_keys_values_and_hive_file) {
    write_hive(std::string(header) + "[HKEY_LOCAL_MACHINE\\A\\B]\r\n\"v\"=\"1\"\r\n");
    HKEY key = nullptr;
    SetLastError(sentinel);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A\\C", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"A", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), sentinel);

    // Parents of a section exist; a trailing backslash is accepted.
    key = open(L"a\\");
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, L"b", 0, KEY_READ, &child), ERROR_SUCCESS);
    DWORD type = 7;
    DWORD size = 9;
    EXPECT_EQ(RegQueryValueExW(child, L"w", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 7u);
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(child);
    RegCloseKey(key);

    // No hive file, or no QV_REGISTRY at all: an empty registry.
    std::remove(hive_.c_str());
    key = open(nullptr);
    EXPECT_EQ(RegOpenKeyExW(key, L"A", 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    unsetenv("QV_REGISTRY");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND);
}

TEST_F(posix_registry, read_only_hive_refuses_write_access_even_to_root) {
    write_hive(std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\r\n");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(chmod(hive_.c_str(), 0444), 0);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_READ | KEY_WRITE, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_SET_VALUE, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_READ, &key), ERROR_SUCCESS);
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_WRITE, &child), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

TEST_F(posix_registry, handles_and_arguments) {
    write_hive(std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"1\"\r\n");
    HKEY root = open(nullptr);
    ASSERT_NE(root, nullptr);
    EXPECT_NE(root, HKEY_LOCAL_MACHINE);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(root, L"A", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(root), ERROR_INVALID_HANDLE);
    EXPECT_EQ(text_of(key, L"v"), std::wstring(L"1", 2));  // a key outlives its parent's handle

    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"\\A", 0, KEY_READ, &root), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 8, KEY_READ, &root), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_READ | 0x0100, &root), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(&root), L"A", 0, KEY_READ, &root), ERROR_INVALID_HANDLE);

    // A key opened without KEY_QUERY_VALUE may not be read.
    HKEY blind = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_ENUMERATE_SUB_KEYS, &blind), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(blind, L"v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    RegCloseKey(blind);
    RegCloseKey(key);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(posix_registry, deletions_are_honoured) {
    write_hive(std::string(header) +
               "[HKEY_LOCAL_MACHINE\\A\\Gone]\r\n\"x\"=\"1\"\r\n"
               "[HKEY_LOCAL_MACHINE\\A]\r\n\"keep\"=\"1\"\r\n\"drop\"=\"1\"\r\n"
               "[-HKEY_LOCAL_MACHINE\\A\\Gone]\r\n\"ignored\"=\"1\"\r\n"
               "[-HKEY_LOCAL_MACHINE\\Never\\There]\r\n"
               "[HKEY_LOCAL_MACHINE\\A]\r\n\"drop\"=-\r\n");
    HKEY key = open(L"A");
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, L"Gone", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"keep", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, L"drop", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(posix_registry, utf16_utf8_and_ansi_files_read_alike) {
    const std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\\u00c9t\u00e9]\r\n"
                              L"\"name\"=\"caf\u00e9\"\r\n";
    std::string utf16 = "\xff\xfe";
    std::string utf8 = "\xef\xbb\xbf";
    std::string ansi;
    for (wchar_t c : text) {
        utf16 += static_cast<char>(c & 0xff);
        utf16 += static_cast<char>(c >> 8);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
        ansi += static_cast<char>(c);  // 1252 agrees with Latin-1 here
    }
    for (const std::string& bytes : {utf16, utf8, utf8.substr(3), ansi}) {
        write_hive(bytes);
        HKEY key = open(L"\u00e9T\u00c9");  // case folds beyond ASCII too
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(text_of(key, L"NAME"), std::wstring(L"caf\u00e9", 5));
        RegCloseKey(key);
    }
}

TEST_F(posix_registry, malformed_hive_is_a_corrupt_database) {
    const std::vector<std::string> faults = {
        "[HKEY_LOCAL_MACHINE\\A]\r\n",                                   // no header
        std::string(header) + "\"v\"=\"outside a key\"\r\n",            //
        std::string(header) + "[HKEY_NOWHERE\\A]\r\n",                   //
        std::string(header) + "[HKEY_LOCAL_MACHINE\\A\r\n",              //
        std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=dword:123456789\r\n",
        std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:1g\r\n",
        std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"open\r\n",
        std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=text\r\n",
        std::string(header) + "[HKEY_LOCAL_MACHINE\\A]\r\nstray\r\n",
    };
    for (const std::string& bytes : faults) {
        write_hive(bytes);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key), ERROR_BADDB) << bytes;
    }
}

}  // namespace
