// Initialises the application environment without a module handle, which
// installs the crash dump writer, then crashes: the Wine suite looks for the
// minidump that the system's debug help library wrote.

#include "config/app_paths.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    config::init_from_resources(nullptr);
    volatile int* nowhere = nullptr;
    return *nowhere;
}
