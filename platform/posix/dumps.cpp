// SetUnhandledExceptionFilter over the fatal signals (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGABRT).
// Differs from Windows:
// - the filter runs in a signal handler, on an alternate stack for every
//   thread that installed a filter (other threads use their own stack, so a
//   stack overflow there cannot be reported); the layer's functions that
//   write a dump work there without allocating or locking
//   (internal/fatal_signal.h);
// - a watchdog bounds the filter: when it has not returned 10 s after the
//   first fatal signal, SIGALRM (on any thread that does not block it) ends
//   the process with that signal's default action;
// - the exception record maps the signal to the Win32 code (SIGSEGV an
//   access violation or, next to the stack pointer, a stack overflow; SIGBUS
//   misalignment or in-page error; SIGILL; SIGFPE by kind; SIGABRT
//   STATUS_FATAL_APP_EXIT);
// - EXCEPTION_CONTINUE_SEARCH (and any unknown answer) gives the signal back
//   to the disposition that was in place before, so the process dies of it
//   as it would have; EXCEPTION_EXECUTE_HANDLER ends the process at once
//   with _exit(exception code), of which a parent sees the low byte;
//   EXCEPTION_CONTINUE_EXECUTION resumes (a fault then faults again).

#include "platform/posix/internal/exception_context.h"
#include "platform/posix/internal/fatal_signal.h"
#include "platform/win32.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

const int fatal_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
const size_t fatal_signal_count = sizeof fatal_signals / sizeof fatal_signals[0];
struct sigaction previous_actions[fatal_signal_count];

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> top_level_filter(nullptr);

// A fault this close to the stack pointer hit the stack's guard page.
const uintptr_t stack_guard_reach = 64 * 1024;
const size_t alternate_stack_size = 256 * 1024;  // room for the filter and a dump

DWORD exception_code(int signal_number, const siginfo_t& info, uintptr_t stack) {
    const bool raised = info.si_code <= 0;  // sent by kill/raise, not by an instruction
    switch (signal_number) {
        case SIGSEGV: {
            const uintptr_t address = reinterpret_cast<uintptr_t>(info.si_addr);
            const bool near_stack = address + stack_guard_reach >= stack && address <= stack + stack_guard_reach;
            return !raised && stack != 0 && near_stack ? EXCEPTION_STACK_OVERFLOW : EXCEPTION_ACCESS_VIOLATION;
        }
        case SIGBUS:
            return !raised && info.si_code == BUS_ADRALN ? EXCEPTION_DATATYPE_MISALIGNMENT : EXCEPTION_IN_PAGE_ERROR;
        case SIGILL:
            return !raised && (info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG) ? EXCEPTION_PRIV_INSTRUCTION
                                                                                         : EXCEPTION_ILLEGAL_INSTRUCTION;
        case SIGFPE:
            if (raised) return EXCEPTION_FLT_INVALID_OPERATION;
            switch (info.si_code) {
                case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
                case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
                case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
                case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
                case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
                case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
                case FPE_FLTSUB: return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
                default: return EXCEPTION_FLT_INVALID_OPERATION;
            }
        default:
            return STATUS_FATAL_APP_EXIT;
    }
}

void fill_record(EXCEPTION_RECORD& record, int signal_number, const siginfo_t& info, const ucontext_t& context) {
    std::memset(&record, 0, sizeof record);
    record.ExceptionCode = exception_code(signal_number, info, qv_posix::stack_pointer(context));
    record.ExceptionAddress = reinterpret_cast<PVOID>(qv_posix::instruction_pointer(context));
    const bool memory_fault = signal_number == SIGSEGV || signal_number == SIGBUS;
    if (memory_fault && info.si_code > 0) {
        // Read (0), write (1) or execute (8), then the address.
        ULONG_PTR access = 0;
#if defined(__x86_64__) || defined(__i386__)
        const greg_t error = context.uc_mcontext.gregs[REG_ERR];
        access = (error & 0x10) != 0 ? 8 : (error & 0x2) != 0 ? 1 : 0;
#endif
        record.ExceptionInformation[0] = access;
        record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info.si_addr);
        record.NumberParameters = 2;
        if (record.ExceptionCode == EXCEPTION_IN_PAGE_ERROR) {
            record.ExceptionInformation[2] = 0xC0000185u;  // the I/O error behind it
            record.NumberParameters = 3;
        }
    }
}

// The watchdog. Armed when a first thread enters the handler, disarmed when
// the last one leaves it; the program's own alarm and SIGALRM handling are
// put back then.
std::atomic<unsigned> watchdog_milliseconds(10000);
std::atomic<int> threads_in_handler(0);
std::atomic<int> first_signal(0);
struct sigaction program_alarm_action;
struct itimerval program_alarm;
thread_local int filter_depth = 0;  // static TLS: reading it allocates nothing

// Ends the process as the first fatal signal would have without a filter.
void on_watchdog(int) {
    const int signal_number = first_signal.load();
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigaction(signal_number, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the default action ends the process
}

void arm_watchdog(int signal_number) {
    if (threads_in_handler.fetch_add(1) != 0) return;
    first_signal.store(signal_number);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_watchdog;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &program_alarm_action);
    const unsigned milliseconds = watchdog_milliseconds.load();
    struct itimerval delay;
    std::memset(&delay, 0, sizeof delay);
    delay.it_value.tv_sec = milliseconds / 1000;
    delay.it_value.tv_usec = (milliseconds % 1000) * 1000;
    setitimer(ITIMER_REAL, &delay, &program_alarm);
}

void disarm_watchdog() {
    if (threads_in_handler.fetch_sub(1) != 1) return;
    setitimer(ITIMER_REAL, &program_alarm, nullptr);
    sigaction(SIGALRM, &program_alarm_action, nullptr);
}

void give_back(int signal_number) {
    for (size_t i = 0; i < fatal_signal_count; ++i)
        if (fatal_signals[i] == signal_number) sigaction(signal_number, &previous_actions[i], nullptr);
}

void on_fatal_signal(int signal_number, siginfo_t* info, void* native_context) {
    const int saved_errno = errno;
    LONG verdict = EXCEPTION_CONTINUE_SEARCH;
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = top_level_filter.load();
    if (filter != nullptr) {
        arm_watchdog(signal_number);
        EXCEPTION_RECORD record;
        fill_record(record, signal_number, *info, *static_cast<const ucontext_t*>(native_context));
        CONTEXT context = {static_cast<const ucontext_t*>(native_context)};
        EXCEPTION_POINTERS pointers = {&record, &context};
        ++filter_depth;
        verdict = filter(&pointers);
        --filter_depth;
        if (verdict == EXCEPTION_EXECUTE_HANDLER) _exit(static_cast<int>(record.ExceptionCode));
        disarm_watchdog();
    }
    if (verdict != EXCEPTION_CONTINUE_EXECUTION) {
        give_back(signal_number);
        // A faulting instruction faults again on return; a sent signal is
        // sent again, and stays pending until this handler returns.
        if (info->si_code <= 0) raise(signal_number);
    }
    errno = saved_errno;
}

// Gives the calling thread an alternate signal stack unless it has one, so
// that a stack overflow still reaches the filter.
void ensure_alternate_stack() {
    stack_t current;
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
    const size_t size = std::max<size_t>(alternate_stack_size, static_cast<size_t>(SIGSTKSZ));
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t alternate;
    alternate.ss_sp = memory;
    alternate.ss_flags = 0;
    alternate.ss_size = size;
    if (sigaltstack(&alternate, nullptr) != 0) munmap(memory, size);
    // Otherwise kept for the thread's life: the kernel refers to it.
}

void install_signal_handlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    // A second fatal signal while the filter runs ends the process.
    for (int signal_number : fatal_signals) sigaddset(&action.sa_mask, signal_number);
    for (size_t i = 0; i < fatal_signal_count; ++i) sigaction(fatal_signals[i], &action, &previous_actions[i]);
}

}  // namespace

bool qv_posix::in_fatal_signal() { return filter_depth > 0; }

void qv_posix::set_filter_watchdog(unsigned milliseconds) { watchdog_milliseconds.store(milliseconds); }

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    if (filter != nullptr) {
        static std::once_flag installed;
        std::call_once(installed, [] {
            qv_posix::prepare_minidump();
            qv_posix::prepare_file_writes();
            install_signal_handlers();
        });
        ensure_alternate_stack();
    }
    SetLastError(ERROR_SUCCESS);
    return top_level_filter.exchange(filter);
}
