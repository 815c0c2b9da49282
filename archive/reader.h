// The launcher's archive reader: verifies the archive at the end of the
// package file, writes its packed files into the working folder and enters
// its values into the run's value table.
#pragma once

#include "platform/win32.h"

#include <map>
#include <string>

namespace archive {

// The run's side of one extraction: what the reader fills and where it
// writes, given by the run, and what it found, read back by the run.
struct extraction {
    extraction(std::map<std::string, std::string>& values, const std::string& working_folder, bool silent)
        : values(values), working_folder(working_folder), silent(silent) {}

    // Named values of the run: the reader enters only names that are absent.
    std::map<std::string, std::string>& values;
    // Where the packed files go, ending in a backslash.
    const std::string working_folder;
    // No message box is shown.
    const bool silent;
    // Set when the tail record is read; cleared when the archive turns out
    // damaged after all: a record fails its digest, a move or read fails,
    // or a packed file is refused or cannot be written.
    bool archive_valid = false;
    // A packed file could not be written on this machine: the run ends,
    // and the archive is not called damaged.
    bool extraction_failed = false;
};

// Reads the package through package, the open file of the running
// executable, which path names in messages, into run. An invalid handle is
// shown as a package that could not be opened, with the last error.
// Failures are shown as message boxes (unless run.silent) and never thrown;
// only a payload too large for memory throws std::bad_alloc. The position
// of package is left anywhere.
void extract_archive(HANDLE package, const std::string& path, extraction& run);

// "Invalid Archive!", unless silent: shown by the reader for a record that
// fails its digest, and by the run when the archive is not valid.
void show_invalid_archive(bool silent);

}  // namespace archive
