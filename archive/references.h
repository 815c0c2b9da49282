// %name% references in the archive's values: a name between two percent
// signs stands for that name's value, itself expanded first.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace archive {

// Bounds of one expansion, against values that refer to one another so
// that the text grows exponentially or nests deeper than the stack allows:
// at most this many bytes of references looked up and text inserted, and
// references nested at most this deep. A reference beyond a bound stays as
// it is, like one to a value that is being expanded.
const size_t max_expansion_size = size_t(1) << 20;
const size_t max_expansion_depth = 64;

// Replaces every %name% whose name is in values by that name's value,
// itself expanded first. A run of percent signs opens one reference; a
// reference to a name absent or being expanded stays as it is, and its
// closing sign may open the next one.
std::string expand_references(const std::string& text, const std::map<std::string, std::string>& values);

}  // namespace archive
