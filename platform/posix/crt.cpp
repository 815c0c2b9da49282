// _vsnprintf, _vsnwprintf and their length counts _vscprintf and _vscwprintf
// in the Windows runtime's printf dialect. The format is walked here, one
// conversion at a time: numbers are rendered by the C library's snprintf,
// strings and characters by hand, so that narrow text in a wide format and
// wide text in a narrow one cross as the Windows runtime makes them cross
// in its "C" locale (byte N is U+00NN), never through the C library's
// locale or the ANSI code page. A wide string with a character beyond
// U+00FF fails the call; such a character alone is left out.
//
// Differs from Windows: "%p" prints the C library's form; "%n", which
// stores through its argument and which no format of this system uses,
// makes the call fail (-1). A conversion the runtime does not know prints
// its character, as the Windows runtime's do.
// As on Windows, "l" on an integer is 32 bits, "I64"/"ll" 64 and "I" the
// size of a pointer; "L" on a floating conversion is the native long double.

#include "platform/posix/crt.h"

#include "platform/win32.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

// The argument list of one call; helpers share it through a reference
// (a va_list cannot portably be passed on and used again).
struct argument_list {
    va_list list;
};

enum class size_prefix { none, hh, h, l, ll, pointer, i32, i64, j, z, t, long_double, wide };

struct conversion {
    std::string flags;  // of "-+ #0"
    int width = -1;
    int precision = -1;
    size_prefix size = size_prefix::none;
    char type = 0;
};

bool ascii_in(int c, const char* set) { return c > 0 && c < 128 && std::strchr(set, c) != nullptr; }

// Reads a decimal number or '*'; false on overflow.
template <class Char>
bool read_number(const Char*& p, argument_list& arguments, int& value) {
    if (*p == '*') {
        ++p;
        value = va_arg(arguments.list, int);
        return true;
    }
    value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value > (INT_MAX - 9) / 10) return false;
        value = value * 10 + static_cast<int>(*p++ - '0');
    }
    return true;
}

// Parses flags, width, precision and size prefixes after '%' (fetching '*'
// values); false when a number overflows. p ends on the conversion
// character, which may be the format's end. The size prefixes are read as
// the Windows runtime reads them: any number of them, the last one
// counting; "F" and "N" (far and near) change nothing; "I", "z" and "t" are
// prefixes only before an integer conversion ("%Iy" prints "Iy").
template <class Char>
bool parse_conversion(const Char*& p, argument_list& arguments, conversion& directive) {
    while (ascii_in(static_cast<int>(*p), "-+ #0")) directive.flags += static_cast<char>(*p++);
    if (*p == '*' || (*p >= '1' && *p <= '9')) {
        if (!read_number(p, arguments, directive.width)) return false;
        if (directive.width < 0) {
            directive.flags += '-';
            directive.width = directive.width == INT_MIN ? INT_MAX : -directive.width;
        }
    }
    if (*p == '.') {
        ++p;
        if (!read_number(p, arguments, directive.precision)) return false;
        if (directive.precision < 0) directive.precision = -1;  // as if omitted
    }
    for (;;) {
        const bool before_integer = *p != 0 && ascii_in(static_cast<int>(p[1]), "diouxX");
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            directive.size = size_prefix::i64;
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            directive.size = size_prefix::i32;
            p += 3;
        } else if (p[0] == 'h' && p[1] == 'h') {
            directive.size = size_prefix::hh;
            p += 2;
        } else if (p[0] == 'l' && p[1] == 'l') {
            directive.size = size_prefix::ll;
            p += 2;
        } else if (ascii_in(static_cast<int>(*p), "hljLwFN") ||
                   (ascii_in(static_cast<int>(*p), "Izt") && before_integer)) {
            switch (static_cast<char>(*p++)) {
                case 'h': directive.size = size_prefix::h; break;
                case 'l': directive.size = size_prefix::l; break;
                case 'I': directive.size = size_prefix::pointer; break;
                case 'j': directive.size = size_prefix::j; break;
                case 'z': directive.size = size_prefix::z; break;
                case 't': directive.size = size_prefix::t; break;
                case 'L': directive.size = size_prefix::long_double; break;
                case 'w': directive.size = size_prefix::wide; break;
                default: break;  // far and near pointers are one thing here
            }
        } else {
            return true;
        }
    }
}

// The C library's format for one numeric conversion, with modifier mod.
std::string c_format(const conversion& directive, const char* mod) {
    std::string text = "%" + directive.flags;
    if (directive.width >= 0) text += std::to_string(directive.width);
    if (directive.precision >= 0) text += "." + std::to_string(directive.precision);
    return text + mod + directive.type;
}

template <class T>
bool append_c_formatted(std::string& out, const std::string& format, T value) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), value);
    if (length < 0) return false;
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    std::snprintf(&out[start], static_cast<size_t>(length) + 1, format.c_str(), value);
    out.resize(start + static_cast<size_t>(length));
    return true;
}

// Renders a numeric or pointer conversion as ASCII text.
bool render_number(const conversion& directive, argument_list& arguments, std::string& out) {
    const bool is_signed = directive.type == 'd' || directive.type == 'i';
    switch (directive.type) {
        case 'p':
            if (directive.size != size_prefix::none) return false;
            return append_c_formatted(out, c_format(directive, ""), va_arg(arguments.list, void*));
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
            if (directive.size == size_prefix::long_double)
                return append_c_formatted(out, c_format(directive, "L"), va_arg(arguments.list, long double));
            if (directive.size != size_prefix::none && directive.size != size_prefix::l) return false;
            return append_c_formatted(out, c_format(directive, ""), va_arg(arguments.list, double));
        default: break;
    }
    long long value = 0;
    unsigned long long unsigned_value = 0;
    switch (directive.size) {
        case size_prefix::none:
        case size_prefix::l:
        case size_prefix::i32:
            value = va_arg(arguments.list, int32_t);
            unsigned_value = static_cast<uint32_t>(value);
            break;
        case size_prefix::hh:
            value = static_cast<signed char>(va_arg(arguments.list, int));
            unsigned_value = static_cast<unsigned char>(value);
            break;
        case size_prefix::h:
            value = static_cast<short>(va_arg(arguments.list, int));
            unsigned_value = static_cast<unsigned short>(value);
            break;
        case size_prefix::ll:
        case size_prefix::i64:
        case size_prefix::j:
            value = va_arg(arguments.list, long long);
            unsigned_value = static_cast<unsigned long long>(value);
            break;
        case size_prefix::pointer:
        case size_prefix::z:
        case size_prefix::t:
            value = static_cast<long long>(va_arg(arguments.list, ptrdiff_t));
            unsigned_value = static_cast<size_t>(value);
            break;
        default: return false;
    }
    if (is_signed) return append_c_formatted(out, c_format(directive, "ll"), value);
    return append_c_formatted(out, c_format(directive, "ll"), unsigned_value);
}

// The crossings between widths, as the Windows runtime makes them in its
// "C" locale, which a program has until it calls setlocale (this system
// never does): a byte is the character of the same value, and a character
// beyond U+00FF has no narrow form.
bool convert(const char* text, size_t length, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < length; ++i) out += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return true;
}

bool convert(const wchar_t* text, size_t length, std::string& out) {
    out.clear();
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned long>(text[i]) > 0xFF) return false;
        out += static_cast<char>(text[i]);
    }
    return true;
}

// Same width: nothing to convert.
bool convert(const char* text, size_t length, std::string& out) {
    out.assign(text, length);
    return true;
}

bool convert(const wchar_t* text, size_t length, std::wstring& out) {
    out.assign(text, length);
    return true;
}

template <class Char>
size_t bounded_length(const Char* text, int precision) {
    size_t length = 0;
    while ((precision < 0 || length < static_cast<size_t>(precision)) && text[length] != 0) ++length;
    return length;
}

// The argument of a string or character conversion, in the width of the
// format (Char). wide_argument: the argument is wide text.
template <class Char>
bool fetch_text(const conversion& directive, bool wide_argument, argument_list& arguments, std::basic_string<Char>& text) {
    std::string narrow;
    std::wstring wide;
    if (directive.type == 'c' || directive.type == 'C') {
        if (wide_argument)
            wide.assign(1, static_cast<wchar_t>(va_arg(arguments.list, wint_t)));
        else
            narrow.assign(1, static_cast<char>(va_arg(arguments.list, int)));
    } else if (wide_argument) {
        const wchar_t* argument = va_arg(arguments.list, const wchar_t*);
        if (argument == nullptr) argument = L"(null)";
        wide.assign(argument, bounded_length(argument, directive.precision));
    } else {
        const char* argument = va_arg(arguments.list, const char*);
        if (argument == nullptr) argument = "(null)";
        narrow.assign(argument, bounded_length(argument, directive.precision));
    }
    if (!wide_argument) return convert(narrow.data(), narrow.size(), text);
    if (convert(wide.data(), wide.size(), text)) return true;
    // A string without a narrow form fails the call; a character is left out.
    text.clear();
    return directive.type == 'c' || directive.type == 'C';
}

template <class Char>
void append_padded(std::basic_string<Char>& out, const conversion& directive, const std::basic_string<Char>& text) {
    size_t length = text.size();
    if (directive.precision >= 0 && directive.type != 'c' && directive.type != 'C' && length > static_cast<size_t>(directive.precision))
        length = static_cast<size_t>(directive.precision);
    const size_t padding = directive.width > 0 && static_cast<size_t>(directive.width) > length ? directive.width - length : 0;
    const bool left = directive.flags.find('-') != std::string::npos;
    const Char fill = !left && directive.flags.find('0') != std::string::npos ? Char('0') : Char(' ');
    if (!left) out.append(padding, fill);
    out.append(text, 0, length);
    if (left) out.append(padding, Char(' '));
}

// The whole formatted text; false when the format cannot be rendered.
template <class Char>
bool windows_format(const Char* format, argument_list& arguments, std::basic_string<Char>& out) {
    const bool wide_format = sizeof(Char) != 1;
    for (const Char* p = format; *p != 0; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += Char('%');
            continue;
        }
        conversion directive;
        if (!parse_conversion(p, arguments, directive)) return false;
        // As the Windows runtime does: a format that ends inside a
        // conversion ends there, a conversion it does not know prints its
        // character (without width or argument), and "%" after a flag,
        // width or prefix prints nothing.
        if (*p == 0) break;
        if (*p == '%') continue;
        if (*p == 'n') return false;
        if (!ascii_in(static_cast<int>(*p), "diouxXeEfFgGaAcCsSp")) {
            out += *p;
            continue;
        }
        directive.type = static_cast<char>(*p);
        if (ascii_in(directive.type, "cCsS")) {
            bool wide_argument = wide_format != (directive.type == 'C' || directive.type == 'S');
            if (directive.size == size_prefix::h)
                wide_argument = false;
            else if (directive.size == size_prefix::l || directive.size == size_prefix::wide)
                wide_argument = true;
            else if (directive.size != size_prefix::none)
                return false;
            std::basic_string<Char> text;
            if (!fetch_text(directive, wide_argument, arguments, text)) return false;
            append_padded(out, directive, text);
        } else {
            std::string number;
            if (!render_number(directive, arguments, number)) return false;
            out.append(number.begin(), number.end());  // ASCII: widens unchanged
        }
    }
    return true;
}

// The whole text, at most INT_MAX characters; false when it cannot be
// formatted.
template <class Char>
bool render(const Char* format, va_list list, std::basic_string<Char>& text) {
    argument_list arguments;
    va_copy(arguments.list, list);
    const bool rendered = windows_format(format, arguments, text);
    va_end(arguments.list);
    return rendered && text.size() <= static_cast<size_t>(INT_MAX);
}

// Counted copy: the text is written as far as it fits; -1 when it does not
// fit whole (or could not be rendered), else its length. A terminating zero
// follows only when there is room.
template <class Char>
int counted_format(Char* buffer, size_t count, const Char* format, va_list list) {
    std::basic_string<Char> text;
    if (!render(format, list, text)) return -1;
    if (count > 0) std::memcpy(buffer, text.data(), std::min(text.size(), count) * sizeof(Char));
    if (text.size() > count) return -1;
    if (text.size() < count) buffer[text.size()] = 0;
    return static_cast<int>(text.size());
}

}  // namespace

int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments) {
    return counted_format(buffer, count, format, arguments);
}

int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list arguments) {
    return counted_format(buffer, count, format, arguments);
}

int _vscprintf(const char* format, va_list arguments) {
    std::string text;
    return render(format, arguments, text) ? static_cast<int>(text.size()) : -1;
}

int _vscwprintf(const wchar_t* format, va_list arguments) {
    std::wstring text;
    return render(format, arguments, text) ? static_cast<int>(text.size()) : -1;
}
