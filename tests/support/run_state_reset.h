// Puts the run's process-wide state back as it is at start-up, for tests and
// fuzz targets that run the reader or the composition many times in one
// process. The launcher itself never resets it.
#pragma once

#include "launcher/run_state.h"

namespace qv_test {

inline void reset_run_state() {
    launcher::value_table.clear();
    launcher::working_folder.clear();
    launcher::v_option_text.clear();
    launcher::silent_mode = false;
    launcher::archive_valid = false;
}

}  // namespace qv_test
