// The installer's command line. Positions are byte indices into narrow
// text; the "/V" searches of the package's command line ignore case, those
// of the parameters do not.

#include "launcher/command_line.h"

#include "archive/references.h"
#include "launcher/run_state.h"
#include "launcher/working_folder.h"
#include "platform/win32.h"
#include "tessel/handle.h"
#include "tessel/plain_file.h"
#include "tessel/text.h"

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
    std::string rest = command_line;
    std::string option;
    const std::string upper = tessel::to_upper(command_line);
    const size_t bare = upper.find("/V");
    if (bare != std::string::npos) {
        const size_t quoted = upper.find("/V\"");
        if (quoted != std::string::npos) {
            const size_t close = upper.find('"', quoted + 3);
            if (close == std::string::npos) {
                option = rest.substr(quoted + 3);
                rest.erase(quoted);
            } else {
                option = rest.substr(quoted + 3, close - (quoted + 3));
                rest.erase(quoted, close - quoted + 1);
            }
        } else {
            size_t end = upper.find(" /", bare);
            if (end == std::string::npos) end = rest.size();
            option = rest.substr(bare + 2, end - (bare + 2));
            rest.erase(bare, end - bare);
        }
    }
    value_table["commandline"] = rest;
    v_option_text = option;
}

void merge_parameters() {
    std::string parameters = value_table["parameters"];
    if (parameters.find("/V") == std::string::npos) {
        parameters += "/V\"" + v_option_text + "\"";
    } else {
        const size_t quoted = parameters.find("/V\"");
        if (quoted != std::string::npos)
            parameters.insert(quoted + 3, v_option_text + " ");
        else
            parameters.insert(2, "\"" + v_option_text + "\"");  // behind a leading "/V", wherever "/V" was
    }
    value_table["parameters"] = value_table["commandline"] + " " + parameters;
}

void add_installer_log() {
    if (value_table["msilog"] != "ON") return;
    // Beside the working folder, so that it outlives the clean-up.
    const std::string log_path = parent_directory() + "\\QVPRO_msi.log.txt";
    reset_attributes(log_path);

    std::string parameters = value_table["parameters"];
    if (parameters.find("/V") == std::string::npos) {
        parameters += "/V\"/l*v \\\"" + log_path + "\\\"\"";
    } else {
        const size_t quoted = parameters.find("/V\"");
        if (quoted != std::string::npos)
            parameters.insert(quoted + 3, "/l*v \\\"" + log_path + "\\\" ");
        else
            parameters.insert(2, "\"/l*v \\\"" + log_path + "\\\"\"");
    }
    value_table["parameters"] = parameters;
}

std::string expand_value_references(const std::string& text) { return archive::expand_references(text, value_table); }

std::string installer_file() { return working_folder + expand_value_references(value_table["executable32"]); }

}  // namespace launcher
