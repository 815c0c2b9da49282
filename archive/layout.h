// The byte layout of the chunked installer archive: the one place that
// defines its constants and the encoding of a record.
//
// A record is its payload, the payload's length (unsigned 32-bit,
// little-endian) and the MD5 digest of the payload (16 bytes), with nothing
// in between. Groups of records end, in file order, with their kind:
//   stub:  data, file name, name, kind   (first in the file, never verified)
//   file:  data, file name, name, kind
//   value: text, name, kind
// and the archive ends with the tail record, whose payload is the marker.
// Bytes that do not belong to the archive (signing) may follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace archive {

const char tail_marker[] = "chunked-installer-tail";
const size_t marker_size = sizeof(tail_marker) - 1;  // 22
const char kind_stub[] = "stub";
const char kind_file[] = "file";
const char kind_value[] = "value";

const size_t length_size = 4;
const size_t digest_bytes = 16;
const size_t trailer_size = length_size + digest_bytes;  // behind every payload

// The reader moves back over length + 4 bytes as one signed 32-bit distance.
const uint32_t max_payload_length = 2147483644u;  // 2^31 - 4
// File positions are 32-bit: a package ends before 4 GiB.
const uint64_t max_package_size = 0xFFFFFFFFull;

// The tail search: the first window examined leaves out the file's last
// byte, and no window starts before this offset.
const uint32_t first_marker_offset = 23;

// What a record is within its group, as the walk and the writer tell it.
enum class record_role {
    tail,          // the tail record
    kind,          // a value or file group's kind
    stub_kind,
    unknown_kind,  // a kind the format does not know
    value_name,
    value_text,
    name,          // a file group's name
    file_name,
    file_data,
    stub_name,
    stub_file_name,
    stub_data,
    unknown_name,  // the name of a group of unknown kind
    other,         // a record written on its own
};

// The role in words ("stub data", "value name" ...).
const char* role_name(record_role role);

// The 20 bytes behind a payload: its length and its digest.
std::string encode_trailer(uint32_t length, const std::string& digest);
uint32_t decode_length(const unsigned char* bytes);

// Windows' narrow paths end before 260 characters, and the shortest working
// folder is "C:\\QV" + 10 digits + "\\": a longer name never fits.
const size_t max_file_name_length = 260 - 1 - 16;

// Whether a packed file name may be joined to an output folder, by Windows'
// rule for a file name: not empty, not "." or "..", none of \\ / : < > " | ? *
// and no byte 0 to 31, no trailing dot or blank, no Windows device name
// ("NUL", "com1.txt" ...), at most max_file_name_length bytes. Anything
// else could leave the folder, name the folder itself or write to a device,
// or Windows refuses to create it. The launcher's reader and qvpack verify
// share it: the package tool calls a package valid when the launcher
// extracts it, on either system.
bool is_plain_file_name(const std::string& name);

}  // namespace archive
