// The suite's fixture, its child processes and its main(): the child mode,
// then the cases, then how many of them were skipped as differences.
//
// Child actions (this program started with "--child ACTION ..."):
//   exit N                       exit with code N
//   record FILE                  write "args" and one "arg=" line per argument
//                                to FILE (a relative name: in the current
//                                directory); exit 7
//   wait FILE                    wait until FILE exists (a minute at most); exit 0
//   try MUTEX                    exit 0 when the named mutex can be taken at
//                                once, 2 when another holds it
//   hold MUTEX READY RELEASE     take the mutex, create READY, wait for
//                                RELEASE, release it; exit 0
//   abandon MUTEX                take the mutex and exit holding it; exit 0

#include "tests/win32/contract.h"

#include "platform/native_path.h"
#include "tests/win32/differences.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

namespace contract {
namespace {

std::string temp_path() {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    return length > 0 && length < MAX_PATH ? std::string(temp, length) : std::string();
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool wait_for(const std::string& path) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!exists(path)) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void write_text(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
}

int run_child(int argc, char** argv) {
    const std::string action = argc > 2 ? argv[2] : "";
    const auto argument = [&](int i) { return std::string(argc > 2 + i ? argv[2 + i] : ""); };
    if (action == "exit") return std::atoi(argument(1).c_str());
    if (action == "record") {
        std::string text = "args\n";
        for (int i = 4; i < argc; ++i) text += std::string("arg=") + argv[i] + "\n";
        write_text(argument(1), text);
        return 7;
    }
    if (action == "wait") return wait_for(argument(1)) ? 0 : 1;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, argument(1).c_str());
    if (mutex == nullptr) return 3;
    const DWORD taken = WaitForSingleObject(mutex, 0);
    if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) return 2;
    if (action == "try") {
        ReleaseMutex(mutex);
        return 0;
    }
    if (action == "hold") {
        write_text(argument(2), "");
        const bool released = wait_for(argument(3));
        ReleaseMutex(mutex);
        return released ? 0 : 1;
    }
    if (action == "abandon") return 0;
    return 4;
}

// Skipped cases, and the summary at the end of the run.
class difference_report : public testing::EmptyTestEventListener {
public:
    void OnTestEnd(const testing::TestInfo& info) override {
        ++cases_;
        if (info.result()->Skipped()) ++skipped_;
    }
    void OnTestProgramEnd(const testing::UnitTest&) override {
        std::cout << "win32 suite on " << side_name(this_side()) << ": " << cases_ << " cases, " << skipped_
                  << " skipped here as documented differences (the list: " << count(side::posix_layer)
                  << " on the POSIX layer, " << count(side::wine) << " on Wine)" << std::endl;
    }

private:
    static size_t count(side which) {
        size_t n = 0;
        for (size_t i = 0; i < difference_count; ++i) n += differences[i].where == which ? 1 : 0;
        return n;
    }
    size_t cases_ = 0;
    size_t skipped_ = 0;
};

}  // namespace

void test::SetUp() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    if (const difference* known = difference_here(std::string(info->test_suite_name()) + "." + info->name()))
        GTEST_SKIP() << "a documented difference on " << side_name(known->where) << ": " << known->reason;
    static int count = 0;
    std::error_code ignored;
    original_directory_ = std::filesystem::current_path(ignored);
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = temp_path() + "qv-win32-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(now % 1000000007) +
              "-" + std::to_string(++count);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_ << ": " << GetLastError();
}

void test::TearDown() {
    if (folder_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ignored;
    if (!original_directory_.empty()) fs::current_path(original_directory_, ignored);
    const fs::path native = platform::native_path(std::wstring(folder_.begin(), folder_.end()));
    for (const auto& entry : fs::recursive_directory_iterator(native, ignored))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(native, ignored);
}

void test::put(const std::string& name, const std::string& content) const { write_text(path(name), content); }

BOOL test::set_attributes(const std::string& name, DWORD attributes) const {
    HANDLE file = CreateFileA(path(name).c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes;
    const BOOL set = SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
    CloseHandle(file);
    return set;
}

std::string test::get(const std::string& name) const {
    HANDLE file = CreateFileA(path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    std::string content(GetFileSize(file, nullptr), '\0');
    DWORD done = 0;
    if (!content.empty()) ReadFile(file, &content[0], DWORD(content.size()), &done, nullptr);
    CloseHandle(file);
    return content.substr(0, done);
}

std::string own_path() {
    char own[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, own, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(own, length) : std::string();
}

HANDLE start_child(const std::string& parameters, const std::string& directory) {
    const std::string program = own_path();
    const std::string all = "--child " + parameters;
    SHELLEXECUTEINFOA launch =
        qv_test::launch_record(program.c_str(), all.c_str(), directory.empty() ? nullptr : directory.c_str());
    if (!ShellExecuteExA(&launch)) return nullptr;
    return launch.hProcess;
}

DWORD finish_child(HANDLE process) {
    if (process == nullptr) {
        ADD_FAILURE() << "the child did not start: " << GetLastError();
        return ~DWORD(0);
    }
    const DWORD waited = WaitForSingleObject(process, 60000);
    DWORD code = ~DWORD(0);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the child did not end within a minute";
    if (waited == WAIT_OBJECT_0) {
        EXPECT_TRUE(GetExitCodeProcess(process, &code));
    }
    CloseHandle(process);
    return code;
}

}  // namespace contract

namespace contract {
namespace {

// A listed difference must name a case of the suite, or it hides nothing
// and its count says what is not so.
bool every_difference_names_a_case() {
    bool all_found = true;
    for (size_t i = 0; i < difference_count; ++i) {
        bool found = false;
        const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
        for (int s = 0; s < unit.total_test_suite_count() && !found; ++s) {
            const testing::TestSuite& suite = *unit.GetTestSuite(s);
            for (int t = 0; t < suite.total_test_count() && !found; ++t)
                found = std::string(suite.name()) + "." + suite.GetTestInfo(t)->name() == differences[i].test;
        }
        if (!found) std::cerr << "win32 suite: the difference " << differences[i].test << " names no case\n";
        all_found = all_found && found;
    }
    return all_found;
}

}  // namespace
}  // namespace contract

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return contract::run_child(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    if (!contract::every_difference_names_a_case()) return 1;
    testing::UnitTest::GetInstance()->listeners().Append(new contract::difference_report);
    return RUN_ALL_TESTS();
}
