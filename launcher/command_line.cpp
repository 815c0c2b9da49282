// The installer's command line over the run's value table; the text itself
// is composed in archive/parameters.cpp.

#include "launcher/command_line.h"

#include "archive/parameters.h"
#include "archive/references.h"
#include "launcher/run_state.h"
#include "launcher/working_folder.h"
#include "platform/win32.h"
#include "tessel/handle.h"
#include "tessel/plain_file.h"

#include <utility>

namespace launcher {
namespace {

// Clears every attribute of a file an earlier run left, through a handle of
// a plain file of ours: the name may have been made in advance, as a link
// to another file, say. A missing or refused file is left as it is.
void reset_attributes(const std::string& path) {
    tessel::unique_handle file(tessel::open_plain_file(
        path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING));
    if (!file.valid()) return;
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof(basic));
}

}  // namespace

void enter_source_value() { value_table["source"] = working_folder.substr(0, working_folder.size() - 1); }

void split_package_command_line(const std::string& command_line) {
    archive::command_line_parts parts = archive::split_v_option(command_line);
    value_table["commandline"] = std::move(parts.rest);
    v_option_text = std::move(parts.v_option);
}

void merge_parameters() {
    value_table["parameters"] =
        archive::merge_v_option(value_table["commandline"], value_table["parameters"], v_option_text);
}

void add_installer_log() {
    if (value_table["msilog"] != "ON") return;
    // Beside the working folder, so that it outlives the clean-up.
    const std::string log_path = parent_directory() + "\\QVPRO_msi.log.txt";
    reset_attributes(log_path);
    value_table["parameters"] = archive::add_log_option(value_table["parameters"], log_path);
}

std::string expand_value_references(const std::string& text) { return archive::expand_references(text, value_table); }

std::string installer_file() { return working_folder + expand_value_references(value_table["executable32"]); }

}  // namespace launcher
