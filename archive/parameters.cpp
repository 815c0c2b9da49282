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

namespace {

// Puts text first into the parameters' "/V" option: a new option when
// there is none, inside its quotes when it has them, else quoted behind a
// leading "/V", wherever "/V" was.
std::string into_v_option(const std::string& parameters, const std::string& text) {
    std::string joined = parameters;
    if (joined.find("/V") == std::string::npos) {
        joined += "/V\"" + text + "\"";
    } else {
        const size_t quoted = joined.find("/V\"");
        if (quoted != std::string::npos)
            joined.insert(quoted + 3, text + " ");
        else
            joined.insert(2, "\"" + text + "\"");
    }
    return joined;
}

}  // namespace

std::string merge_v_option(const std::string& command_line, const std::string& parameters,
                           const std::string& v_option) {
    return command_line + " " + into_v_option(parameters, v_option);
}

std::string add_log_option(const std::string& parameters, const std::string& log_path) {
    return into_v_option(parameters, "/l*v \\\"" + log_path + "\\\"");
}

}  // namespace archive
