// The narrow form of a path: as the system gave it, or its short form.

#include "launcher/narrow_path.h"

#include "platform/win32.h"
#include "tessel/unicode/unicode.h"

namespace launcher {
namespace {

// True when narrow, read in the code page, is wide exactly: where a
// character has no form the system puts "?" or a look-alike, which names
// another file.
bool spells(const std::string& narrow, const std::wstring& wide) {
    try {
        return !narrow.empty() && tessel::unicode::to_wide(narrow, CP_ACP) == wide;
    } catch (const tessel::exception&) {
        return false;
    }
}

// The short form of an existing path; empty when the system has none.
std::wstring short_form(const std::wstring& path) {
    const DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) return std::wstring();
    std::wstring shorter(needed, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), &shorter[0], needed);
    if (length == 0 || length >= needed) return std::wstring();
    shorter.resize(length);
    return shorter;
}

std::string in_code_page(const std::wstring& text) {
    try {
        return tessel::unicode::to_narrow(text, CP_ACP, false);
    } catch (const tessel::exception&) {
        return std::string();
    }
}

}  // namespace

std::string narrow_path(const std::string& narrow, const std::wstring& wide, size_t room) {
    std::string fitting;  // spelled and within MAX_PATH, without the room
    bool spelled = false;
    // True when form will do; remembers one that fits without the room.
    const auto leaves_room = [&](const std::string& form, const std::wstring& of) {
        if (!spells(form, of)) return false;
        spelled = true;
        if (form.size() + room < MAX_PATH) return true;
        if (fitting.empty() && form.size() < MAX_PATH) fitting = form;
        return false;
    };
    if (leaves_room(narrow, wide)) return narrow;
    const std::wstring shorter = short_form(wide);
    const std::string short_narrow = in_code_page(shorter);
    if (leaves_room(short_narrow, shorter)) return short_narrow;
    if (fitting.empty()) SetLastError(spelled ? ERROR_FILENAME_EXCED_RANGE : ERROR_NO_UNICODE_TRANSLATION);
    return fitting;
}

}  // namespace launcher
