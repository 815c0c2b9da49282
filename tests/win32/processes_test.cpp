// Processes as the launch of the installer uses them: ShellExecuteExA with
// parameters and a directory, the wait and the exit code; this program's
// own identities. The programs started are this program in its child mode.

#include "tests/win32/contract.h"

#include <thread>

namespace {

using contract::finish_child;
using contract::sentinel;
using contract::start_child;

class processes : public contract::test {};

TEST_F(processes, runs_the_file_with_split_arguments_in_the_directory) {
    ASSERT_TRUE(CreateDirectoryA(path("start").c_str(), nullptr));
    const std::string program = contract::own_path();
    const std::string directory = path("start");
    // The record's name is relative: it lands in the child's current directory.
    const std::string parameters = "--child record out /s \"a b\" c\\\"d \"\" e\\\\\"f g\"";
    SHELLEXECUTEINFOA info = qv_test::launch_record(program.c_str(), parameters.c_str(), directory.c_str());
    ASSERT_TRUE(ShellExecuteExA(&info));
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), WAIT_OBJECT_0);  // stays signalled
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ(get("start\\out"), "args\narg=/s\narg=a b\narg=c\"d\narg=\narg=e\\f g\n");
}

// The installer's arguments come from the composed parameters by the C
// runtime's rules: backslashes count only before a quote (2n give n and a
// quote that toggles, 2n+1 give n and a literal quote), "" inside quotes is
// one literal quote.
TEST_F(processes, parameters_are_split_by_the_c_runtimes_rules) {
    const struct {
        const char* parameters;
        const char* arguments;  // one line per argument
    } cases[] = {
        {"", ""},
        {" \t ", ""},
        {"a  b\tc ", "a\nb\nc\n"},
        {"\"a b\" c\"d e\"f", "a b\ncd ef\n"},
        {"\"\" x", "\nx\n"},
        {"a\\b c\\\\d", "a\\b\nc\\\\d\n"},
        {"a\\\\\"b c\"", "a\\b c\n"},
        {"a\\\\\\\"b c", "a\\\"b\nc\n"},
        {"\"tail\\\\\"", "tail\\\n"},
        {"end\\", "end\\\n"},
        {"\"a\"\"b c\" d", "a\"b c\nd\n"},
        {"\"unclosed x", "unclosed x\n"},
        {" /V\"/l*v \\\"C:\\T\\QVPRO_msi.log.txt\\\"  A=5 \"", "/V/l*v \"C:\\T\\QVPRO_msi.log.txt\"  A=5 \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parameters);
        EXPECT_EQ(finish_child(start_child("record \"" + path("out") + "\" " + c.parameters)), 7u);
        std::string arguments;
        const std::string record = get("out");
        for (size_t at = record.find("\narg="); at != std::string::npos; at = record.find("\narg=", at + 1))
            arguments += record.substr(at + 5, record.find('\n', at + 1) - at - 4);
        EXPECT_EQ(arguments, c.arguments);
    }
}

TEST_F(processes, still_active_until_it_ends_and_timed_waits) {
    HANDLE child = start_child("wait \"" + path("release") + "\"");
    ASSERT_NE(child, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(child, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(child, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(child, 20), DWORD(WAIT_TIMEOUT));
    put("release", "");
    EXPECT_EQ(finish_child(child), 0u);
}

TEST_F(processes, exit_codes_are_eight_bits_and_more) {
    EXPECT_EQ(finish_child(start_child("exit 0")), 0u);
    EXPECT_EQ(finish_child(start_child("exit 1")), 1u);
    EXPECT_EQ(finish_child(start_child("exit 255")), 255u);
}

// What an installer that asks for a restart returns.
TEST_F(processes, exit_codes_are_thirty_two_bits) {
    EXPECT_EQ(finish_child(start_child("exit 3010")), 3010u);
}

BOOL start_missing_program(const std::string& missing) {
    SHELLEXECUTEINFOA info = qv_test::launch_record(missing.c_str());
    const BOOL started = ShellExecuteExA(&info);
    EXPECT_EQ(info.hProcess, nullptr);
    return started;
}

TEST_F(processes, a_missing_program_is_not_started) { EXPECT_FALSE(start_missing_program(path("missing.exe"))); }

TEST_F(processes, a_failed_start_says_why) {
    SetLastError(sentinel);
    EXPECT_FALSE(start_missing_program(path("missing.exe")));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(processes, identities) {
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, GetCurrentThreadId());
    EXPECT_NE(GetCurrentProcessId(), 0u);
}

}  // namespace
