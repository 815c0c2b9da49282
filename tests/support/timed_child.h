// A death test with a time limit: the body runs in a forked child, and a
// child that has not ended in time is killed and reported as hung.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

namespace qv_test {

// The child's wait status, or nullopt when it still ran after the limit. A
// body that returns ends the child with exit code 0.
template <class Body>
std::optional<int> run_child_within(std::chrono::seconds limit, Body body) {
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

}  // namespace qv_test
