// _vsnprintf and _vsnwprintf over the C library's formatters. The format is
// translated to the C library's dialect first; conversions of narrow text in
// a wide format and wide text in a narrow one follow the C library's locale
// (as the Windows runtime follows its own).

#include "platform/posix/crt.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Rewrites one format from the Windows dialect to the C library's. Only the
// string and character conversions and the "I64"/"I32"/"I" size prefixes
// differ; everything else passes through.
template <class Char>
std::basic_string<Char> translate(const Char* format, bool wide_format) {
    std::basic_string<Char> out;
    for (const Char* p = format; *p != 0; ++p) {
        out += *p;
        if (*p != '%') continue;
        ++p;
        if (*p == '%') {
            out += *p;
            continue;
        }
        // flags, width, precision
        while (*p != 0 && *p < 128 && std::strchr("-+ #0123456789.*", static_cast<char>(*p)) != nullptr) out += *p++;
        bool explicit_narrow = false;
        bool explicit_wide = false;
        for (;;) {
            if (*p == 'I' && p[1] == '6' && p[2] == '4') {
                out += 'l';
                out += 'l';
                p += 3;
            } else if (*p == 'I' && p[1] == '3' && p[2] == '2') {
                p += 3;
            } else if (*p == 'I') {
                out += 'z';
                ++p;
            } else if (*p == 'h' && (p[1] == 's' || p[1] == 'c' || p[1] == 'S' || p[1] == 'C')) {
                explicit_narrow = true;
                ++p;
            } else if ((*p == 'l' || *p == 'w') && (p[1] == 's' || p[1] == 'c' || p[1] == 'S' || p[1] == 'C')) {
                explicit_wide = true;
                ++p;
            } else if (*p != 0 && *p < 128 && std::strchr("hlLqjzt", static_cast<char>(*p)) != nullptr) {
                out += *p++;
            } else {
                break;
            }
        }
        if (*p == 0) break;
        const Char c = *p;
        if (c == 's' || c == 'S' || c == 'c' || c == 'C') {
            const bool upper = (c == 'S' || c == 'C');
            bool wide_argument = wide_format ? !upper : upper;
            if (explicit_narrow) wide_argument = false;
            if (explicit_wide) wide_argument = true;
            if (wide_argument) out += 'l';
            out += (c == 's' || c == 'S') ? Char('s') : Char('c');
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments) {
    const std::string translated = translate(format, false);
    va_list measure;
    va_copy(measure, arguments);
    const int needed = std::vsnprintf(nullptr, 0, translated.c_str(), measure);
    va_end(measure);
    if (needed < 0 || static_cast<size_t>(needed) > count) return -1;
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), translated.c_str(), arguments);
    std::memcpy(buffer, text.data(), static_cast<size_t>(needed));
    if (static_cast<size_t>(needed) < count) buffer[needed] = '\0';
    return needed;
}

int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list arguments) {
    const std::wstring translated = translate(format, true);
    std::vector<wchar_t> text(count + 1);
    const int written = std::vswprintf(text.data(), text.size(), translated.c_str(), arguments);
    if (written < 0 || static_cast<size_t>(written) > count) return -1;
    std::wmemcpy(buffer, text.data(), static_cast<size_t>(written));
    if (static_cast<size_t>(written) < count) buffer[written] = L'\0';
    return written;
}
