// The process-wide state of one run: created empty at start-up, never reset.
// The launcher owns it; the archive reader fills it.
#pragma once

#include <map>
#include <string>

namespace launcher {

// Named values of the run; keys compare byte by byte. The archive reader
// only inserts names that are absent.
extern std::map<std::string, std::string> value_table;

// The run's working folder, always ending in a backslash.
extern std::string working_folder;

// The text of the package's own "/V" option.
extern std::string v_option_text;

// Set by "/s": no message box of the run is shown.
extern bool silent_mode;

// Set by the archive reader when it reads the tail record; cleared by it
// when the archive turns out damaged after all: a record fails its digest,
// a move or read fails, or a packed file is refused or cannot be written.
extern bool archive_valid;

// Set by the archive reader when a packed file could not be written on
// this machine: the run ends, and the archive is not called damaged.
extern bool extraction_failed;

}  // namespace launcher
