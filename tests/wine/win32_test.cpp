// What the POSIX layer promises of the Win32 calls the system makes,
// checked against Wine's own implementation: results and last errors of the
// file, folder and mutex calls, the log's line for a _com_error, the
// application environment from this program's own string table (the
// launcher's), and the configuration records' XML form with 16-bit wide
// characters.

#include "config/app_paths.h"
#include "config/records.h"
#include "platform/win32.h"
#include "tessel/log/dispatcher.h"
#include "tessel/real_mutex.h"

#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/nvp.hpp>
#include <comdef.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const DWORD sentinel = 0xdeadbeef;

class win32 : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(MAX_PATH, temp);
        ASSERT_GT(length, 0u);
        ASSERT_EQ(temp[length - 1], '\\');
        static int count = 0;
        folder_ = std::string(temp, length) + "qv-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount()) + "-" + std::to_string(++count);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    }
    void TearDown() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        SetCurrentDirectoryA(temp);
        std::error_code ignored;
        for (auto& entry : std::filesystem::recursive_directory_iterator(folder_, ignored))
            SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string path(const std::string& name) const { return folder_ + "\\" + name; }
    void put(const std::string& name, const std::string& content) const {
        std::ofstream(path(name), std::ios::binary) << content;
    }
    std::string get(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    HANDLE open(const std::string& name, DWORD access, DWORD disposition) const {
        return CreateFileA(path(name).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    std::map<std::string, DWORD> list(const std::string& pattern) const {
        std::map<std::string, DWORD> entries;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return entries;
        do entries[data.cFileName] = data.dwFileAttributes;
        while (FindNextFileA(find, &data));
        FindClose(find);
        return entries;
    }

    std::string folder_;
};

TEST_F(win32, file_dispositions_and_their_last_errors) {
    SetLastError(sentinel);
    HANDLE file = open("a", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
    CloseHandle(file);

    SetLastError(sentinel);
    file = open("a", GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    CloseHandle(file);
    EXPECT_EQ(get("a"), "");

    put("a", "kept");
    SetLastError(sentinel);
    file = open("a", GENERIC_WRITE, OPEN_ALWAYS);
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
        // The reader's path for a file record with an empty file name.
        {"", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        SetLastError(sentinel);
        EXPECT_EQ(open(c.name, c.access, c.disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(win32, set_file_pointer_has_thirty_two_bit_semantics) {
    put("a", "0123456789");
    HANDLE file = open("a", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), 7u);
    char bytes[4] = {};
    DWORD count = 99;
    ASSERT_TRUE(ReadFile(file, bytes, 2, &count, nullptr));
    EXPECT_EQ(std::string(bytes, count), "78");

    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(file, -10, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 9u);

    // Beyond 4 GiB without a high part Wine wraps the position where the
    // documentation (and the layer) fail the call; packages stay below.
    EXPECT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_BEGIN), 0x7fffffffu);
    EXPECT_EQ(SetFilePointer(file, 0x7fffffff, nullptr, FILE_CURRENT), 0xfffffffeu);

    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 10u);
    count = 99;
    EXPECT_TRUE(ReadFile(file, bytes, 4, &count, nullptr));
    EXPECT_EQ(count, 0u);
    CloseHandle(file);
}

TEST_F(win32, read_only_files_refuse_deletion_and_replacement) {
    put("a", "data");
    ASSERT_TRUE(SetFileAttributesA(path("a").c_str(), FILE_ATTRIBUTE_READONLY));
    // Windows adds the archive bit to files; the layer leaves it out.
    EXPECT_EQ(GetFileAttributesA(path("a").c_str()) & ~DWORD(FILE_ATTRIBUTE_ARCHIVE), DWORD(FILE_ATTRIBUTE_READONLY));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(path("a").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(get("a"), "data");
    // (Opening it for writing is refused too on Windows, but Wine running as
    // root, as the suite does, maps read-only to permissions root ignores.)

    ASSERT_TRUE(SetFileAttributesA(path("a").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(path("a").c_str()));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(path("a").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(SetFileAttributesA(path("a").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    ASSERT_TRUE(CreateDirectoryA(path("d").c_str(), nullptr));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileA(path("d").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(win32, folders_and_the_current_directory) {
    const std::string sub = path("sub");
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryA(folder_.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA(path("missing\\sub").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    put("sub\\file", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA((sub + "\\file").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
    ASSERT_TRUE(DeleteFileA((sub + "\\file").c_str()));

    ASSERT_TRUE(SetCurrentDirectoryA(sub.c_str()));
    char current[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, current), sub.size());
    EXPECT_EQ(std::string(current), sub);
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    EXPECT_TRUE(RemoveDirectoryA((sub + "\\").c_str()));
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryA(path("missing").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    put("file", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryA(path("file").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
}

TEST_F(win32, listings_have_dot_entries_first_and_survive_deletion) {
    ASSERT_TRUE(CreateDirectoryA(path("sub").c_str(), nullptr));
    put("a.txt", "hello");
    put("b.TXT", "");
    put("locked", "");
    ASSERT_TRUE(SetFileAttributesA(path("locked").c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine reports plain files as archived where the layer says normal; the
    // bits the system looks at are the directory and read-only ones.
    std::map<std::string, DWORD> all = list(folder_ + "\\*");
    for (auto& entry : all) entry.second &= FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
    const std::map<std::string, DWORD> expected = {
        {".", FILE_ATTRIBUTE_DIRECTORY}, {"..", FILE_ATTRIBUTE_DIRECTORY}, {"sub", FILE_ATTRIBUTE_DIRECTORY},
        {"a.txt", 0},                    {"b.TXT", 0},                     {"locked", FILE_ATTRIBUTE_READONLY},
    };
    EXPECT_EQ(all, expected);
    EXPECT_EQ(list(folder_ + "/*.txt").size(), 2u);

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder_ + "\\*").c_str(), &data);
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
    EXPECT_EQ(FindFirstFileA((folder_ + "\\*.none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA((folder_ + "\\missing\\*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST(win32_mutex, recursive_for_its_owner_abandoned_when_the_owner_ends) {
    tessel::real_mutex guard("Quorvane.Wine.Test");
    HANDLE global = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "Global\\Quorvane.Wine.Test");
    ASSERT_NE(global, nullptr);

    EXPECT_TRUE(guard.try_acquire(0));
    EXPECT_TRUE(guard.try_acquire(0));  // recursive
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(global, 0); }).join();
    EXPECT_EQ(other, DWORD(WAIT_TIMEOUT));
    guard.release();
    guard.release();
    SetLastError(sentinel);
    EXPECT_FALSE(ReleaseMutex(global));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));

    // A thread that ends holding it leaves it abandoned, and taken by the next waiter.
    std::thread([&] { other = WaitForSingleObject(global, 0); }).join();
    EXPECT_EQ(other, DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(global, 0), DWORD(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(global));
    std::thread([&] { other = guard.try_acquire(0) ? 1 : 0; }).join();
    EXPECT_EQ(other, 1u);
    EXPECT_TRUE(guard.try_acquire(0));
    guard.release();
    CloseHandle(global);
}

class capture : public tessel::log::listener {
public:
    explicit capture(std::vector<std::pair<int, std::string>>* lines) : lines_(lines) {}
    void write(int level, const std::string&, const std::string& text) override { lines_->push_back({level, text}); }

private:
    std::vector<std::pair<int, std::string>>* lines_;
};

TEST(win32_log, a_com_error_is_described_by_its_own_message) {
    std::vector<std::pair<int, std::string>> lines;
    tessel::log::dispatcher log;
    log.add(new capture(&lines));
    try {
        throw _com_error(static_cast<HRESULT>(0x2bad1dea));
    } catch (...) {
        log.write(5, L"at");
    }
    try {
        throw _com_error(E_POINTER);
    } catch (const _com_error& error) {
        const std::string expected = std::string("at _com_error: ") + error.ErrorMessage();
        log.write(5, L"at");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1].second, expected);
    }
    EXPECT_EQ(lines[0], std::make_pair(3, std::string("at _com_error: Unknown error 0x2BAD1DEA")));
}

TEST(win32_records, wide_text_is_utf8_in_the_xml_form) {
    config::suite_impl record;
    record.m_user_name = L"caf\xe9 \x4E2D";
    record.m_login_urls = {L"\x20AC"};
    record.m_parameters = "/v\"a<b>\"";
    std::ostringstream out;
    {
        boost::archive::xml_oarchive archive(out);
        archive << boost::serialization::make_nvp("suite", record);
    }
    const std::string document = out.str();
    EXPECT_NE(document.find("<m_user_name>caf\xc3\xa9 \xe4\xb8\xad</m_user_name>"), std::string::npos) << document;

    config::suite_impl reread;
    std::istringstream in(document);
    boost::archive::xml_iarchive archive(in);
    archive >> boost::serialization::make_nvp("suite", reread);
    EXPECT_EQ(reread.m_user_name, record.m_user_name);
    EXPECT_EQ(reread.m_login_urls, record.m_login_urls);
    EXPECT_EQ(reread.m_parameters, record.m_parameters);
}

TEST(win32_config, the_products_folders_come_from_the_string_table_and_the_shell) {
    config::init_from_resources(GetModuleHandleW(nullptr));
    EXPECT_EQ(config::get_product_name(), L"Quorvane");
    wchar_t folder[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    EXPECT_EQ(config::get_user_data_folder(), std::wstring(folder) + L"\\Lindhale\\Quorvane\\");
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    EXPECT_EQ(config::common_data_folder, std::wstring(folder) + L"\\Lindhale\\Quorvane\\");
    EXPECT_EQ(config::get_module_file_name(), L"windows_unit_tests.exe");
}

}  // namespace
