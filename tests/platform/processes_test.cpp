// What the POSIX layer's processes do beyond the Win32 contract
// (tests/win32): scripts, QV_COMMAND_LINE, 8-bit exit codes and signals,
// what ShellExecuteExA refuses.

#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using qv_test::sentinel;

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
        return qv_test::launch_record(file_.c_str(), parameters);
    }

    qv_test::test_folder folder;
    std::string file_;
};

// An archive writes its installer without execute permission; the program
// sees the command line Windows would show it in QV_COMMAND_LINE.
TEST_F(processes, a_script_without_execute_permission_runs_and_sees_its_command_line) {
    const std::string file = script("setup.exe", "printf '%s\\n' \"$QV_COMMAND_LINE\" \"$@\" > \"$0.out\"");
    SHELLEXECUTEINFOA info = launch_record(file, "/s \"a b\" c\\\"d");
    ASSERT_TRUE(ShellExecuteExA(&info));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ(qv_test::read_file(file + ".out"), "\"" + file_ + "\" /s \"a b\" c\\\"d\n/s\na b\nc\"d\n");
}

TEST_F(processes, exit_codes_are_eight_bits_and_signals_map_above_128) {
    struct {
        const char* body;
        DWORD expected;
    } cases[] = {{"exit 3010", 3010 & 0xFF}, {"kill -9 $$", 128 + 9}};
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

TEST_F(processes, only_programs_are_run) {
    SHELLEXECUTEINFOA info = launch_record(folder.path(), nullptr);  // a folder is no program
    SetLastError(sentinel);
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

TEST_F(processes, the_process_id_is_the_posix_one) { EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid())); }

}  // namespace
