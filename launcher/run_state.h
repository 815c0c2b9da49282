// The process-wide state of one run: created empty at start-up, never reset.
// The archive reader fills the value table and reports to the run through
// the extraction it is given (archive/reader.h).
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

// What the archive reader found (archive::extraction).
extern bool archive_valid;
extern bool extraction_failed;

}  // namespace launcher
