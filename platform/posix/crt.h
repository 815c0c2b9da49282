// The Windows runtime's counted formatters, in the Windows dialect: in a
// narrow format "%s" is narrow and "%S" wide, in a wide format the reverse;
// "h"/"l"/"w" force the width of "%s"/"%c"; text crossing widths goes
// through the ANSI code page. On integers "l" is 32 bits, "I64"/"ll" 64 and
// "I" the size of a pointer. They return the number of characters written
// (no room needed for a terminating zero, none added when the text fills
// the buffer exactly) or -1 when the text does not fit or cannot be
// formatted. _vscprintf and _vscwprintf return the length the text would
// have, or -1 when it cannot be formatted. Implemented in crt.cpp.
#pragma once

#include <cstdarg>
#include <cstddef>

int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments);
int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list arguments);
int _vscprintf(const char* format, va_list arguments);
int _vscwprintf(const wchar_t* format, va_list arguments);
