// Puts the run's process-wide state back as it is at start-up, for tests and
// fuzz targets that run the reader or the composition many times in one
// process. The launcher itself never resets it.
#pragma once

#include "archive/reader.h"
#include "launcher/run_state.h"
#include "tessel/handle.h"

#include <string>

namespace qv_test {

inline void reset_run_state() {
    launcher::value_table.clear();
    launcher::working_folder.clear();
    launcher::v_option_text.clear();
    launcher::silent_mode = false;
    launcher::archive_valid = false;
    launcher::extraction_failed = false;
}

// The reader on the package at dos_path, opened as the launcher holds its
// own file.
inline void extract_package(const std::string& dos_path) {
    const tessel::unique_handle package(CreateFileA(dos_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    archive::extract_archive(package.get(), dos_path);
}

}  // namespace qv_test
