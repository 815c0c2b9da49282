// InitializeCriticalSection, EnterCriticalSection, LeaveCriticalSection and
// DeleteCriticalSection: a recursive in-process lock behind the section's
// one pointer. Differs from Windows: no spin count, no debug information,
// no TryEnterCriticalSection; leaving a section that the thread does not
// hold is undefined behaviour here as there. The functions return nothing,
// so they leave the last error alone, as Windows does.

#include "platform/win32.h"

#include <mutex>

namespace {

std::recursive_mutex* lock_of(LPCRITICAL_SECTION section) {
    return static_cast<std::recursive_mutex*>(section->impl);
}

}  // namespace

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) { section->impl = new std::recursive_mutex(); }

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete lock_of(section);
    section->impl = nullptr;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) { lock_of(section)->lock(); }

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) { lock_of(section)->unlock(); }
