// Storage of the run's process-wide state.

#include "launcher/run_state.h"

namespace launcher {

std::map<std::string, std::string> value_table;
std::string working_folder;
std::string v_option_text;
bool silent_mode = false;
bool archive_valid = false;

void reset_run_state() {
    value_table.clear();
    working_folder.clear();
    v_option_text.clear();
    silent_mode = false;
    archive_valid = false;
}

}  // namespace launcher
