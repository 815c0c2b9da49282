// The message boxes of the run, which "/s" suppresses.
#pragma once

namespace launcher {

// MessageBoxA with no owner window and an OK button only, unless
// silent_mode is set.
void show_message(const char* caption, const char* text);

// "Invalid Archive!", the reader's own box, when the archive is not valid.
void show_invalid_archive();

}  // namespace launcher
