// The formatters and the system error text.

#include "tessel/format.h"

#include "platform/win32.h"
#include "tessel/va_list_guard.h"

#include <stdexcept>
#include <vector>

namespace tessel {
namespace {

// The counted formatters answer -1 both for a buffer that is too short and
// for a format or argument they cannot render, so the doubling alone could
// only end when memory runs out. Past this many characters the text is taken
// as unformattable; no line of this system comes near it.
const size_t max_format_length = size_t(1) << 26;

int counted_format(char* buffer, size_t count, const char* format, va_list arguments) {
    return _vsnprintf(buffer, count, format, arguments);
}

int counted_format(wchar_t* buffer, size_t count, const wchar_t* format, va_list arguments) {
    return _vsnwprintf(buffer, count, format, arguments);
}

template <class Char>
std::basic_string<Char> format_counted(const Char* format, va_list arguments) {
    std::vector<Char> buffer(1024);
    for (;;) {
        va_list attempt;
        va_copy(attempt, arguments);
        const int count = counted_format(buffer.data(), buffer.size(), format, attempt);
        va_end(attempt);
        if (count >= 0) return std::basic_string<Char>(buffer.data(), static_cast<size_t>(count));
        if (buffer.size() >= max_format_length) throw std::length_error("tessel::format: the text cannot be formatted");
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::string vformat(const char* format, va_list arguments) { return format_counted(format, arguments); }

std::wstring vformat(const wchar_t* format, va_list arguments) { return format_counted(format, arguments); }

std::string format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const va_list_guard end(arguments);
    return vformat(format, arguments);
}

std::wstring format(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const va_list_guard end(arguments);
    return vformat(format, arguments);
}

std::string format_error(unsigned long code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return std::string();
    std::string result(text, length >= 2 ? length - 2 : 0);
    LocalFree(text);
    return result;
}

}  // namespace tessel
