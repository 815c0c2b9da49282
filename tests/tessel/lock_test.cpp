// The lock family: tessel::scope over any hold-and-give-up object, and
// tessel::mutex (critical sections) across threads.

#include "tessel/mutex.h"
#include "tessel/scope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

namespace {

class counting_lock final : public tessel::scope_semantics {
public:
    void acquire() override { ++acquired; }
    void release() override {
        ++released;
        if (fail_release) throw std::runtime_error("release failed");
    }
    int acquired = 0;
    int released = 0;
    bool fail_release = false;
};

}  // namespace

TEST(scope, releases_exactly_once) {
    counting_lock lock;
    {
        tessel::scope guard(&lock);
        EXPECT_EQ(lock.acquired, 1);
        guard.release();
        guard.release();
        guard.acquire();  // forgotten after release: does nothing
    }
    EXPECT_EQ(lock.acquired, 1);
    EXPECT_EQ(lock.released, 1);

    tessel::scope empty(nullptr);
    empty.acquire();
    empty.release();
}

TEST(scope, releases_on_exception_and_keeps_the_first_one) {
    counting_lock lock;
    EXPECT_THROW(
        {
            tessel::scope guard(&lock);
            throw std::logic_error("inside");
        },
        std::logic_error);
    EXPECT_EQ(lock.released, 1);

    // A release that fails while another exception unwinds must not end the
    // process; the first exception reaches the caller.
    lock.fail_release = true;
    try {
        tessel::scope guard(&lock);
        throw std::logic_error("first");
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "first");
    }
    EXPECT_EQ(lock.released, 2);

    // Without another exception the failed release is reported.
    EXPECT_THROW({ tessel::scope guard(&lock); }, std::runtime_error);
}

TEST(mutex, is_reentrant_and_excludes_other_threads) {
    tessel::mutex lock;
    lock.acquire();
    lock.acquire();
    std::atomic<bool> entered{false};
    auto other = std::async(std::launch::async, [&] {
        tessel::scope guard(&lock);
        entered = true;
    });
    lock.release();
    EXPECT_EQ(other.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_FALSE(entered);
    lock.release();
    EXPECT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(entered);
}
