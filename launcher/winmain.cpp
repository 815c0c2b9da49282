// The launcher's entry point.

#include "launcher/run.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    return launcher::run_package(instance, command_line);
}
