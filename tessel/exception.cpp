// tessel::exception and tessel::exception_w.

#include "tessel/exception.h"

#include "platform/win32.h"
#include "tessel/format.h"
#include "tessel/unicode/unicode.h"
#include "tessel/va_list_guard.h"

namespace tessel {

exception::exception(const std::string& message) : message_(message) {}

exception::exception(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const va_list_guard end(arguments);
    message_ = vformat(format, arguments);
}

exception::exception(const exception& other) = default;

exception::~exception() = default;

const char* exception::what() const noexcept {
    what_text_ = category_ + "[" + message_ + "]";
    return what_text_.c_str();
}

const char* exception::message() const { return message_.c_str(); }

const char* exception::category() const { return category_.c_str(); }

void exception::extend_category(const char* short_name) {
    if (!category_.empty()) category_ += ".";
    category_ += short_name;
}

exception_w::exception_w(const wchar_t* format, ...) : exception(std::string()) {
    va_list arguments;
    va_start(arguments, format);
    const va_list_guard end(arguments);
    message_w_ = vformat(format, arguments);
}

exception_w::exception_w(const exception_w& other) = default;

exception_w::~exception_w() = default;

void exception_w::fill_narrow() const {
    if (narrow_filled_) return;
    // Lenient: unmappable characters become the code page's default
    // character, so this raises no conversion error.
    try {
        category_ = unicode::to_narrow(category_w_, CP_ACP, false);
        message_ = unicode::to_narrow(message_w_, CP_ACP, false);
    } catch (const exception&) {
    }
    narrow_filled_ = true;
}

const char* exception_w::what() const noexcept {
    fill_narrow();
    return exception::what();
}

const char* exception_w::message() const {
    fill_narrow();
    return message_.c_str();
}

const char* exception_w::category() const {
    fill_narrow();
    return category_.c_str();
}

const wchar_t* exception_w::what_w() const {
    what_text_w_ = category_w_ + L"[" + message_w_ + L"]";
    return what_text_w_.c_str();
}

const wchar_t* exception_w::message_w() const { return message_w_.c_str(); }

const wchar_t* exception_w::category_w() const { return category_w_.c_str(); }

}  // namespace tessel
