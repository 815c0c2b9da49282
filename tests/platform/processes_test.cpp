// Processes of the POSIX layer: argument splitting, ShellExecuteExA, waits
// and exit codes.

#include "platform/posix/internal/arguments.h"
#include "platform/win32.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

const DWORD sentinel = 0xdeadbeef;

using arguments = std::vector<std::string>;

TEST(split_windows_arguments, follows_the_c_runtime_rules) {
    using qv_posix::split_windows_arguments;
    EXPECT_EQ(split_windows_arguments(""), arguments{});
    EXPECT_EQ(split_windows_arguments(" \t "), arguments{});
    EXPECT_EQ(split_windows_arguments("a  b\tc "), (arguments{"a", "b", "c"}));
    EXPECT_EQ(split_windows_arguments("\"a b\" c\"d e\"f"), (arguments{"a b", "cd ef"}));
    EXPECT_EQ(split_windows_arguments("\"\" x"), (arguments{"", "x"}));
    // Backslashes count only before a quote: 2n give n and a quote that
    // toggles, 2n+1 give n and a literal quote.
    EXPECT_EQ(split_windows_arguments("a\\b c\\\\d"), (arguments{"a\\b", "c\\\\d"}));
    EXPECT_EQ(split_windows_arguments("a\\\\\"b c\""), (arguments{"a\\b c"}));
    EXPECT_EQ(split_windows_arguments("a\\\\\\\"b c"), (arguments{"a\\\"b", "c"}));
    EXPECT_EQ(split_windows_arguments("\"tail\\\\\""), (arguments{"tail\\"}));
    EXPECT_EQ(split_windows_arguments("end\\"), (arguments{"end\\"}));
    // "" inside quotes is one literal quote, and quoting goes on.
    EXPECT_EQ(split_windows_arguments("\"a\"\"b c\" d"), (arguments{"a\"b c", "d"}));
    EXPECT_EQ(split_windows_arguments("\"unclosed x"), (arguments{"unclosed x"}));
    EXPECT_EQ(split_windows_arguments(" /V\"/l*v \\\"C:\\T\\QVPRO_msi.log.txt\\\"  A=5 \""),
              (arguments{"/V/l*v \"C:\\T\\QVPRO_msi.log.txt\"  A=5 "}));
}

class processes : public testing::Test {
protected:
    // A shell script without execute permission, as an archive writes it.
    std::string script(const std::string& name, const std::string& body) {
        const std::string path = folder / name;
        qv_test::write_file(path, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0644);
        return path;
    }

    SHELLEXECUTEINFOA launch_record(const std::string& file, const char* parameters) {
        file_ = qv_test::test_folder::dos_path(file);
        SHELLEXECUTEINFOA info;
        std::memset(&info, 0, sizeof(info));
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = file_.c_str();
        info.lpParameters = parameters;
        info.nShow = SW_SHOWNORMAL;
        return info;
    }

    qv_test::test_folder folder;
    std::string file_;
};

TEST_F(processes, runs_the_file_with_split_arguments_in_the_directory) {
    const std::string file = script("setup.exe",
                                    "printf '%s\\n' \"$PWD\" \"$QV_COMMAND_LINE\" \"$@\" > \"$0.out\"\n"
                                    "exit 7");
    ASSERT_EQ(mkdir((folder / "start").c_str(), 0777), 0);
    const std::string directory = folder.dos() + "\\start";
    SHELLEXECUTEINFOA info = launch_record(file, "/s \"a b\" c\\\"d");
    info.lpDirectory = directory.c_str();
    ASSERT_TRUE(ShellExecuteExA(&info));
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_OBJECT_0);  // stays signalled
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ(qv_test::read_file(file + ".out"), folder / "start\n\"" + file_ + "\" /s \"a b\" c\\\"d\n/s\na b\nc\"d\n");
}

TEST_F(processes, still_active_until_it_ends_and_timed_waits) {
    const std::string release = folder / "release";
    const std::string file = script("wait.sh", "while [ ! -e '" + release + "' ]; do sleep 0.01; done");
    SHELLEXECUTEINFOA info = launch_record(file, nullptr);
    ASSERT_TRUE(ShellExecuteExA(&info));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20), WAIT_TIMEOUT);
    qv_test::write_file(release, "");
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 0u);
    CloseHandle(info.hProcess);
}

TEST_F(processes, exit_codes_are_eight_bits_and_signals_map_above_128) {
    struct {
        const char* body;
        DWORD expected;
    } cases[] = {{"exit 255", 255}, {"exit 3010", 3010 & 0xFF}, {"kill -9 $$", 128 + 9}};
    for (const auto& c : cases) {
        SHELLEXECUTEINFOA info = launch_record(script("code.sh", c.body), nullptr);
        ASSERT_TRUE(ShellExecuteExA(&info));
        ASSERT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        EXPECT_EQ(code, c.expected) << c.body;
        CloseHandle(info.hProcess);
    }
}

TEST_F(processes, failures_return_false_with_the_reason) {
    SHELLEXECUTEINFOA info = launch_record(folder / "missing.exe", nullptr);
    SetLastError(sentinel);
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(info.hProcess, nullptr);

    info = launch_record(folder.path(), nullptr);  // a folder is no program
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    qv_test::write_file(folder / "text.exe", "no program\n");
    info = launch_record(folder / "text.exe", nullptr);
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));

    const std::string file = script("ok.sh", "exit 0");
    info = launch_record(file, nullptr);
    info.lpVerb = "runas";
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    info = launch_record(file, nullptr);
    info.lpDirectory = "Z:\\no\\such\\folder";
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    info = launch_record(file, nullptr);
    info.fMask |= 0x100;
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(GetCurrentProcess(), &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(processes, identities_and_version) {
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, GetCurrentThreadId());

    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_GE(version.dwMajorVersion, 6u);
    version.dwOSVersionInfoSize = 12;
    SetLastError(sentinel);
    EXPECT_FALSE(GetVersionExA(&version));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
