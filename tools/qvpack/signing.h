// What code signing means to qvpack: a signed launcher's image is carried
// without its certificate table, and a signed package's certificate
// directory must describe the table behind the archive.
#pragma once

#include "archive/host_file.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace qvpack {

// The stub data for the launcher image in the first `available` bytes of
// file: for a PE image the bytes up to the end of its last section, with
// the header fields that pointed behind them cleared; nullopt for other
// images, which are carried whole. Damaged PE headers throw
// archive::package_error naming the file.
std::optional<std::string> carried_pe_image(archive::host_input& file, uint64_t available);

// A package's own certificate directory: the one in the PE header of the
// launcher image at its start.
struct certificate_directory {
    bool present = false;  // a PE image with a non-empty directory: signed
    uint32_t offset = 0;
    uint32_t size = 0;
};
certificate_directory package_certificate_directory(archive::host_input& package, uint32_t file_size);

// Why the directory does not describe a package whose archive ends at
// tail_end: it points outside the file or into the archive, or bytes follow
// the table. Empty when it does.
std::string certificate_directory_fault(const certificate_directory& directory, uint32_t tail_end,
                                        uint32_t file_size);

// One line per stretch of the bytes behind the tail record: alignment
// zeros, the certificate table (with its directory and its first entry's
// header) or other bytes.
void list_behind_tail(archive::host_input& package, const certificate_directory& directory, uint32_t tail_end,
                      uint32_t file_size, std::ostream& out);

}  // namespace qvpack
