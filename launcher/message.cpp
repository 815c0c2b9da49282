// Message boxes of the run.

#include "launcher/message.h"

#include "archive/reader.h"
#include "launcher/run_state.h"
#include "platform/win32.h"

namespace launcher {

void show_message(const char* caption, const char* text) {
    if (!silent_mode) MessageBoxA(nullptr, text, caption, MB_OK);
}

void show_invalid_archive() { archive::show_invalid_archive(silent_mode); }

}  // namespace launcher
