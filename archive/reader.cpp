// The launcher's archive reader: the walk with message boxes and the run's
// process-wide state.

#include "archive/reader.h"

#include "archive/layout.h"
#include "archive/walk.h"
#include "launcher/message.h"
#include "launcher/run_state.h"
#include "tessel/format.h"
#include "tessel/handle.h"

namespace archive {
namespace {

// "File: <path>\rError: <system text of the last error>"
void show_file_error(const char* caption, const std::string& path) {
    const DWORD error = GetLastError();
    launcher::show_message(caption, ("File: " + path + "\rError: " + tessel::format_error(error)).c_str());
}

void report_invalid_archive() {
    launcher::show_invalid_archive();
    launcher::archive_valid = false;
}

class extraction : public walk_observer {
public:
    void on_tail() override { launcher::archive_valid = true; }
    void on_mismatch() override { report_invalid_archive(); }
    // An archive whose walk breaks off is damaged, even after its tail.
    void on_failure() override { launcher::archive_valid = false; }
    void on_value(std::string_view name, std::string_view text) override {
        insert_if_absent(std::string(name), std::string(text));
    }

    bool on_file(std::string_view name, std::string_view packed_name, std::string_view data) override {
        const std::string file_name(packed_name);
        if (!name.empty()) insert_if_absent(std::string(name), file_name);
        const std::string path = launcher::working_folder + file_name;
        // A name that is not a plain file name would write outside the
        // working folder (or name the folder itself).
        if (!is_plain_file_name(file_name)) {
            SetLastError(ERROR_INVALID_NAME);
            return refuse(path, false);
        }
        tessel::unique_handle output(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                                 FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output.valid()) return refuse(path, true);
        DWORD written = 0;
        if (!WriteFile(output.get(), data.data(), DWORD(data.size()), &written, nullptr) || written != data.size())
            return refuse(path, true);
        return true;
    }

private:
    // Never an installer from an incomplete extraction. A name no system
    // accepts is the archive's fault; a file this machine cannot write (a
    // full disk, a path too long) is not, and is no damaged download.
    bool refuse(const std::string& path, bool local) {
        show_file_error("Failed to extract file!", path);
        launcher::archive_valid = false;
        if (local) launcher::extraction_failed = true;
        return false;
    }
};

}  // namespace

void insert_if_absent(const std::string& name, const std::string& text) { launcher::value_table.emplace(name, text); }

bool read_record(HANDLE file, payload_buffer& payload) {
    record_info info;
    const record_status status = read_checked_record(file, payload, info);
    if (status == record_status::mismatch) report_invalid_archive();
    return status == record_status::ok;
}

void extract_archive(HANDLE package, const std::string& path) {
    if (package == INVALID_HANDLE_VALUE) {
        show_file_error("Failed to open archive!", path);
        return;
    }
    if (!find_tail(package)) {
        show_file_error("Failed to initialize archive!", path);
        return;
    }
    extraction observer;
    walk_archive(package, observer);
}

}  // namespace archive
