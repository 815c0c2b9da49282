// Storage of the run's process-wide state.

#include "launcher/run_state.h"

namespace launcher {

std::map<std::string, std::string> value_table;
std::string working_folder;
std::string v_option_text;
bool silent_mode = false;
bool archive_valid = false;
bool extraction_failed = false;

}  // namespace launcher
