// The installer's command line. Positions are byte indices into narrow
// text; the "/V" searches of the package's command line ignore case, those
// of the parameters do not.

#include "launcher/command_line.h"

#include "launcher/run_state.h"
#include "launcher/working_folder.h"
#include "platform/win32.h"
#include "tessel/handle.h"
#include "tessel/plain_file.h"
#include "tessel/text.h"

#include <set>

namespace launcher {
namespace {

// One expansion: the names being expanded (to break cycles) and what is
// left of its budget.
struct expansion {
    std::set<std::string> expanding;
    size_t budget = max_expansion_size;
};

// Builds the result from the text rather than editing it in place, so that
// many references cost linear time.
std::string expand(const std::string& text, expansion& state) {
    std::string result;
    size_t copied = 0;  // text before this index is in result
    size_t start = text.find('%');
    while (start != std::string::npos) {
        // A run of percent signs opens one reference.
        const size_t name_begin = text.find_first_not_of('%', start);
        if (name_begin == std::string::npos) break;
        const size_t name_end = text.find('%', name_begin);
        if (name_end == std::string::npos) break;
        const std::string name = text.substr(name_begin, name_end - name_begin);
        const auto found = value_table.find(name);
        const size_t cost = name.size() + 3;  // the reference and its lookup
        if (found == value_table.end() || state.expanding.count(name) != 0 ||
            state.expanding.size() >= max_expansion_depth || state.budget < cost) {
            // The closing sign of a name left as it is may open the next reference.
            start = name_end;
            continue;
        }
        state.budget -= cost;
        state.expanding.insert(name);
        const std::string value = expand(found->second, state);
        state.expanding.erase(name);
        if (value.size() > state.budget) {
            state.budget = 0;  // spent: what was built is dropped, nothing more is expanded
            start = name_end;
            continue;
        }
        state.budget -= value.size();
        result.append(text, copied, name_begin - 1 - copied);  // further signs of a run stay
        result += value;
        // Go on behind the reference: the inserted text is never scanned,
        // so text that is no reference is not taken for a name.
        copied = name_end + 1;
        start = text.find('%', copied);
    }
    result.append(text, copied, std::string::npos);
    return result;
}

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

std::string expand_value_references(const std::string& text) {
    expansion state;
    return expand(text, state);
}

std::string installer_file() { return working_folder + expand_value_references(value_table["executable32"]); }

}  // namespace launcher
