// The commands of qvpack. Each returns the process's exit code; failures
// that end a command throw archive::package_error.
#pragma once

#include "tools/qvpack/manifest.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace qvpack {

// Writes the package to output (through a temporary file beside it, so an
// input may be the output and a failed build leaves nothing behind).
int build(const build_plan& plan, const std::string& output, bool show_progress);

// Every record the launcher's walk reads, in file order, and what lies
// behind the tail record.
int list(const std::string& package, std::ostream& out);

// 0 exactly when the launcher's reader would leave the archive valid and
// extract every file and, in a signed package, the certificate directory
// describes the table at the end of the file; otherwise reason receives
// one line and 1 is returned. is_signed tells whether the package carries
// a certificate directory; warning receives one line about a valid package
// that would not install as meant (an installer Windows does not start
// itself), or nothing.
int verify(const std::string& package, std::string& reason, bool* is_signed = nullptr,
           std::string* warning = nullptr);

// Writes the packed files into folder and prints the values; 1 with a
// reason when the reader would not have extracted everything.
int extract(const std::string& package, const std::string& folder, std::ostream& out, std::string& reason,
            bool show_progress);

struct packaged_stub {
    uint32_t image_length;
    std::string file_name;
};
// The launcher image inside a package, when path is one.
std::optional<packaged_stub> find_packaged_stub(const std::string& path);

}  // namespace qvpack
