// The crash dump writer: a failing process leaves one dump named after the
// module and the installation time, which an independent reader parses.

#include "config/app_paths.h"
#include "config/crash_dump.h"
#include "config/internal/app_paths_values.h"
#include "platform/posix/internal/module.h"
#include "tessel/unicode/unicode.h"
#include "tests/support/minidump_reader.h"
#include "tests/support/test_folder.h"
#include "tests/support/timed_child.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using qv_test::scoped_environment;

bool died_of_segv(int status) {
#if defined(__SANITIZE_ADDRESS__)
    if (WIFEXITED(status)) return WEXITSTATUS(status) != 0;  // the sanitizer's report
#endif
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
}

// A write to an unmapped low address (not null, which a sanitizer would
// catch first).
void write_to_low_address() {
    volatile int* volatile target = reinterpret_cast<volatile int*>(16);
    *target = 1;
}

class CrashDumpTest : public ::testing::Test {
protected:
    // The dump folder below a per-user folder whose parents do not exist yet.
    std::string dumps() const { return folder_ / "roaming/deep/Lindhale/Quorvane/Dumps"; }
    std::vector<std::string> dump_files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dumps()))
            names.push_back(entry.path().filename().string());
        return names;
    }
    void record_thread() const { std::ofstream(folder_ / "thread") << GetCurrentThreadId(); }
    DWORD recorded_thread() const { return static_cast<DWORD>(std::stoul(qv_test::read_file(folder_ / "thread"))); }

    qv_test::test_folder folder_;
    scoped_environment common_{"QV_COMMON_APPDATA", folder_ / "common"};
    scoped_environment user_{"QV_APPDATA", folder_ / "roaming/deep"};
    scoped_environment library_{"QV_NO_DBGHELP", std::nullopt};
};

TEST_F(CrashDumpTest, AFailingProcessLeavesOneDumpThatNamesTheFailure) {
    const long long before = std::time(nullptr);
    EXPECT_EXIT(
        {
            config::init_from_resources(nullptr);
            record_thread();
            write_to_low_address();
        },
        died_of_segv, "");
    const long long after = std::time(nullptr);

    const std::vector<std::string> files = dump_files();
    ASSERT_EQ(files.size(), 1u);
    long long seconds = 0;
    char tail[8] = {};
    ASSERT_EQ(std::sscanf(files[0].c_str(), "config_tests.%lld%7s", &seconds, tail), 2) << files[0];
    EXPECT_EQ(std::string(tail), ".dmp");
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);

    const qv_test::minidump::file dump = qv_test::minidump::parse_file(dumps() + "/" + files[0]);
    ASSERT_TRUE(dump.has_exception);
    EXPECT_EQ(dump.exception.code, 0xC0000005u);
    EXPECT_EQ(dump.exception.parameters, (std::vector<uint64_t>{1, 16}));  // a write to address 16
    EXPECT_EQ(dump.exception.thread_id, recorded_thread());
    ASSERT_EQ(dump.threads.size(), 1u);
    EXPECT_EQ(dump.threads[0].id, recorded_thread());
    EXPECT_GT(dump.threads[0].stack.size, 0u);
    EXPECT_GT(dump.threads[0].context.size, 0u);
}

TEST_F(CrashDumpTest, WithoutTheDebugHelpLibraryThereIsNoWriterAndNoError) {
    scoped_environment missing("QV_NO_DBGHELP", std::string("1"));
    EXPECT_EXIT(
        {
            config::init_from_resources(nullptr);
            if (SetUnhandledExceptionFilter(nullptr) != nullptr) _exit(3);
            write_to_low_address();
        },
        died_of_segv, "");
    EXPECT_TRUE(dump_files().empty());
}

int previous_calls = 0;
LONG WINAPI previous_filter(EXCEPTION_POINTERS*) {
    ++previous_calls;
    return 7;
}

// What the filter answers for a made-up exception, without a signal.
LONG filter_answer() {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0xE0000001;
    EXCEPTION_POINTERS pointers = {&record, nullptr};
    return config::dump_filter(&pointers);
}

TEST_F(CrashDumpTest, ASecondInstallationChangesNothingAndThePreviousFilterAnswers) {
    const std::string first = folder_.dos() + "\\first";
    const std::string second = folder_.dos() + "\\second";
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(previous_filter);
            const bool installed = config::install_dump_filter(first);
            const bool again = config::install_dump_filter(second);
            const bool current = SetUnhandledExceptionFilter(config::dump_filter) == config::dump_filter;
            const LONG answer = filter_answer();
            record_thread();
            _exit(installed && again && current && answer == 7 && previous_calls == 1 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
        if (entry.path().extension() == ".dmp") written.push_back(entry.path().filename().string());
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].rfind("first.", 0), 0u);
    const qv_test::minidump::file dump = qv_test::minidump::parse_file(folder_ / written[0]);
    EXPECT_EQ(dump.exception.code, 0xE0000001u);
    EXPECT_EQ(dump.exception.thread_id, recorded_thread());

    // Without a previous filter the answer is to search on.
    EXPECT_EXIT((config::install_dump_filter(first), _exit(filter_answer() == EXCEPTION_CONTINUE_SEARCH ? 0 : 1)),
                testing::ExitedWithCode(0), "");
}

LONG WINAPI carry_on(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_EXECUTION; }

TEST_F(CrashDumpTest, ThreadsFailingTogetherTakeTurnsOnTheOneFile) {
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(carry_on);
            config::init_from_resources(nullptr);
            std::atomic<int> ready(0);
            std::vector<std::thread> threads;
            for (int i = 0; i < 4; ++i)
                threads.emplace_back([&] {
                    ++ready;
                    while (ready.load() < 4) std::this_thread::yield();
                    raise(SIGSEGV);
                });
            for (std::thread& thread : threads) thread.join();
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
    const std::vector<std::string> files = dump_files();
    ASSERT_EQ(files.size(), 1u);
    const qv_test::minidump::file dump = qv_test::minidump::parse_file(dumps() + "/" + files[0]);
    EXPECT_EQ(dump.exception.code, 0xC0000005u);
    ASSERT_EQ(dump.threads.size(), 1u);
    EXPECT_EQ(dump.threads[0].id, dump.exception.thread_id);
}

// A fault that interrupts the heap with its lock held: the writer allocates
// nothing, so the dump is written and the process ends with the signal, well
// before the filter's watchdog (10 s) would end it.
class CrashInTheHeap : public CrashDumpTest {
protected:
    template <class Fault>
    void expect_dump_and_death_by(int signal_number, DWORD code, Fault fault) {
        const auto start = std::chrono::steady_clock::now();
        const std::optional<int> status = qv_test::run_child_within(std::chrono::seconds(30), [&] {
            config::init_from_resources(nullptr);
            // With a second thread the heap takes its lock.
            std::thread([] {}).join();
            fault();
        });
        ASSERT_TRUE(status.has_value()) << "the process hung";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        if (signal_number == SIGSEGV) EXPECT_TRUE(died_of_segv(*status)) << *status;
        else EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal_number) << *status;
        const std::vector<std::string> files = dump_files();
        ASSERT_EQ(files.size(), 1u);
        const qv_test::minidump::file dump = qv_test::minidump::parse_file(dumps() + "/" + files[0]);
        EXPECT_EQ(dump.exception.code, code);
    }
};

TEST_F(CrashInTheHeap, TheCLibraryAbortingOverADamagedChunk) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's heap replaces the C library's";
#else
    expect_dump_and_death_by(SIGABRT, 0x40000015u, [] {
        char* block = static_cast<char*>(std::malloc(4096));
        void* next = std::malloc(4096);
        // The size of the chunk behind: free() finds it in use by no one.
        std::memset(block + malloc_usable_size(block), 0, sizeof(size_t));
        std::free(block);
        std::free(next);
    });
#endif
}

TEST_F(CrashInTheHeap, SegvSentToAThreadBusyInMalloc) {
    expect_dump_and_death_by(SIGSEGV, 0xC0000005u, [] {
        std::atomic<bool> busy(false);
        std::thread allocating([&] {
            // Blocks beyond the per-thread cache, freed in a scattered
            // order: most of the time goes to the heap's binning, under its
            // lock.
            static void* live[4096] = {};
            busy = true;
            for (size_t i = 0;; ++i) {
                void*& block = live[i * 2654435761u % 4096];
                std::free(block);
                block = std::malloc(1100 + i * 7919 % 3000);
            }
        });
        while (!busy) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pthread_kill(allocating.native_handle(), SIGSEGV);
        allocating.join();
    });
}

TEST_F(CrashDumpTest, AFolderWordOutsideTheAnsiCodePageStopsTheInstallation) {
    qv_module module{"/opt/app.exe", {{2001, L"V"}, {2002, L"P"}}};
    config::init_from_resources(&module);
    config::internal::app_paths_values values = config::internal::app_paths();
    values.names.vendor = L"\u4e00";
    config::internal::set_app_paths(values);
    EXPECT_THROW(config::init(nullptr), tessel::unicode::unmappable_character);
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), nullptr);
}

}  // namespace
