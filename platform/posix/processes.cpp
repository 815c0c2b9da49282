// Processes: ShellExecuteExA, GetExitCodeProcess, GetCurrentProcess,
// GetCurrentProcessId, GetCurrentThreadId and the process object behind
// the handle that ShellExecuteExA returns. Differs from Windows:
// - Only running a program is supported: no verb or "open", no mask or
//   SEE_MASK_NOCLOSEPROCESS; the file must be a program (no documents, no
//   folders), and the owner's execute permission is granted when missing,
//   as Windows has no such bit.
// - The parameters are split into arguments with the Windows C runtime's
//   rules. The program also finds the exact command line that Windows would
//   show it (the quoted file path, a blank, the parameters) in the
//   environment variable QV_COMMAND_LINE.
// - Exit codes are 8 bits: a program that exits with 3010 reports
//   3010 & 0xFF (194). A program ended by signal N reports 128 + N.
// - The show command and the owner window are ignored (nothing has windows).
// - Without SEE_MASK_NOCLOSEPROCESS no handle is returned and a detached
//   thread reaps the child.

#include "platform/posix/internal/arguments.h"
#include "platform/posix/internal/dos_path.h"
#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/kernel_object.h"
#include "platform/win32.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qv_posix {

// The Windows C runtime's argument splitting: blanks and tabs separate
// outside quotes; 2n backslashes before a quote give n backslashes and the
// quote toggles quoting; 2n+1 give n backslashes and a literal quote; ""
// inside quotes gives a literal quote and quoting goes on; other backslashes
// are literal.
std::vector<std::string> split_windows_arguments(const std::string& text) {
    std::vector<std::string> arguments;
    size_t i = 0;
    const size_t n = text.size();
    for (;;) {
        while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= n) break;
        std::string argument;
        bool quoted = false;
        for (;;) {
            size_t slashes = 0;
            while (i < n && text[i] == '\\') {
                ++slashes;
                ++i;
            }
            bool copy = true;
            if (i < n && text[i] == '"') {
                if (slashes % 2 == 0) {
                    if (quoted && i + 1 < n && text[i + 1] == '"') {
                        ++i;  // "" inside quotes: one literal quote
                    } else {
                        copy = false;
                        quoted = !quoted;
                    }
                }
                slashes /= 2;
            }
            argument.append(slashes, '\\');
            if (i >= n || (!quoted && (text[i] == ' ' || text[i] == '\t'))) break;
            if (copy) argument += text[i];
            ++i;
        }
        arguments.push_back(argument);
    }
    return arguments;
}

namespace {

// A child process; the handle waits for it with waitpid.
class process_object : public kernel_object {
public:
    explicit process_object(pid_t pid) : pid_(pid) {}

    ~process_object() override {
        // Reap a finished child; a running one is left alone, as closing a
        // handle does not end a process.
        std::lock_guard<std::mutex> hold(lock_);
        if (!ended_) {
            int status = 0;
            waitpid(pid_, &status, WNOHANG);
        }
    }

    DWORD wait(DWORD milliseconds) override {
        std::lock_guard<std::mutex> hold(lock_);
        if (ended_) return WAIT_OBJECT_0;
        if (milliseconds == INFINITE) return reap(0) ? WAIT_OBJECT_0 : WAIT_FAILED;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        auto pause = std::chrono::microseconds(200);
        for (;;) {
            if (!reap(WNOHANG)) return WAIT_FAILED;
            if (ended_) return WAIT_OBJECT_0;
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, std::chrono::microseconds(10000));
        }
    }

    bool exit_code(DWORD& code) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!ended_ && !reap(WNOHANG)) return false;
        code = ended_ ? exit_code_ : STILL_ACTIVE;
        return true;
    }

private:
    // One waitpid; false (last error set) when it fails.
    bool reap(int options) {
        int status = 0;
        pid_t done;
        do {
            done = waitpid(pid_, &status, options);
        } while (done < 0 && errno == EINTR);
        if (done < 0) {
            set_last_error_from_errno();
            return false;
        }
        if (done == pid_) {
            ended_ = true;
            exit_code_ = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                                           : 128 + static_cast<DWORD>(WTERMSIG(status));
        }
        return true;
    }

    std::mutex lock_;
    const pid_t pid_;
    bool ended_ = false;
    DWORD exit_code_ = 0;
};

bool is_open_verb(LPCSTR verb) { return verb == nullptr || *verb == '\0' || strcasecmp(verb, "open") == 0; }

}  // namespace
}  // namespace qv_posix

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
    if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto fail = [info](DWORD code) {
        info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(code < 32 ? code : 0));
        SetLastError(code);
        return FALSE;
    };
    if ((info->fMask & ~static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS)) != 0) return fail(ERROR_INVALID_FLAGS);
    if (!qv_posix::is_open_verb(info->lpVerb)) return fail(ERROR_NOT_SUPPORTED);
    info->hProcess = nullptr;

    std::string file;
    if (info->lpFile == nullptr || *info->lpFile == '\0') return fail(ERROR_FILE_NOT_FOUND);
    if (!qv_posix::to_posix_path(info->lpFile, file)) return fail(GetLastError());
    struct stat file_info;
    if (stat(file.c_str(), &file_info) != 0) {
        return fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : qv_posix::win32_error_from_errno(errno));
    }
    if (!S_ISREG(file_info.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if ((file_info.st_mode & S_IXUSR) == 0 && chmod(file.c_str(), file_info.st_mode | S_IXUSR) != 0) {
        return fail(qv_posix::win32_error_from_errno(errno));
    }

    std::string directory;
    if (info->lpDirectory != nullptr && *info->lpDirectory != '\0') {
        struct stat directory_info;
        if (!qv_posix::to_posix_path(info->lpDirectory, directory)) return fail(GetLastError());
        if (stat(directory.c_str(), &directory_info) != 0 || !S_ISDIR(directory_info.st_mode)) {
            return fail(ERROR_DIRECTORY);
        }
    }

    const std::string parameters = info->lpParameters != nullptr ? info->lpParameters : "";
    std::vector<std::string> arguments = qv_posix::split_windows_arguments(parameters);
    arguments.insert(arguments.begin(), file);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    std::string command_line = std::string("QV_COMMAND_LINE=\"") + info->lpFile + "\"";
    if (!parameters.empty()) command_line += " " + parameters;
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::string(*entry).compare(0, 16, "QV_COMMAND_LINE=") != 0) environment.push_back(*entry);
    environment.push_back(&command_line[0]);
    environment.push_back(nullptr);

    // The child reports a failed exec through a pipe that closes on success.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return fail(qv_posix::win32_error_from_errno(errno));
    const pid_t pid = fork();
    if (pid < 0) {
        const DWORD code = qv_posix::win32_error_from_errno(errno);
        close(report[0]);
        close(report[1]);
        return fail(code);
    }
    if (pid == 0) {
        close(report[0]);
        if (directory.empty() || chdir(directory.c_str()) == 0) execve(file.c_str(), argv.data(), environment.data());
        const int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof(error));
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int child_error = 0;
    ssize_t got;
    do {
        got = read(report[0], &child_error, sizeof(child_error));
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof(child_error))) {
        int status = 0;
        waitpid(pid, &status, 0);
        return fail(child_error == ENOEXEC ? ERROR_BAD_EXE_FORMAT : qv_posix::win32_error_from_errno(child_error));
    }

    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(33));  // > 32: success
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
        info->hProcess = (new qv_posix::process_object(pid))->handle();
    } else {
        std::thread([pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
    auto* object = qv_posix::handle_cast<qv_posix::process_object>(process);
    if (object == nullptr) return FALSE;
    if (exit_code == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->exit_code(*exit_code) ? TRUE : FALSE;
}

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

DWORD WINAPI GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD WINAPI GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }
