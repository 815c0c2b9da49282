// Named mutexes of the POSIX layer: names, recursion, owners, abandonment,
// other processes, handle rights; security descriptors.

#include "platform/win32.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const DWORD sentinel = 0xdeadbeef;

class sync : public testing::Test {
protected:
    // Starts the mutex holder helper; returns its pid.
    pid_t start_holder(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QV_MUTEX_HOLDER);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, QV_MUTEX_HOLDER, nullptr, nullptr, argv.data(), environ), 0);
        return pid;
    }

    int holder_exit_code(pid_t pid) {
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int run_holder(const std::vector<std::string>& arguments) { return holder_exit_code(start_holder(arguments)); }

    void wait_for_file(const std::string& path) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (access(path.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(access(path.c_str(), F_OK), 0);
    }

    qv_test::test_folder folder;
    qv_test::scoped_environment mutex_dir{"QV_MUTEX_DIR", folder / "mutex"};
};

TEST_F(sync, names_namespaces_and_existence) {
    SetLastError(sentinel);
    HANDLE first = CreateMutexA(nullptr, FALSE, "Global\\one");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // Both namespaces are the one machine namespace here.
    HANDLE second = CreateMutexA(nullptr, FALSE, "Local\\one");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE opened = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "one");
    ASSERT_NE(opened, nullptr);

    SetLastError(sentinel);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "Global\\two"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "Global\\a\\b"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, std::string(MAX_PATH + 1, 'x').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

    // Names are case-sensitive; odd characters and long names get files too.
    HANDLE upper = CreateMutexA(nullptr, FALSE, "ONE");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE odd = CreateMutexA(nullptr, FALSE, "../log-Z:_tmp_x y%");
    EXPECT_NE(odd, nullptr);
    HANDLE long_a = CreateMutexA(nullptr, FALSE, (std::string(250, 'n') + "a").c_str());
    HANDLE long_b = CreateMutexA(nullptr, FALSE, (std::string(250, 'n') + "b").c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // the hash keeps them apart
    EXPECT_EQ(WaitForSingleObject(long_a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(run_holder({"try", std::string(250, 'n') + "b"}), 0);

    for (HANDLE handle : {first, second, opened, upper, odd, long_a, long_b}) EXPECT_TRUE(CloseHandle(handle));
    // Gone with its last handle.
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "one"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(sync, recursive_for_the_owner_and_refused_to_others) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "recursive");
    HANDLE other_handle = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "recursive");
    ASSERT_NE(other_handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other_handle, INFINITE), WAIT_OBJECT_0);  // one owner for all handles

    DWORD other_wait = 0;
    DWORD other_release = 0;
    DWORD other_error = 0;
    std::thread([&] {
        other_wait = WaitForSingleObject(mutex, 20);
        SetLastError(sentinel);
        other_release = ReleaseMutex(mutex);
        other_error = GetLastError();
    }).join();
    EXPECT_EQ(other_wait, WAIT_TIMEOUT);
    EXPECT_FALSE(other_release);
    EXPECT_EQ(other_error, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(run_holder({"try", "recursive"}), 2);  // held for other processes too

    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(run_holder({"try", "recursive"}), 2);  // still held once
    EXPECT_TRUE(ReleaseMutex(other_handle));
    SetLastError(sentinel);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(run_holder({"try", "recursive"}), 0);
    CloseHandle(mutex);
    CloseHandle(other_handle);
}

TEST_F(sync, a_waiting_thread_gets_it_on_release_or_abandoned_at_thread_end) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "threads");
    ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    DWORD waited = 0;
    std::thread waiter([&] {
        waited = WaitForSingleObject(mutex, INFINITE);
        ReleaseMutex(mutex);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(ReleaseMutex(mutex));
    waiter.join();
    EXPECT_EQ(waited, WAIT_OBJECT_0);

    std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); }).join();  // ends holding it
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // recursion continues normally
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(run_holder({"try", "threads"}), 0);
    CloseHandle(mutex);
}

TEST_F(sync, other_processes_hold_abandon_or_leave_nothing_behind) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\processes");
    const std::string ready = folder / "ready";
    const std::string release = folder / "release";
    const pid_t holder = start_holder({"hold", "processes", ready, release});
    wait_for_file(ready);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(mutex, 30), WAIT_TIMEOUT);
    qv_test::write_file(release, "");
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);  // a timed wait sees the release
    EXPECT_EQ(holder_exit_code(holder), 0);
    EXPECT_TRUE(ReleaseMutex(mutex));

    // While we keep a handle, a holder that dies leaves it abandoned...
    EXPECT_EQ(run_holder({"die", "processes"}), 0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
    // ... and with no handle left anywhere it is gone: a new one is free.
    EXPECT_EQ(run_holder({"die", "processes"}), 0);
    EXPECT_EQ(run_holder({"try", "processes"}), 0);
}

TEST_F(sync, rights_of_opened_handles) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "rights");
    HANDLE modify_only = OpenMutexA(MUTEX_MODIFY_STATE, FALSE, "rights");
    ASSERT_NE(modify_only, nullptr);
    SetLastError(sentinel);
    EXPECT_EQ(WaitForSingleObject(modify_only, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Ownership belongs to the thread, so the other handle may release.
    ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(modify_only));
    HANDLE wait_only = OpenMutexA(SYNCHRONIZE, FALSE, "rights");
    ASSERT_EQ(WaitForSingleObject(wait_only, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(ReleaseMutex(wait_only));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ReleaseMutex(mutex));
    for (HANDLE handle : {mutex, modify_only, wait_only}) CloseHandle(handle);
}

TEST_F(sync, initial_owner_and_unnamed_mutexes) {
    HANDLE owned = CreateMutexA(nullptr, TRUE, "initial");
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(run_holder({"try", "initial"}), 2);
    HANDLE again = CreateMutexA(nullptr, TRUE, "initial");  // exists: not taken again
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(ReleaseMutex(owned));
    EXPECT_FALSE(ReleaseMutex(owned));
    CloseHandle(again);
    CloseHandle(owned);

    HANDLE unnamed = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(unnamed, nullptr);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(unnamed, 0), WAIT_TIMEOUT); }).join();
    EXPECT_TRUE(ReleaseMutex(unnamed));
    CloseHandle(unnamed);
}

TEST_F(sync, security_descriptors_with_a_null_access_list) {
    SECURITY_DESCRIPTOR descriptor;
    SetLastError(sentinel);
    EXPECT_FALSE(InitializeSecurityDescriptor(&descriptor, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    EXPECT_EQ(descriptor.Control & SE_DACL_PRESENT, SE_DACL_PRESENT);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, FALSE, "everyone");
    EXPECT_NE(mutex, nullptr);
    CloseHandle(mutex);

    int access_list = 0;  // any real access list cannot be honoured
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &access_list, FALSE));
    SetLastError(sentinel);
    EXPECT_EQ(CreateMutexA(&attributes, FALSE, "restricted"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

}  // namespace
