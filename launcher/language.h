// The installer's language: the one an installed copy of the product
// recorded in its uninstall entry.
#pragma once

#include <string>

namespace launcher {

// The Windows language identifier of a language name of the installer's
// table, in decimal; "1033" for every other name, the empty one included.
std::string language_lcid(const std::string& name);

// Puts "/L", the recorded language identifier and a blank in front of the
// installer's parameters, unless they already hold "/L" or the product has
// recorded no language. Every failure is swallowed.
std::string add_language_option(std::string parameters);

}  // namespace launcher
