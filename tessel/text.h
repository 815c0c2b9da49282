// Byte-wise, case-sensitive utilities for narrow text.
#pragma once

#include <string>

namespace tessel {

// a to z become A to Z; every other byte stays.
std::string to_upper(const std::string& text);
bool contains(const std::string& text, const std::string& pattern);
bool starts_with(const std::string& text, const std::string& prefix);
bool ends_with(const std::string& text, const std::string& suffix);
// Left to right, without overlap; inserted text is never searched again.
// The pattern must not be empty.
std::string replace_all(const std::string& text, const std::string& pattern, const std::string& replacement);

}  // namespace tessel
