// Conversions between wide text and narrow text in a Windows code page,
// strict or lenient, with typed errors.
#pragma once

#include "tessel/exception.h"

#include <string>

namespace tessel {
namespace unicode {

TESSEL_DECLARE_ERROR(generic, tessel::exception, "unicode");
TESSEL_DECLARE_ERROR(out_of_memory, generic, "out_of_memory");
TESSEL_DECLARE_ERROR(invalid_codepage, generic, "invalid_codepage");
TESSEL_DECLARE_ERROR(unmappable_character, generic, "unmappable_character");

// Strict: a character the code page cannot represent is an error instead of
// the code page's default character.
std::string to_narrow(const std::wstring& text, unsigned int code_page, bool strict);
std::wstring to_wide(const std::string& text, unsigned int code_page);

}  // namespace unicode
}  // namespace tessel
