// Named mutexes as the single-instance guard and the log's file lock use
// them: names, recursion, other threads and processes, abandonment, handle
// rights; the security descriptor that opens them to every user.

#include "tests/win32/contract.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using contract::finish_child;
using contract::sentinel;
using contract::start_child;

class sync : public contract::test {
protected:
    // A name of this case's own, so that runs side by side cannot meet.
    std::string name(const std::string& base) const {
        return "Quorvane.Win32." + base + "." + std::to_string(GetCurrentProcessId());
    }
    DWORD try_in_child(const std::string& mutex) { return finish_child(start_child("try " + mutex)); }
};

TEST_F(sync, names_exist_while_a_handle_is_open) {
    SetLastError(sentinel);
    HANDLE first = CreateMutexA(nullptr, FALSE, ("Global\\" + name("one")).c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    SetLastError(sentinel);
    HANDLE second = CreateMutexA(nullptr, FALSE, ("Global\\" + name("one")).c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    HANDLE opened = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, ("Global\\" + name("one")).c_str());
    ASSERT_NE(opened, nullptr);

    SetLastError(sentinel);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name("two")).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, std::string(MAX_PATH + 1, 'x').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));

    // Names are case-sensitive.
    SetLastError(sentinel);
    HANDLE upper = CreateMutexA(nullptr, FALSE, ("Global\\" + name("ONE")).c_str());
    EXPECT_NE(upper, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));

    for (HANDLE handle : {first, second, opened, upper}) EXPECT_TRUE(CloseHandle(handle));
    // Gone with its last handle.
    SetLastError(sentinel);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name("one")).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(sync, recursive_for_the_owner_and_refused_to_others) {
    const std::string mutex_name = "Global\\" + name("recursive");
    HANDLE mutex = CreateMutexA(nullptr, FALSE, mutex_name.c_str());
    HANDLE other_handle = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutex_name.c_str());
    ASSERT_NE(other_handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other_handle, INFINITE), WAIT_OBJECT_0);  // one owner for all handles

    DWORD other_wait = 0, other_release = 0, other_error = 0;
    std::thread([&] {
        other_wait = WaitForSingleObject(mutex, 20);
        SetLastError(sentinel);
        other_release = ReleaseMutex(mutex);
        other_error = GetLastError();
    }).join();
    EXPECT_EQ(other_wait, DWORD(WAIT_TIMEOUT));
    EXPECT_FALSE(other_release);
    EXPECT_EQ(other_error, DWORD(ERROR_NOT_OWNER));
    EXPECT_EQ(try_in_child(mutex_name), 2u);  // held for other processes too

    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(try_in_child(mutex_name), 2u);  // still held once
    EXPECT_TRUE(ReleaseMutex(other_handle));
    SetLastError(sentinel);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    EXPECT_EQ(try_in_child(mutex_name), 0u);
    CloseHandle(mutex);
    CloseHandle(other_handle);
}

TEST_F(sync, a_waiting_thread_gets_it_on_release_or_abandoned_at_thread_end) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name("threads").c_str());
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

    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(mutex, 0); }).join();  // ends holding it
    EXPECT_EQ(other, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // recursion continues normally
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(try_in_child(name("threads")), 0u);
    CloseHandle(mutex);
}

TEST_F(sync, other_processes_hold_abandon_or_leave_nothing_behind) {
    const std::string mutex_name = "Global\\" + name("processes");
    HANDLE mutex = CreateMutexA(nullptr, FALSE, mutex_name.c_str());
    const std::string ready = path("ready"), release = path("release");
    HANDLE holder = start_child("hold " + mutex_name + " " + ready + " " + release);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (GetFileAttributesA(ready.c_str()) == INVALID_FILE_ATTRIBUTES && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(mutex, 30), DWORD(WAIT_TIMEOUT));
    put("release", "");
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);  // a timed wait sees the release
    EXPECT_EQ(finish_child(holder), 0u);
    EXPECT_TRUE(ReleaseMutex(mutex));

    // While we keep a handle, a holder that dies leaves it abandoned...
    EXPECT_EQ(finish_child(start_child("abandon " + mutex_name)), 0u);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
    // ... and with no handle left anywhere it is gone: a new one is free.
    EXPECT_EQ(finish_child(start_child("abandon " + mutex_name)), 0u);
    EXPECT_EQ(try_in_child(mutex_name), 0u);
}

TEST_F(sync, rights_of_opened_handles) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name("rights").c_str());
    HANDLE modify_only = OpenMutexA(MUTEX_MODIFY_STATE, FALSE, name("rights").c_str());
    ASSERT_NE(modify_only, nullptr);
    SetLastError(sentinel);
    EXPECT_EQ(WaitForSingleObject(modify_only, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    // Ownership belongs to the thread, so the other handle may release.
    ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(modify_only));
    // Releasing asks for no right at all.
    HANDLE wait_only = OpenMutexA(SYNCHRONIZE, FALSE, name("rights").c_str());
    ASSERT_EQ(WaitForSingleObject(wait_only, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(wait_only));
    SetLastError(sentinel);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    for (HANDLE handle : {mutex, modify_only, wait_only}) CloseHandle(handle);
}

TEST_F(sync, initial_owner_and_unnamed_mutexes) {
    HANDLE owned = CreateMutexA(nullptr, TRUE, name("initial").c_str());
    ASSERT_NE(owned, nullptr);
    EXPECT_EQ(try_in_child(name("initial")), 2u);
    SetLastError(sentinel);
    HANDLE again = CreateMutexA(nullptr, TRUE, name("initial").c_str());  // exists: not taken again
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(ReleaseMutex(owned));
    SetLastError(sentinel);
    EXPECT_FALSE(ReleaseMutex(owned));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    CloseHandle(again);
    CloseHandle(owned);

    HANDLE unnamed = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(unnamed, nullptr);
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(unnamed, 0); }).join();
    EXPECT_EQ(other, DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(unnamed));
    CloseHandle(unnamed);
}

// The single-instance guard: an access list that is present but null lets
// every user open the mutex; the system's version picks the namespace.
TEST_F(sync, the_guard_open_to_every_user_in_the_global_namespace) {
    SECURITY_DESCRIPTOR descriptor;
    SetLastError(sentinel);
    EXPECT_FALSE(InitializeSecurityDescriptor(&descriptor, 2));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_REVISION));
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    EXPECT_EQ(descriptor.Control & SE_DACL_PRESENT, SE_DACL_PRESENT);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};

    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_GE(version.dwMajorVersion, 6u);
    version.dwOSVersionInfoSize = 12;
    SetLastError(sentinel);
    EXPECT_FALSE(GetVersionExA(&version));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

    const std::string guard_name = "Global\\" + name("guard");
    HANDLE guard = CreateMutexA(&attributes, FALSE, guard_name.c_str());
    ASSERT_NE(guard, nullptr);
    HANDLE global = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, guard_name.c_str());
    ASSERT_NE(global, nullptr);

    EXPECT_EQ(WaitForSingleObject(guard, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(guard, 0), WAIT_OBJECT_0);  // recursive
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(global, 0); }).join();
    EXPECT_EQ(other, DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(guard));
    EXPECT_TRUE(ReleaseMutex(guard));
    SetLastError(sentinel);
    EXPECT_FALSE(ReleaseMutex(global));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));

    // A thread that ends holding it leaves it abandoned, and taken by the next waiter.
    std::thread([&] { other = WaitForSingleObject(global, 0); }).join();
    EXPECT_EQ(other, DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(global, 0), DWORD(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(global));
    std::thread([&] { other = WaitForSingleObject(guard, 0); }).join();
    EXPECT_EQ(other, DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(guard, 0), DWORD(WAIT_ABANDONED));
    EXPECT_TRUE(ReleaseMutex(guard));
    CloseHandle(global);
    CloseHandle(guard);
}

}  // namespace
