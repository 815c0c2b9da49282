// A second process for the named-mutex tests. Usage:
//   qv_mutex_holder try NAME                  wait 0 ms, then exit
//   qv_mutex_holder die NAME                  take it and end without release
//   qv_mutex_holder hold NAME READY RELEASE   take it, create READY, wait for
//                                             RELEASE to exist, release
// The exit code tells the wait's result: 0 taken, 1 abandoned, 2 timed out,
// 3 failed; 4 for a usage or creation error.

#include "platform/win32.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

int code_of(DWORD wait_result) {
    switch (wait_result) {
        case WAIT_OBJECT_0: return 0;
        case WAIT_ABANDONED: return 1;
        case WAIT_TIMEOUT: return 2;
        default: return 3;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 4;
    const std::string mode = argv[1];
    HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[2]);
    if (mutex == nullptr) return 4;
    if (mode == "try") return code_of(WaitForSingleObject(mutex, 0));
    const int code = code_of(WaitForSingleObject(mutex, INFINITE));
    if (mode == "die") _exit(code);
    if (mode != "hold" || argc < 5) return 4;
    if (FILE* ready = std::fopen(argv[3], "w")) std::fclose(ready);
    while (access(argv[4], F_OK) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!ReleaseMutex(mutex)) return 3;
    return code;
}
