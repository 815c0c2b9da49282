// What a package is built from, as given on the command line or in a
// manifest file, and the quoting both use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvpack {

struct group {
    enum kind_type { file, value } kind;
    std::string name;
    std::string text;  // the file name of a file group, the text of a value group
    std::string path;  // the source of a file group
};

struct build_plan {
    std::string stub_path;
    std::string stub_file_name;  // empty: the launcher image's own file name
    std::vector<group> groups;   // in file order
    uint32_t alignment = 0;      // zero bytes behind the tail up to a multiple of this
    std::string trailer_path;    // bytes behind those
};

// A manifest names one item per line; blank lines and lines starting with
// "#" are ignored. Fields are separated by blanks; a field in double quotes
// may hold blanks and the escapes \\ \" \t \r \n \xHH.
//   stub PATH [FILE-NAME]
//   file NAME FILE-NAME PATH
//   value NAME TEXT
//   align N
//   trailer PATH
// Relative paths are taken from the manifest's folder. Throws
// archive::package_error naming the line.
build_plan parse_manifest(const std::string& text, const std::string& folder);

// Splits one line into fields (see above).
std::vector<std::string> split_fields(const std::string& line);

// A field as a manifest writes it: quoted with escapes when it needs to be.
std::string quote(std::string_view field);

// Printable form of some bytes: escapes as in quote, at most limit bytes,
// "..." when cut.
std::string preview(std::string_view bytes, size_t limit);

}  // namespace qvpack
