// tessel::mutex over a critical section.

#include "tessel/mutex.h"

namespace tessel {

mutex::mutex() { InitializeCriticalSection(&section_); }

mutex::~mutex() { DeleteCriticalSection(&section_); }

void mutex::acquire() { EnterCriticalSection(&section_); }

void mutex::release() { LeaveCriticalSection(&section_); }

}  // namespace tessel
