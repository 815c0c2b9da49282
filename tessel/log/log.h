// The log front-end: one process-wide log, written at level 1. Every call
// runs under the process-wide front-end lock; none catches exceptions.
#pragma once

#include "tessel/log/dispatcher.h"
#include "tessel/log/errors.h"
#include "tessel/log/listener.h"

#include <string>

namespace tessel {
namespace log {

// The log owns the listener from here on.
void attach(listener* receiver);
// Deletes every listener; a later call starts an empty log.
void shutdown();
void write(const std::string& text);
void write(const std::wstring& text);
// Format in the narrow or wide dialect of tessel::format, then write.
void print(const char* format, ...);
void wprint(const wchar_t* format, ...);

}  // namespace log
}  // namespace tessel
