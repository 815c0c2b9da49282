// printf-style formatting into std::string / std::wstring, in the Windows
// runtime's dialect on every platform: in a narrow format "%s" is narrow and
// "%S" wide; in a wide format "%s" is wide and "%S" narrow.
#pragma once

#include <cstdarg>
#include <string>

namespace tessel {

std::string format(const char* format, ...);
std::wstring format(const wchar_t* format, ...);
std::string vformat(const char* format, va_list arguments);
std::wstring vformat(const wchar_t* format, va_list arguments);

// The system's message text for an error code without its final "\r\n";
// empty when the system has none.
std::string format_error(unsigned long code);

}  // namespace tessel
