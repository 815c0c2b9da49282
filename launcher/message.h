// The message boxes of the run and of the archive reader, which "/s"
// suppresses.
#pragma once

namespace launcher {

// MessageBoxA with no owner window and an OK button only, unless
// silent_mode is set.
void show_message(const char* caption, const char* text);

// "Invalid Archive!": shown by the reader for a record that fails its
// digest, and by the run when the archive is not valid.
void show_invalid_archive();

}  // namespace launcher
