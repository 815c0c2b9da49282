// The unhandled-exception filter over fatal signals, the debug help library
// and MiniDumpWriteDump, read back with an independent reader.

#include "platform/posix/internal/fatal_signal.h"
#include "platform/win32.h"
#include "tests/support/minidump_reader.h"
#include "tests/support/test_folder.h"
#include "tests/support/timed_child.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

using qv_test::scoped_environment;

using qv_test::sentinel;

// Prints what the filter received and ends the process with the code.
LONG WINAPI report_and_end(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    std::fprintf(stderr, "code=%08x parameters=%u", record.ExceptionCode, record.NumberParameters);
    for (DWORD i = 0; i < record.NumberParameters; ++i)
        std::fprintf(stderr, " %llx", static_cast<unsigned long long>(record.ExceptionInformation[i]));
    std::fprintf(stderr, "\n");
    return EXCEPTION_EXECUTE_HANDLER;
}

// A write to an unmapped low address (not null, which a sanitizer would
// catch first).
void write_to_low_address() {
    volatile int* volatile target = reinterpret_cast<volatile int*>(16);
    *target = 1;
}

volatile int dividend = 7;
volatile int quotient = 0;
// Left to the processor, also in a build whose sanitizer checks divisions.
__attribute__((no_sanitize("undefined"))) void divide_by(volatile int divisor) { quotient = dividend / divisor; }

volatile int depth_limit = 1 << 30;
int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return depth < depth_limit ? recurse(depth + 1) + frame[0] : 0;
}

void touch_truncated_mapping(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, 4096) != 0) std::abort();
    auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    if (ftruncate(fd, 0) != 0) std::abort();
    (void)page[0];
}

// Installs the reporting filter in the death test's child, then fails.
template <class Failure>
void fail_reported(Failure failure) {
    SetUnhandledExceptionFilter(report_and_end);
    failure();
}

TEST(UnhandledExceptionFilter, FatalSignalsArriveWithTheirWin32Codes) {
    qv_test::test_folder folder;
    const std::string mapped = folder / "mapped";
    EXPECT_EXIT(fail_reported(write_to_low_address), testing::ExitedWithCode(0x05), "code=c0000005 parameters=2 1 10\n");
    EXPECT_EXIT(fail_reported([] { divide_by(0); }), testing::ExitedWithCode(0x94), "code=c0000094");
    EXPECT_EXIT(fail_reported(std::abort), testing::ExitedWithCode(0x15), "code=40000015");
    EXPECT_EXIT(fail_reported([] { __builtin_trap(); }), testing::ExitedWithCode(0x1d), "code=c000001d");
    EXPECT_EXIT(fail_reported([&] { touch_truncated_mapping(mapped); }), testing::ExitedWithCode(0x06),
                "code=c0000006 parameters=3");
    // On the alternate stack, the filter runs even when the stack is used up.
    EXPECT_EXIT(fail_reported([] { recurse(0); }), testing::ExitedWithCode(0xfd), "code=c00000fd");
}

LONG WINAPI pass_on(EXCEPTION_POINTERS*) {
    std::fputs("filter ran\n", stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

int resumed = 0;
LONG WINAPI resume(EXCEPTION_POINTERS*) {
    ++resumed;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The way a process dies of a signal, also under a sanitizer whose own
// handler takes the signal back and exits.
bool died_of(int status, int signal_number) {
#if defined(__SANITIZE_ADDRESS__)
    if (WIFEXITED(status)) return WEXITSTATUS(status) != 0;
#endif
    return WIFSIGNALED(status) && WTERMSIG(status) == signal_number;
}

TEST(UnhandledExceptionFilter, TheFiltersAnswerDecidesWhatFollows) {
    auto killed_by_segv = [](int status) { return died_of(status, SIGSEGV); };
    // Passed on, the signal kills the process as without a filter.
    EXPECT_EXIT((SetUnhandledExceptionFilter(pass_on), write_to_low_address()), killed_by_segv, "filter ran");
    EXPECT_EXIT((SetUnhandledExceptionFilter(pass_on), raise(SIGSEGV)), killed_by_segv, "filter ran");
    // A filter taken back is not called (this one would end the process with 5).
    EXPECT_EXIT((SetUnhandledExceptionFilter(report_and_end), SetUnhandledExceptionFilter(nullptr),
                 write_to_low_address()),
                killed_by_segv, "");
    // Continued, a sent signal returns to its sender.
    EXPECT_EXIT(
        {
            const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(resume);
            raise(SIGSEGV);
            raise(SIGBUS);
            _exit(before == nullptr && SetUnhandledExceptionFilter(nullptr) == resume ? resumed : 99);
        },
        testing::ExitedWithCode(2), "");
}

LONG WINAPI never_return(EXCEPTION_POINTERS*) {
    for (;;) pause();
}

// A filter that cannot finish is cut off: the process ends with its signal,
// once the watchdog's delay (shortened here from its 10 s) has passed.
TEST(UnhandledExceptionFilter, AFilterThatDoesNotReturnIsEndedByTheWatchdog) {
    const auto delay = std::chrono::milliseconds(200);
    const auto start = std::chrono::steady_clock::now();
    const std::optional<int> status = qv_test::run_child_within(std::chrono::seconds(30), [&] {
        qv_posix::set_filter_watchdog(static_cast<unsigned>(delay.count()));
        alarm(60);  // the program's own alarm gives way
        SetUnhandledExceptionFilter(never_return);
        std::abort();
    });
    ASSERT_TRUE(status.has_value()) << "the process hung";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT) << *status;
    EXPECT_GE(std::chrono::steady_clock::now() - start, delay);
}

TEST(DebugHelpLibrary, LoadsCountsAndHandsOutMiniDumpWriteDump) {
    SetLastError(sentinel);
    const HMODULE library = LoadLibraryExA("dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(LoadLibraryExA("C:\\Windows\\System32\\DBGHELP.DLL", nullptr, 0), library);
    const FARPROC address = GetProcAddress(library, "MiniDumpWriteDump");
    EXPECT_EQ(reinterpret_cast<void (*)()>(address), reinterpret_cast<void (*)()>(MiniDumpWriteDump));
    EXPECT_EQ(GetProcAddress(library, "MiniDumpReadDumpStream"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_TRUE(FreeLibrary(library));
    SetLastError(sentinel);
    EXPECT_FALSE(FreeLibrary(library));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    EXPECT_EQ(LoadLibraryExA("kernel32.dll", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    scoped_environment missing("QV_NO_DBGHELP", std::string("1"));
    EXPECT_EQ(LoadLibraryExA("dbghelp.dll", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(MiniDumpWriteDump, WritesTheCallingThreadItsStackAndTheModules) {
    qv_test::test_folder folder;
    const HANDLE file = CreateFileA((folder.dos() + "\\self.dmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    volatile uint64_t marker = 0x51ab1e5eed5a17edull;
    SetLastError(sentinel);
    const BOOL written =
        MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, nullptr, nullptr, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    CloseHandle(file);
    ASSERT_TRUE(written);

    const qv_test::minidump::file dump = qv_test::minidump::parse_file(folder / "self.dmp");
    EXPECT_FALSE(dump.has_exception);
    ASSERT_EQ(dump.threads.size(), 1u);
    EXPECT_EQ(dump.threads[0].id, GetCurrentThreadId());
    EXPECT_TRUE(dump.has_process_id);
    EXPECT_EQ(dump.process_id, GetCurrentProcessId());
    EXPECT_GE(dump.processors, 1);
    // The caller's stack, as it was.
    const std::vector<uint8_t> bytes = dump.memory_at(reinterpret_cast<uintptr_t>(&marker), sizeof marker);
    uint64_t found = 0;
    std::memcpy(&found, bytes.data(), sizeof found);
    EXPECT_EQ(found, marker);
    bool has_executable = false;
    for (const auto& module : dump.modules)
        has_executable |= module.name.size() > 15 && module.name.substr(module.name.size() - 15) == "/platform_tests";
    EXPECT_TRUE(has_executable);
}

TEST(MiniDumpWriteDump, RefusesWhatItCannotDo) {
    qv_test::test_folder folder;
    const HANDLE file = CreateFileA((folder.dos() + "\\x.dmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    SetLastError(sentinel);
    EXPECT_FALSE(MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId() + 1, file, MiniDumpNormal, nullptr,
                                   nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, static_cast<MINIDUMP_TYPE>(2),
                                   nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    CloseHandle(file);
    EXPECT_FALSE(MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, nullptr, nullptr,
                                   nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
