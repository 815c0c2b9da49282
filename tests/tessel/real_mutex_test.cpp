// The named system mutex wrapper, natively and on real Win32 (the Windows
// build's unit tests).

#include "tessel/exception.h"
#include "tessel/real_mutex.h"
#ifndef _WIN32
#include "tests/support/test_folder.h"
#endif

#include <gtest/gtest.h>

#include <thread>

namespace {

class real_mutex : public testing::Test {
protected:
    bool try_in_other_thread(tessel::real_mutex& mutex) {
        bool taken = true;
        std::thread([&] { taken = mutex.try_acquire(0); }).join();
        return taken;
    }

#ifndef _WIN32
    // The layer keeps its mutexes in files: a folder of this test's own.
    qv_test::test_folder folder;
    qv_test::scoped_environment mutex_dir{"QV_MUTEX_DIR", folder.path()};
#endif
};

TEST_F(real_mutex, bare_names_go_to_the_global_namespace) {
    tessel::real_mutex mutex("Quorvane.Test");
    HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\Quorvane.Test");
    EXPECT_NE(opened, nullptr);
    CloseHandle(opened);
    tessel::real_mutex local("Local\\Quorvane.Test2");
    EXPECT_TRUE(local.try_acquire(0));
}

TEST_F(real_mutex, held_by_one_thread_recursively) {
    tessel::real_mutex mutex("held");
    EXPECT_TRUE(mutex.try_acquire(0));
    EXPECT_TRUE(mutex.try_acquire(0));
    EXPECT_FALSE(try_in_other_thread(mutex));
    mutex.release();
    EXPECT_FALSE(try_in_other_thread(mutex));
    mutex.release();
    try {
        mutex.release();
        FAIL() << "released a mutex it does not hold";
    } catch (const tessel::exception& error) {
        EXPECT_STREQ(error.what(), "[ReleaseMutex returned 0x00000120]");
    }
}

TEST_F(real_mutex, scope_interface_and_abandonment) {
    tessel::real_mutex mutex("scoped");
    tessel::scope_semantics& lock = mutex;
    std::thread([&] { lock.acquire(); }).join();  // the thread ends holding it
    EXPECT_TRUE(mutex.try_acquire(0));            // abandoned counts as taken
    lock.release();
}

TEST_F(real_mutex, destruction_closes_without_releasing) {
    tessel::real_mutex stays("closing");
    {
        tessel::real_mutex held("closing");
        ASSERT_TRUE(held.try_acquire(0));
    }
    EXPECT_FALSE(try_in_other_thread(stays));  // still held by this thread
    stays.release();
    EXPECT_TRUE(try_in_other_thread(stays));
}

TEST_F(real_mutex, names_the_system_refuses_throw) {
    try {
        tessel::real_mutex mutex("no\\such\\namespace");
        FAIL() << "created a mutex in a missing namespace";
    } catch (const tessel::exception& error) {
        EXPECT_STREQ(error.what(), "[OpenMutex returned 0x00000003]");
    }
}

}  // namespace
