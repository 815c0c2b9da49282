// %name% references in the archive's values.

#include "archive/references.h"

#include <set>

namespace archive {
namespace {

// One expansion: the names being expanded (to break cycles) and what is
// left of its budget.
struct expansion {
    std::set<std::string> expanding;
    size_t budget = max_expansion_size;
};

// Builds the result from the text rather than editing it in place, so that
// many references cost linear time.
std::string expand(const std::string& text, const std::map<std::string, std::string>& values, expansion& state) {
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
        const auto found = values.find(name);
        const size_t cost = name.size() + 3;  // the reference and its lookup
        if (found == values.end() || state.expanding.count(name) != 0 ||
            state.expanding.size() >= max_expansion_depth || state.budget < cost) {
            // The closing sign of a name left as it is may open the next reference.
            start = name_end;
            continue;
        }
        state.budget -= cost;
        state.expanding.insert(name);
        const std::string value = expand(found->second, values, state);
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

}  // namespace

std::string expand_references(const std::string& text, const std::map<std::string, std::string>& values) {
    expansion state;
    return expand(text, values, state);
}

}  // namespace archive
