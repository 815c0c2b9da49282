// The installer's command line from the package's own command line and the
// archive's values: text in, text out. The run keeps the values in its
// table (launcher/command_line.h).
#pragma once

#include <string>

namespace archive {

struct command_line_parts {
    std::string rest;      // the command line without the option
    std::string v_option;  // the option's text
};

// Takes the first quoted "/V" option (else the first bare one, up to the
// next " /") off command_line, matching "/V" case-insensitively.
command_line_parts split_v_option(const std::string& command_line);

// command_line, a blank, and parameters with v_option in its "/V" option.
std::string merge_v_option(const std::string& command_line, const std::string& parameters,
                           const std::string& v_option);

// parameters with the installer's verbose log option, for a log file at
// log_path, in its "/V" option.
std::string add_log_option(const std::string& parameters, const std::string& log_path);

}  // namespace archive
