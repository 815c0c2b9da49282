// A listener that forwards lines, tagged, to another dispatcher, which
// stamps them anew.
#pragma once

#include "tessel/log/dispatcher.h"
#include "tessel/log/listener.h"

#include <string>

namespace tessel {
namespace log {

class proxy : public listener {
public:
    // The target is not owned and must outlive the proxy; it must not be
    // the dispatcher that owns the proxy. The tag is UTF-8.
    proxy(dispatcher* target, const std::string& tag);
    ~proxy() override;

    void write(int level, const std::string& prefix, const std::string& text) override;

private:
    dispatcher* target_;
    std::string tag_;
};

}  // namespace log
}  // namespace tessel
