// The log front-end and its process-wide state.

#include "tessel/log/log.h"

#include "tessel/format.h"
#include "tessel/mutex.h"
#include "tessel/scope.h"
#include "tessel/va_list_guard.h"

#include <cstdarg>

namespace tessel {
namespace log {
namespace {

// Built during static initialisation, before any entry point runs.
mutex front_end_lock;
dispatcher* the_dispatcher = nullptr;

// Call with the front-end lock held.
dispatcher& current_dispatcher() {
    if (the_dispatcher == nullptr) the_dispatcher = new dispatcher();
    return *the_dispatcher;
}

}  // namespace

void attach(listener* receiver) {
    scope hold(&front_end_lock);
    dispatcher* target = nullptr;
    try {
        target = &current_dispatcher();
    } catch (...) {
        delete receiver;  // the log owns it from the call on
        throw;
    }
    target->add(receiver);
}

void shutdown() {
    scope hold(&front_end_lock);
    if (the_dispatcher == nullptr) return;
    the_dispatcher->clear();
    delete the_dispatcher;
    the_dispatcher = nullptr;
}

void write(const std::string& text) {
    scope hold(&front_end_lock);
    current_dispatcher().write(text);
}

void write(const std::wstring& text) {
    scope hold(&front_end_lock);
    current_dispatcher().write(1, text);
}

void print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const va_list_guard end(arguments);
    write(vformat(format, arguments));
}

void wprint(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const va_list_guard end(arguments);
    write(vformat(format, arguments));
}

}  // namespace log
}  // namespace tessel
