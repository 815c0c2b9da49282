// printf-style formatting into std::string / std::wstring, in the Windows
// runtime's dialect on every platform: in a narrow format "%s" is narrow and
// "%S" wide; in a wide format "%s" is wide and "%S" narrow.
#pragma once

#include <cstdarg>
#include <string>

namespace tessel {

// A format that the runtime cannot render with its arguments (a width
// beyond int, text without a form in the other width ...) throws
// tessel::exception; a text too long for memory std::bad_alloc.
std::string format(const char* format, ...);
std::wstring format(const wchar_t* format, ...);
std::string vformat(const char* format, va_list arguments);
std::wstring vformat(const wchar_t* format, va_list arguments);

// The system's message text for an error code without its final "\r\n";
// empty when the system has none.
std::string format_error(unsigned long code);

}  // namespace tessel
