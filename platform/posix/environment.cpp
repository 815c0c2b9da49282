// ExpandEnvironmentStringsW over the process environment.
// Differs from Windows: the environment's bytes are read as UTF-8 (as the
// Latin-1 code points of the bytes when they are not valid UTF-8); names
// match exactly first, then regardless of the case of ASCII letters.

#include "platform/win32.h"

#include <cstring>
#include <cwchar>
#include <string>

extern char** environ;

namespace {

bool utf8_to_wide(const char* text, size_t length, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < length;) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                           : lead >= 0xF0 && lead <= 0xF4 ? 3 : 4;
        if (extra == 4 || i + extra >= length) return false;
        unsigned code = extra == 0 ? lead : lead & (0x7F >> (extra + 1));
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        static const unsigned minimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < minimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        out += static_cast<wchar_t>(code);
        i += extra + 1;
    }
    return true;
}

std::wstring widen(const char* text, size_t length) {
    std::wstring out;
    if (utf8_to_wide(text, length, out)) return out;
    out.clear();
    for (size_t i = 0; i < length; ++i) out += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return out;
}

wchar_t fold_ascii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 0x20) : c; }

bool same_ignoring_case(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
    return true;
}

// The variable's value; false when it is not defined.
bool find_variable(const std::wstring& name, std::wstring& value) {
    if (name.empty()) return false;
    bool found = false;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr || equals == *entry) continue;
        const std::wstring entry_name = widen(*entry, static_cast<size_t>(equals - *entry));
        if (entry_name == name) {
            value = widen(equals + 1, std::strlen(equals + 1));
            return true;
        }
        if (!found && same_ignoring_case(entry_name, name)) {
            value = widen(equals + 1, std::strlen(equals + 1));
            found = true;
        }
    }
    return found;
}

// A reference to an undefined variable stays as written; its closing "%"
// may open the next reference. A "%" without a partner stays too.
std::wstring expand(const wchar_t* source) {
    std::wstring out;
    const wchar_t* p = source;
    while (*p != 0) {
        if (*p != L'%') {
            out += *p++;
            continue;
        }
        const wchar_t* close = std::wcschr(p + 1, L'%');
        if (close == nullptr) {
            out += p;
            break;
        }
        std::wstring value;
        if (find_variable(std::wstring(p + 1, close), value)) {
            out += value;
            p = close + 1;
        } else {
            out.append(p, close);
            p = close;
        }
    }
    return out;
}

}  // namespace

DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    if (source == nullptr || (destination == nullptr && size != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::wstring expanded = expand(source);
    const DWORD needed = static_cast<DWORD>(expanded.size() + 1);
    if (size >= needed) {
        std::memcpy(destination, expanded.c_str(), needed * sizeof(wchar_t));
    } else if (size > 0) {
        // Too small: as much as fits, terminated, and the size it needs.
        std::memcpy(destination, expanded.data(), (size - 1) * sizeof(wchar_t));
        destination[size - 1] = 0;
    }
    return needed;
}
