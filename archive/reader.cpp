// The launcher's archive reader: the walk with message boxes, reporting to
// the run through its extraction.

#include "archive/reader.h"

#include "archive/layout.h"
#include "archive/walk.h"
#include "tessel/format.h"
#include "tessel/handle.h"

namespace archive {
namespace {

void show_message(bool silent, const char* caption, const char* text) {
    if (!silent) MessageBoxA(nullptr, text, caption, MB_OK);
}

// "File: <path>\rError: <system text of the last error>"
void show_file_error(bool silent, const char* caption, const std::string& path) {
    const DWORD error = GetLastError();
    show_message(silent, caption, ("File: " + path + "\rError: " + tessel::format_error(error)).c_str());
}

class extracting_walk : public walk_observer {
public:
    explicit extracting_walk(extraction& run) : run_(run) {}

    void on_tail() override { run_.archive_valid = true; }
    void on_mismatch() override {
        show_invalid_archive(run_.silent);
        run_.archive_valid = false;
    }
    // An archive whose walk breaks off is damaged, even after its tail.
    void on_failure() override { run_.archive_valid = false; }
    void on_value(std::string_view name, std::string_view text) override {
        run_.values.emplace(std::string(name), std::string(text));
    }

    bool on_file(std::string_view name, std::string_view packed_name, std::string_view data) override {
        const std::string file_name(packed_name);
        if (!name.empty()) run_.values.emplace(std::string(name), file_name);
        const std::string path = run_.working_folder + file_name;
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
        show_file_error(run_.silent, "Failed to extract file!", path);
        run_.archive_valid = false;
        if (local) run_.extraction_failed = true;
        return false;
    }

    extraction& run_;
};

}  // namespace

void show_invalid_archive(bool silent) {
    show_message(silent, "Invalid Archive!",
                 "We are sorry, but your installation / update did not complete due to unexpected download errors.\r\n"
                 "Please download full version of the program");
}

void extract_archive(HANDLE package, const std::string& path, extraction& run) {
    if (package == INVALID_HANDLE_VALUE) {
        show_file_error(run.silent, "Failed to open archive!", path);
        return;
    }
    handle_source file(package);
    if (!find_tail(file)) {
        show_file_error(run.silent, "Failed to initialize archive!", path);
        return;
    }
    extracting_walk observer(run);
    walk_archive(file, observer);
}

}  // namespace archive
