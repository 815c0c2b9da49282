// Ends a variadic function's argument list on every way out of it.
#pragma once

#include <cstdarg>

namespace tessel {

// Declared right after va_start, in the same function, on that function's
// own va_list: its destructor is the list's va_end, and it runs as the
// function returns or unwinds, before its caller resumes, which is what
// pairing va_end with va_start in one function asks for. The list is not
// used after the guard's end (with GCC and MSVC va_end only forgets it).
class va_list_guard {
public:
    explicit va_list_guard(va_list& list) : list_(list) {}
    ~va_list_guard() { va_end(list_); }
    va_list_guard(const va_list_guard&) = delete;
    va_list_guard& operator=(const va_list_guard&) = delete;

private:
    va_list& list_;
};

}  // namespace tessel
