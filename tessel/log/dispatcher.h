// The process-wide log object: stamps each line and hands it to the
// listeners whose minimum level it reaches. Owns its listeners.
#pragma once

#include "tessel/log/listener.h"
#include "tessel/mutex.h"

#include <map>
#include <string>

namespace tessel {
namespace log {

class dispatcher {
public:
    dispatcher();
    ~dispatcher();
    dispatcher(const dispatcher&) = delete;
    dispatcher& operator=(const dispatcher&) = delete;

    // Takes ownership at once: a listener that cannot be added is deleted.
    // Listeners with equal minimum levels keep the order they were added in.
    void add(listener* receiver, int minimum_level = 0);
    // Deletes every listener, lowest minimum level first.
    void clear();

    // Levels run from 0 to 5. Level 5 may be written only while an
    // exception is being handled: the line describes that exception and
    // reaches the listeners at level 3.
    void write(int level, const std::wstring& text);
    // Level 1, widened from the ANSI code page, or from UTF-8 when that
    // fails, or replaced by a fixed line when both fail.
    void write(const std::string& text);
    void print(int level, const wchar_t* format, ...);

private:
    mutex lock_;
    std::multimap<int, listener*> listeners_;
};

}  // namespace log
}  // namespace tessel
