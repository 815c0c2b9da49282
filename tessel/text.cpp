// Narrow text utilities.

#include "tessel/text.h"

#include <cctype>

namespace tessel {

std::string to_upper(const std::string& text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool contains(const std::string& text, const std::string& pattern) { return text.find(pattern) != std::string::npos; }

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string replace_all(const std::string& text, const std::string& pattern, const std::string& replacement) {
    std::string result(text);
    if (pattern.empty()) return result;  // nothing sensible to replace; never loop
    size_t position = result.find(pattern);
    while (position != std::string::npos) {
        result.replace(position, pattern.size(), replacement);
        position = result.find(pattern, position + replacement.size());
    }
    return result;
}

}  // namespace tessel
