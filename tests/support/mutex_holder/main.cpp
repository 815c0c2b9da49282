// A second process for the POSIX layer's own named-mutex tests (the Win32
// contract's start the suite itself as their second process). Usage:
//   qv_mutex_holder try NAME    wait 0 ms, then exit
// The exit code tells the wait's result: 0 taken, 1 abandoned, 2 timed out,
// 3 failed; 4 for a usage or creation error.

#include "platform/win32.h"

#include <string>

int main(int argc, char** argv) {
    if (argc < 3 || std::string(argv[1]) != "try") return 4;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[2]);
    if (mutex == nullptr) return 4;
    switch (WaitForSingleObject(mutex, 0)) {
        case WAIT_OBJECT_0: return 0;
        case WAIT_ABANDONED: return 1;
        case WAIT_TIMEOUT: return 2;
        default: return 3;
    }
}
