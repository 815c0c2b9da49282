// Layer-internal: what a CONTEXT is here. The exception pointers that the
// signal handler hands the top-level filter carry the interrupted thread's
// register state as the kernel delivered it.
#pragma once

#include "platform/posix/types.h"

#include <ucontext.h>

#include <cstdint>

struct _CONTEXT {
    const ucontext_t* native;
};

namespace qv_posix {

// The interrupted instruction and stack pointers; 0 on an architecture the
// layer does not know.
inline uintptr_t instruction_pointer(const ucontext_t& context) {
#if defined(__x86_64__)
    return static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(context.uc_mcontext.pc);
#else
    (void)context;
    return 0;
#endif
}

inline uintptr_t stack_pointer(const ucontext_t& context) {
#if defined(__x86_64__)
    return static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_RSP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_ESP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(context.uc_mcontext.sp);
#else
    (void)context;
    return 0;
#endif
}

}  // namespace qv_posix
