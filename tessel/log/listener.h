// A receiver of log lines.
#pragma once

#include <string>

namespace tessel {
namespace log {

class listener {
public:
    virtual ~listener() = 0;
    // prefix: the stamp, plain ASCII, ending in two spaces; text: the line
    // in UTF-8, without line end.
    virtual void write(int level, const std::string& prefix, const std::string& text) = 0;
};

inline listener::~listener() {}

}  // namespace log
}  // namespace tessel
