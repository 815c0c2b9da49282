// Strict wrappers around the system's code page conversions.

#include "tessel/unicode/unicode.h"

#include "platform/win32.h"

#include <climits>

namespace tessel {
namespace unicode {
namespace {

// The system refuses conversion checks for these code pages: widening gets
// no MB_ERR_INVALID_CHARS and narrowing asks for no used-default report.
// CP_ACP is the system's code page, which may be one of them (UTF-8).
bool without_checks(unsigned int code_page) {
    if (code_page == CP_ACP) code_page = GetACP();
    switch (code_page) {
        case 42:
        case 50221:
        case 50222:
        case 50225:
        case 50227:
        case 50229:
        case 52936:
        case 54936:
        case 65000:
        case 65001: return true;
        default: return code_page >= 57002 && code_page <= 57011;
    }
}

}  // namespace

std::string to_narrow(const std::wstring& text, unsigned int code_page, bool strict) {
    if (text.empty()) return std::string();
    CPINFO info;
    if (!GetCPInfo(code_page, &info)) throw invalid_codepage(std::string());
    // The system counts in int; a text whose worst case exceeds that
    // cannot be given a buffer.
    if (info.MaxCharSize == 0 || text.size() > static_cast<size_t>(INT_MAX) / info.MaxCharSize)
        throw out_of_memory(std::string());
    std::string buffer(text.size() * info.MaxCharSize, '\0');
    // Only a strict conversion asks whether a default character was used:
    // a lenient one must not fail where the code page refuses the question.
    BOOL used_default = FALSE;
    const bool ask = strict && !without_checks(code_page);
    const int count = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), &buffer[0],
                                          static_cast<int>(buffer.size()), nullptr, ask ? &used_default : nullptr);
    if (used_default) throw unmappable_character(std::string());
    if (count != 0) {
        buffer.resize(static_cast<size_t>(count));
        return buffer;
    }
    switch (GetLastError()) {
        case ERROR_INSUFFICIENT_BUFFER: throw out_of_memory(std::string());
        case ERROR_INVALID_PARAMETER: throw unmappable_character(std::string());
        default: throw generic(std::string());
    }
}

std::wstring to_wide(const std::string& text, unsigned int code_page) {
    if (text.empty()) return std::wstring();
    if (text.size() > static_cast<size_t>(INT_MAX)) throw out_of_memory(std::string());
    std::wstring buffer(text.size(), L'\0');
    const int count = MultiByteToWideChar(code_page, without_checks(code_page) ? 0 : MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(text.size()), &buffer[0], static_cast<int>(buffer.size()));
    if (count != 0) {
        buffer.resize(static_cast<size_t>(count));
        return buffer;
    }
    switch (GetLastError()) {
        case ERROR_INSUFFICIENT_BUFFER: throw out_of_memory(std::string());
        case ERROR_INVALID_PARAMETER: throw invalid_codepage(std::string());
        case ERROR_NO_UNICODE_TRANSLATION: throw unmappable_character(std::string());
        default: throw generic(std::string());
    }
}

}  // namespace unicode
}  // namespace tessel
