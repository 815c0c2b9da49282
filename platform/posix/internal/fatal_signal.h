// Layer-internal: a top-level exception filter runs in a fatal-signal
// handler, which may have interrupted the heap or a lock of this very
// thread. While a thread runs it, the functions a dump writer calls
// (CreateFileA, SetFilePointer, WriteFile, SetEndOfFile, CloseHandle,
// MiniDumpWriteDump) allocate nothing and wait for no lock: they work in
// memory prepared when the filter was installed and make plain system calls.
#pragma once

namespace qv_posix {

// Whether the calling thread is running the top-level filter for a fatal
// signal.
bool in_fatal_signal();

// How long a filter may run before the process ends with its signal: 10 s
// unless set otherwise (tests set it short; 0 sets no limit).
void set_filter_watchdog(unsigned milliseconds);

// Called when a filter is installed, before any fault: the minidump
// writer's memory and the facts it writes that cannot be gathered safely
// later (minidump.cpp), and the file writes' one-time set-up (files.cpp).
void prepare_minidump();
void prepare_file_writes();

}  // namespace qv_posix
