// Layer-internal: the Windows C runtime's splitting of a command line into
// arguments, which ShellExecuteExA applies to its parameters.
#pragma once

#include <string>
#include <vector>

namespace qv_posix {

std::vector<std::string> split_windows_arguments(const std::string& text);

}  // namespace qv_posix
