// Composition of the installer's command line from the package's own
// command line and the archive's values, all kept in value_table.
#pragma once

#include "archive/references.h"

#include <string>

namespace launcher {

using archive::max_expansion_depth;
using archive::max_expansion_size;

// value_table["source"] = working_folder without its trailing backslash.
void enter_source_value();

// Takes the first quoted "/V" option (else the first bare one, up to the
// next " /") off the command line, matching "/V" case-insensitively:
// its text goes to v_option_text, the rest to value_table["commandline"].
void split_package_command_line(const std::string& command_line);

// Puts v_option_text into the "/V" option of value_table["parameters"] and
// "commandline" and a blank in front of it.
void merge_parameters();

// When value_table["msilog"] is "ON", adds the installer's verbose log
// option, with a log file beside the working folder, to the "/V" option of
// value_table["parameters"].
void add_installer_log();

// Replaces every %name% whose name is in value_table by that name's value,
// itself expanded first. A reference to a name whose value is being
// expanded stays as it is, so values that refer to themselves terminate;
// so does one beyond the bounds above.
std::string expand_value_references(const std::string& text);

// working_folder + the expanded value_table["executable32"].
std::string installer_file();

}  // namespace launcher
