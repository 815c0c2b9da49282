// The launcher's only user interface: message boxes that "/s" suppresses.
#pragma once

namespace launcher {

// MessageBoxA with no owner window and an OK button only, unless
// silent_mode is set.
void show_message(const char* caption, const char* text);

}  // namespace launcher
