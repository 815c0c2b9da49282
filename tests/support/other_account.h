// Tests that play another account of the machine: a forked child gives up
// root for the unprivileged "nobody" before it acts, so what it may do is
// what any local user may do. Only a test run by root can play it.
#pragma once

#include <grp.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qv_test {

const uid_t other_uid = 65534;  // nobody
const gid_t other_gid = 65534;  // nogroup

inline bool can_play_other_account() { return geteuid() == 0; }

namespace detail {
template <class Action>
[[noreturn]] void act_as_other_account(Action& action) {
    if (setgroups(0, nullptr) != 0 || setresgid(other_gid, other_gid, other_gid) != 0 ||
        setresuid(other_uid, other_uid, other_uid) != 0)
        _exit(2);
    _exit(action() ? 0 : 1);
}
}  // namespace detail

// Runs action (returning bool) as the other account and waits for it:
// true when it returned true.
template <class Action>
bool as_other_account(Action action) {
    const pid_t child = fork();
    if (child == 0) detail::act_as_other_account(action);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The other account acting in the background (a loop that races the
// launcher, say) until stopped: the action runs until it returns or the
// object goes.
class other_account_process {
public:
    template <class Action>
    explicit other_account_process(Action action) : pid_(fork()) {
        if (pid_ == 0) detail::act_as_other_account(action);
    }
    ~other_account_process() { stop(); }
    other_account_process(const other_account_process&) = delete;
    other_account_process& operator=(const other_account_process&) = delete;

    // Ends the process; true when it had not failed (exit code 2: it could
    // not become the other account).
    bool stop() {
        if (pid_ <= 0) return status_ok_;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        status_ok_ = !(WIFEXITED(status) && WEXITSTATUS(status) == 2);
        return status_ok_;
    }

private:
    pid_t pid_;
    bool status_ok_ = true;
};

}  // namespace qv_test
