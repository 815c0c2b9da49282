// Message boxes of the run.

#include "launcher/message.h"

#include "launcher/run_state.h"
#include "platform/win32.h"

namespace launcher {

void show_message(const char* caption, const char* text) {
    if (!silent_mode) MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace launcher
