// The installer's command line. Positions are byte indices into narrow
// text; the "/V" searches of the package's command line ignore case, those
// of the parameters do not.

#include "archive/parameters.h"

#include "tessel/text.h"

namespace archive {

command_line_parts split_v_option(const std::string& command_line) {
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
    return command_line_parts{rest, option};
}

std::string merge_v_option(const std::string& command_line, const std::string& parameters,
                           const std::string& v_option) {
    std::string merged = parameters;
    if (merged.find("/V") == std::string::npos) {
        merged += "/V\"" + v_option + "\"";
    } else {
        const size_t quoted = merged.find("/V\"");
        if (quoted != std::string::npos)
            merged.insert(quoted + 3, v_option + " ");
        else
            merged.insert(2, "\"" + v_option + "\"");  // behind a leading "/V", wherever "/V" was
    }
    return command_line + " " + merged;
}

std::string add_log_option(const std::string& parameters, const std::string& log_path) {
    std::string added = parameters;
    if (added.find("/V") == std::string::npos) {
        added += "/V\"/l*v \\\"" + log_path + "\\\"\"";
    } else {
        const size_t quoted = added.find("/V\"");
        if (quoted != std::string::npos)
            added.insert(quoted + 3, "/l*v \\\"" + log_path + "\\\" ");
        else
            added.insert(2, "\"/l*v \\\"" + log_path + "\\\"\"");
    }
    return added;
}

}  // namespace archive
