// tessel::log::proxy.

#include "tessel/log/proxy.h"

#include "tessel/unicode/unicode.h"

namespace tessel {
namespace log {

proxy::proxy(dispatcher* target, const std::string& tag) : target_(target), tag_(tag) {}

proxy::~proxy() = default;

void proxy::write(int level, const std::string&, const std::string& text) {
    target_->write(level, unicode::to_wide(tag_ + text, CP_UTF8));
}

}  // namespace log
}  // namespace tessel
