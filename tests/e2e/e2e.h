// End-to-end test support: builds packages from the real launcher image,
// runs them as child processes in a sandbox of their own (fresh TMPDIR per
// run, own mutex folder, own drive C:), and reads back what happened: exit
// code, message boxes on standard error, what the test installer recorded,
// and what is left in the temporary directory.
#pragma once

#include "tests/support/test_folder.h"

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Paths of the programs under test, from the build.
std::string launcher_path();
std::string test_installer_path();

struct message_box {
    std::string caption;
    std::string text;
    bool operator==(const message_box& other) const { return caption == other.caption && text == other.text; }
};

// The "MessageBoxA caption=\"…\" text=\"…\"" lines of a standard error text,
// unescaped. Other lines are ignored.
std::vector<message_box> parse_message_boxes(const std::string& standard_error);

// What the test installer wrote: its program path, working directory, the
// command line as Windows would show it, and its arguments.
struct installer_record {
    std::string program;
    std::string cwd;
    std::string command_line;
    std::vector<std::string> arguments;
};

struct packed_file {
    std::string name;       // value-table name of the file, may be empty
    std::string file_name;  // name in the working folder
    std::string source;     // host path of its contents
};

// The contents of a package's archive, in file order after the stub group.
struct package_plan {
    std::vector<packed_file> files;
    std::vector<std::pair<std::string, std::string>> values;
    // Zero bytes between the launcher image and the archive (a sparse hole),
    // and a length to store for the last file's data instead of its own.
    unsigned long long hole = 0;
    std::optional<unsigned> stored_data_length;
    bool damage_last_file_digest = false;
    // The launcher image in front of the archive; empty: the real launcher.
    std::string launcher;

    // The worked example: setup.exe (the test installer) as "installer32",
    // executable32 "%installer32%", the PARTNERID parameters, msilog ON.
    static package_plan example();
};

struct run_options {
    run_options() = default;
    run_options(std::string command_line) : command_line(std::move(command_line)) {}

    std::string command_line;  // passed as one argument, so it arrives unchanged
    std::map<std::string, std::optional<std::string>> environment;  // nullopt unsets
    std::string tmpdir;                 // empty: a fresh folder of the sandbox
    std::optional<std::string> release;  // the test installer waits for this file
    std::optional<unsigned long long> address_space_limit;
    std::optional<unsigned long long> file_size_limit;  // also binds the installer
    // Started without root's power to ignore file permissions, so that they
    // bind the launcher as they bind any user (no change when not root). A
    // child that cannot give it up exits with 124.
    bool without_file_override = false;
    // Stopped right after exec, before its first instruction, until
    // running_package::resume(): what happens to its name meanwhile
    // happens before the launcher can do anything.
    bool stopped_at_start = false;
    int installer_exit_code = 0;
};

struct run_result {
    int exit_code = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string standard_error;
    std::vector<message_box> boxes;
    std::string tmpdir;  // the run's temporary directory (POSIX path)
    std::string record_path;

    std::optional<installer_record> record() const;
    // Names in the temporary directory that begin with "QV" and are folders.
    std::vector<std::string> working_folders() const;
};

// A started launcher; finish() waits for it (killing it after a deadline).
class running_package {
public:
    running_package(pid_t pid, run_result partial, std::string error_path);
    running_package(running_package&& other) noexcept;
    ~running_package();
    running_package(const running_package&) = delete;
    running_package& operator=(const running_package&) = delete;

    pid_t pid() const { return pid_; }
    const run_result& partial() const { return result_; }
    bool has_ended();
    void resume();
    run_result finish(int timeout_seconds = 30);
    void kill_now();

private:
    pid_t pid_;
    bool reaped_ = false;
    int status_ = 0;
    run_result result_;
    std::string error_path_;
};

// One test's world: a fresh folder with the mutex folder, drive C: and one
// temporary directory per run. Removed at the end.
class sandbox {
public:
    sandbox();
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& name) const { return root_ + "/" + name; }
    const std::string& drive_c() const { return drive_c_; }
    const std::string& mutex_dir() const { return mutex_dir_; }
    // Runs of different sandboxes may share a guard through this folder.
    void share_mutex_dir(const std::string& folder) { mutex_dir_ = folder; }

    // Builds a package file in the sandbox and returns its path.
    std::string build_package(const package_plan& plan, const std::string& name = "package.exe");

    running_package start(const std::string& package, const run_options& options = {});
    run_result run(const std::string& package, const run_options& options = {});

    std::string fresh_folder(const std::string& prefix);

private:
    qv_test::test_folder folder_;
    std::string root_;
    std::string drive_c_;
    std::string mutex_dir_;
    int runs_ = 0;
};

// Runs the test installer directly and returns its exit status, to compare
// with what a launcher reported for the same code.
int installer_exit_status(int code);

// Polls the condition every millisecond until it holds: true, or false
// once timeout_seconds have passed.
bool eventually(const std::function<bool()>& condition, int timeout_seconds = 20);

// "Z:" + the path with backslashes: how the launcher names a POSIX path.
std::string dos_path(const std::string& posix_path);

}  // namespace e2e
