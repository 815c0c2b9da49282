// The launcher's archive reader: verifies the archive at the end of the
// package file, writes its packed files into the working folder and enters
// its values into the run's value table.
#pragma once

#include "archive/payload.h"
#include "platform/win32.h"

#include <string>

namespace archive {

// Reads the package through package, the open file of the running
// executable, which path names in messages: fills launcher::value_table
// (insert-if-absent), writes the packed files to launcher::working_folder
// and sets launcher::archive_valid. An invalid handle is shown as a package
// that could not be opened, with the last error. Failures are shown as
// message boxes (unless launcher::silent_mode) and never thrown; only a
// payload too large for memory throws std::bad_alloc. The position of
// package is left anywhere.
void extract_archive(HANDLE package, const std::string& path);

// Reads the record that ends at the current position of file into payload
// and verifies it; on success the position is at the start of the payload.
// A digest that does not match shows "Invalid Archive!" and clears
// launcher::archive_valid; other failures return false silently.
bool read_record(HANDLE file, payload_buffer& payload);

// Enters name -> text unless the name is already there.
void insert_if_absent(const std::string& name, const std::string& text);

}  // namespace archive
