// The stages of the run, one member function each, called in their fixed
// order by package_run::execute. The log, the "/V" split, both steps of
// the parameters and the registry reads of the installer's language
// swallow their own failures; any other exception ends the run in
// run_package's handler.

#include "launcher/run.h"

#include "archive/reader.h"
#include "config/app_paths.h"
#include "launcher/command_line.h"
#include "launcher/language.h"
#include "launcher/message.h"
#include "launcher/run_state.h"
#include "launcher/working_folder.h"
#include "platform/running_image.h"
#include "tessel/handle.h"
#include "tessel/log/file.h"
#include "tessel/log/log.h"
#include "tessel/real_mutex.h"
#include "tessel/text.h"

#include <cstring>
#include <memory>
#include <string>

namespace launcher {
namespace {

const char* const guard_name = "Quorvane.Installation";

// Runs a stage whose failure leaves the run as it was; false if it failed.
template <class Stage>
bool swallowing_failure(Stage stage) {
    try {
        stage();
        return true;
    } catch (...) {
        return false;
    }
}

// Windows would open a folder in a window, and the run would wait for it
// without end: a path that names a folder is never started.
bool names_a_folder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class package_run {
public:
    package_run(HINSTANCE instance, const char* command_line)
        : instance_(instance), command_line_(command_line != nullptr ? command_line : "") {}

    int execute() {
        open_package();
        attach_log();
        check_silent_switch();
        init_environment();
        if (!take_single_instance_guard()) return 1;
        if (!prepare_folder()) return 1;
        enter_source_value();
        split_command_line();
        read_archive();
        compose_parameters();
        if (check_archive()) {
            installer_parameters_ = expand_value_references(value_table["parameters"]);
            installer_parameters_ = add_language_option(installer_parameters_);
            installer_path_ = installer_file();
            launch_and_wait();
        }
        clean_up();
        return result_;
    }

private:
    // Before anything that can wait: the package's own file, held for the
    // whole run so that nobody can change, rename or replace it. A failure
    // is reported where the archive is read.
    void open_package() {
        package_.reset(platform::open_running_image());
        package_error_ = GetLastError();
    }

    // The log: one that cannot be opened leaves the run without one, and
    // without a word about it. Without a temporary directory there is none.
    void attach_log() {
        const std::string folder = temp_directory();
        if (folder.empty()) return;
        log_ready_ = swallowing_failure([&] { tessel::log::attach(new tessel::log::file(folder + "Reader")); });
    }

    // The silent switch: "/s" anywhere, case-sensitive; it also travels on to the
    // installer in "commandline".
    void check_silent_switch() {
        if (tessel::contains(command_line_, "/s")) silent_mode = true;
    }

    // The environment: the product name and folders from the string table. With a
    // module handle no crash dump writer is installed. Not guarded.
    void init_environment() { config::init_from_resources(instance_); }

    // The single-instance guard: one package at a time on the whole machine.
    bool take_single_instance_guard() {
        guard_.reset(new tessel::real_mutex(guard_name));
        if (guard_->try_acquire(0)) return true;
        show_message("Already Running",
                     "Another installation is already running or in the process of starting up.\n"
                     "Please wait until the other installation has completed before trying again.");
        guard_.reset();
        return false;
    }

    // The working folder; nothing is left behind when the folder cannot be made current.
    bool prepare_folder() {
        folder_.reset(prepare_working_folder());
        if (folder_.valid()) return true;
        show_message("SetCurrentDirectory failed", "Unable to set Working Directory");
        guard_.reset();
        return false;
    }

    // The "/V" split of the package's command line.
    void split_command_line() {
        if (!swallowing_failure([this] { split_package_command_line(command_line_); })) {
            value_table["commandline"] = command_line_;
            v_option_text.clear();
        }
    }

    // The archive: the reader reports its own failures and leaves archive_valid.
    // It reads the file held since the start; the path only names it.
    void read_archive() {
        char own_path[MAX_PATH] = "";
        const DWORD length = GetModuleFileNameA(nullptr, own_path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) own_path[0] = '\0';
        SetLastError(package_error_);
        archive::extraction run(value_table, working_folder, silent_mode);
        archive::extract_archive(package_.get(), own_path, run);
        archive_valid = run.archive_valid;
        extraction_failed = run.extraction_failed;
    }

    // The installer's parameters: two steps, each skipped alone when it fails.
    void compose_parameters() {
        swallowing_failure(merge_parameters);
        swallowing_failure(add_installer_log);
    }

    // The archive's verdict. A file that could not be written here was reported as
    // such: it is no damaged download.
    bool check_archive() {
        if (archive_valid) return true;
        if (!extraction_failed) show_invalid_archive();
        result_ = 1;
        return false;
    }

    // The installer's start, and the wait for its end.
    void launch_and_wait() {
        const std::string directory = parent_directory();
        SHELLEXECUTEINFOA launch;
        std::memset(&launch, 0, sizeof(launch));
        launch.cbSize = sizeof(launch);
        launch.fMask = SEE_MASK_NOCLOSEPROCESS;
        launch.lpFile = installer_path_.c_str();
        launch.lpParameters = installer_parameters_.c_str();
        launch.lpDirectory = directory.c_str();
        launch.nShow = SW_SHOWNORMAL;
        write_launch_lines();
        if (installer_path_.empty() || names_a_folder(installer_path_) || !ShellExecuteExA(&launch)) {
            show_message("ShellExecuteEx failed", "Unable to spawn process");
            result_ = 1;
            return;
        }
        if (WaitForSingleObject(launch.hProcess, INFINITE) != WAIT_OBJECT_0) {
            show_message("WaitForSingleObject failed", "Unable to wait for process");
            result_ = 1;
        } else {
            DWORD exit_code = 0;
            if (GetExitCodeProcess(launch.hProcess, &exit_code)) {
                result_ = static_cast<int>(exit_code);
            } else {
                show_message("GetExitCodeProcess failed", "Unable to get process exit code");
                result_ = 1;
            }
        }
        CloseHandle(launch.hProcess);
    }

    // The launch's log lines, just before the start.
    void write_launch_lines() {
        if (!log_ready_) return;
        tessel::log::print("");
        tessel::log::wprint(L"%s", config::get_product_name().c_str());
        tessel::log::print("File: %s", installer_path_.c_str());
        tessel::log::print("Parameters: %s", installer_parameters_.c_str());
        tessel::log::print("");
    }

    // The clean-up: leave the working folder before removing it.
    void clean_up() {
        SetCurrentDirectoryA(parent_directory().c_str());
        remove_working_folder(folder_.release());
        guard_.reset();  // closed, never released
        tessel::log::shutdown();
    }

    HINSTANCE instance_;
    const std::string command_line_;
    tessel::unique_handle package_;
    DWORD package_error_ = ERROR_SUCCESS;
    tessel::unique_handle folder_;  // holds the working folder in place
    bool log_ready_ = false;        // gates the launch lines
    std::unique_ptr<tessel::real_mutex> guard_;
    std::string installer_parameters_;
    std::string installer_path_;
    int result_ = 1;
};

}  // namespace

int run_package(HINSTANCE instance, const char* command_line) {
    try {
        // The run's locals, the guard among them, are gone before the handler runs.
        package_run run(instance, command_line);
        return run.execute();
    } catch (const std::exception& error) {
        show_message(error.what(), "Unhandled Exception");
    } catch (...) {
        show_message("No context available", "Unhandled Exception");
    }
    // Nothing may leave the run, not even a failed shutdown.
    swallowing_failure(tessel::log::shutdown);
    return 1;
}

}  // namespace launcher
