// Message boxes of the run.

#include "launcher/message.h"

#include "launcher/run_state.h"
#include "platform/win32.h"

namespace launcher {

void show_message(const char* caption, const char* text) {
    if (!silent_mode) MessageBoxA(nullptr, text, caption, MB_OK);
}

void show_invalid_archive() {
    show_message("Invalid Archive!",
                 "We are sorry, but your installation / update did not complete due to unexpected download errors.\r\n"
                 "Please download full version of the program");
}

}  // namespace launcher
