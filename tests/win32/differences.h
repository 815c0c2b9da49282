// The documented differences of the one Win32 suite: cases that cannot
// hold on one side, each with its reason. The list itself is in
// differences.cpp, the one place where a case is marked.
#pragma once

#include <cstddef>
#include <string>

namespace contract {

enum class side {
    posix_layer,  // the native build over platform/posix
    wine,         // the Windows build under Wine, where Wine is not Windows
    windows,      // the Windows build on Windows itself: nothing is skipped
};

struct difference {
    const char* test;  // "suite.case"
    side where;        // the side on which the case does not hold
    const char* reason;
};

extern const difference differences[];
extern const size_t difference_count;

// The side this program runs on.
side this_side();
const char* side_name(side which);

// The difference that skips test ("suite.case") on this side, or null.
const difference* difference_here(const std::string& test);

}  // namespace contract
