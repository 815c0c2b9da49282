// The formatters and the system error text.

#include "tessel/format.h"

#include "platform/win32.h"
#include "tessel/exception.h"
#include "tessel/va_list_guard.h"

#include <vector>

namespace tessel {
namespace {

int counted_format(char* buffer, size_t count, const char* format, va_list arguments) {
    return _vsnprintf(buffer, count, format, arguments);
}

int counted_format(wchar_t* buffer, size_t count, const wchar_t* format, va_list arguments) {
    return _vsnwprintf(buffer, count, format, arguments);
}

int needed_length(const char* format, va_list arguments) { return _vscprintf(format, arguments); }

int needed_length(const wchar_t* format, va_list arguments) { return _vscwprintf(format, arguments); }

template <class Char>
int attempt(Char* buffer, size_t count, const Char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    const va_list_guard end(copy);
    return count == 0 ? needed_length(format, copy) : counted_format(buffer, count, format, copy);
}

// The counted formatters answer -1 both for a buffer that is too short and
// for a format or argument they cannot render; the runtime's length count
// answers -1 only for the second. So a text that does not fit the first
// buffer is counted and formatted once more at its exact length, and a
// format error ends after a few passes over the format, in the first
// buffer's memory, instead of doubling the buffer until memory runs out.
template <class Char>
std::basic_string<Char> format_counted(const Char* format, va_list arguments) {
    std::vector<Char> buffer(1024);
    int count = attempt(buffer.data(), buffer.size(), format, arguments);
    if (count < 0) {
        const int needed = attempt<Char>(nullptr, 0, format, arguments);
        if (needed > 0) {
            buffer.resize(static_cast<size_t>(needed));
            count = attempt(buffer.data(), buffer.size(), format, arguments);
        }
        if (needed <= 0 || count != needed)
            throw exception(std::string("tessel::format: the format cannot be rendered with its arguments"));
    }
    return std::basic_string<Char>(buffer.data(), static_cast<size_t>(count));
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
