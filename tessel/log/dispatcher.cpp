// tessel::log::dispatcher: stamping, the exception description of level-5
// lines, the narrow-line fallback chain and the visit of the listeners.

#include "tessel/log/dispatcher.h"

#include "tessel/exception.h"
#include "tessel/format.h"
#include "tessel/log/errors.h"
#include "tessel/scope.h"
#include "tessel/unicode/unicode.h"
#include "tessel/va_list_guard.h"

#ifdef _WIN32  // _com_error exists only on Windows
#include <comdef.h>
#endif

#include <exception>
#include <iterator>
#include <utility>

namespace tessel {
namespace log {
namespace {

// Indexed by level.
const char level_letters[] = "# +!>@";
const int highest_level = 5;
const int exception_level = 5;
const int exception_reported_level = 3;

std::wstring widen_ansi(const char* text) {
    try {
        return unicode::to_wide(text, CP_ACP);
    } catch (const unicode::generic&) {
        // The description must not replace the exception being handled
        // with a conversion error; UTF-8 decoding never fails.
        return unicode::to_wide(text, CP_UTF8);
    }
}

// The text extended by a description of the exception being handled.
std::wstring describe_current_exception(const std::wstring& text) {
    const std::exception_ptr current = std::current_exception();
    // Outside a handler there is nothing to describe (rethrowing would end
    // the process).
    if (!current) return text;
    try {
        std::rethrow_exception(current);
    }
#ifdef _WIN32  // _com_error exists only on Windows
    catch (const _com_error& error) {
        return format(L"%s _com_error: %S", text.c_str(), error.ErrorMessage());
    }
#endif
    catch (const exception_w& error) {
        return format(L"%s Exception: %s", text.c_str(), error.what_w());
    } catch (const std::exception& error) {
        return format(L"%s exception: %s", text.c_str(), widen_ansi(error.what()).c_str());
    } catch (...) {
        return format(L"%s unknown exception caught", text.c_str());
    }
}

}  // namespace

dispatcher::dispatcher() = default;

dispatcher::~dispatcher() { clear(); }

void dispatcher::add(listener* receiver, int minimum_level) {
    if (receiver == nullptr) return;
    scope hold(&lock_);
    try {
        // Equal keys go behind the existing ones.
        listeners_.emplace(minimum_level, receiver);
    } catch (...) {
        delete receiver;
        throw;
    }
}

void dispatcher::clear() {
    scope hold(&lock_);
    // Taken out first, so that a listener whose destructor logs finds no
    // deleted listener in the map.
    std::multimap<int, listener*> doomed;
    doomed.swap(listeners_);
    for (auto& entry : doomed) delete entry.second;
}

void dispatcher::write(int level, const std::wstring& text) {
    if (level < 0 || level > highest_level) throw generic(format("level %d is out of range", level));

    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string prefix = format("%.4d/%.2d/%.2d %.2d:%.2d:%.2d %c  ", int(now.wYear), int(now.wMonth),
                                      int(now.wDay), int(now.wHour), int(now.wMinute), int(now.wSecond),
                                      level_letters[level]);
    std::wstring line = text;
    if (level == exception_level) {
        level = exception_reported_level;
        line = describe_current_exception(line);
    }

    scope hold(&lock_);
    const auto selected_end = listeners_.upper_bound(level);
    for (auto it = std::make_reverse_iterator(selected_end); it != listeners_.rend(); ++it)
        it->second->write(level, prefix, unicode::to_narrow(line, CP_UTF8, true));
}

void dispatcher::write(const std::string& text) {
    try {
        write(1, unicode::to_wide(text, CP_ACP));
        return;
    } catch (...) {
    }
    try {
        write(1, unicode::to_wide(text, CP_UTF8));
        return;
    } catch (...) {
    }
    print(1, L"tessel::log: unable to convert input to unicode");
}

void dispatcher::print(int level, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const va_list_guard end(arguments);
    write(level, vformat(format, arguments));
}

}  // namespace log
}  // namespace tessel
