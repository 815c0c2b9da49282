// What packaging needs of a PE image's headers: where its last section
// ends (a package carries the launcher image exactly so far), the header
// fields that can point behind that end, and the certificate directory,
// which in a signed package describes the table behind the archive.
// Pure byte work, shared by qvpack and its fuzz target.
#pragma once

#include "archive/writer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace archive {

struct pe_headers {
    uint64_t image_end = 0;             // end of the last section's data; at least the headers' size
    uint32_t checksum_at = 0;           // file offset of the optional header's CheckSum
    uint32_t symbol_table_at = 0;       // file offset of the COFF header's PointerToSymbolTable
    uint32_t symbol_table = 0;          // its value (NumberOfSymbols follows it)
    uint32_t certificate_entry_at = 0;  // file offset of the certificate directory; 0: the header has none
    uint32_t certificate_offset = 0;    // the directory: file offset and size of the certificate table
    uint32_t certificate_size = 0;

    bool is_signed() const { return certificate_entry_at != 0 && certificate_size != 0; }
};

// The headers lie in a file's first bytes: this many are enough to read them.
const size_t pe_header_bytes = 64 * 1024;

// Whether a file starting with head is meant to be a PE image ("MZ").
bool is_pe_image(std::string_view head);

// Reads the headers from head, the first bytes of a file of file_size bytes
// (all of them when it is shorter than pe_header_bytes). A damaged header
// (cut short, or an offset or a section outside the file) throws
// package_error with one line saying what is wrong.
pe_headers read_pe_headers(std::string_view head, uint64_t file_size);

// The first headers.image_end bytes of an image as a package carries them:
// header fields that would point behind them are cleared (the certificate
// directory, the symbol table's position and count) and a non-zero
// checksum is recomputed for them.
void clear_fields_behind_image(std::string& image, const pe_headers& headers);

// The header of one entry of a certificate table.
struct certificate_header {
    uint32_t length;
    uint16_t revision;
    uint16_t type;
};
std::optional<certificate_header> read_certificate_header(std::string_view bytes);
// "PKCS#7 signed data" for type 2 and so on; empty for an unknown type.
const char* certificate_type_name(uint16_t type);

}  // namespace archive
