// Initialises the application environment without a module handle, which
// installs the crash dump writer, then crashes: the Wine suite looks for the
// minidump that the system's debug help library wrote.

#include "config/app_paths.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    config::names.vendor = config::load_resource_string(config::vendor_string_id, instance);
    config::names.product = config::load_resource_string(config::product_string_id, instance);
    config::init(nullptr);
    volatile int* nowhere = nullptr;
    return *nowhere;
}
