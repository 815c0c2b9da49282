// The one list of the suite's documented differences. A case named here
// is skipped on that side only; everywhere else it runs. Keep the list as
// short as the truth allows: a difference that can be mended is mended.
//
// Mechanisms Wine does not model at all have no case here; what relies on
// them is tested natively (tests/platform, tests/hardening):
// - access lists: Wine maps a descriptor to a Unix mode, and every file of
//   its Unix user is owned by the one user;
// - symbolic links to files: Wine shows them as the files they lead to,
//   so FILE_FLAG_OPEN_REPARSE_POINT opens the target and no attribute tells
//   a link (only links to folders are reparse points there);
// - the current name of a mapped image: Wine reports the name it was
//   mapped by, where Windows reports the file's name now;
// - a parent folder of a held folder: Wine lets it be renamed, Windows
//   does not.

#include "tests/win32/differences.h"

#include "platform/win32.h"

#include <cstring>

namespace contract {

const difference differences[] = {
    {"processes.exit_codes_are_thirty_two_bits", side::posix_layer,
     "POSIX keeps 8 bits of an exit code: 3010 arrives as 194"},
    {"files.set_attributes_replaces_the_archive_bit", side::posix_layer,
     "the layer keeps no archive bit: a file always reports it, as under Wine; the system never clears it"},
    {"crt.percent_n_stores_the_count", side::posix_layer,
     "the layer refuses \"%n\" (-1), which writes through its argument; no format of this system uses it"},
    {"files.a_seek_beyond_4_gib_without_a_high_part_fails", side::wine,
     "Wine moves there and returns the low part of the position, where Windows fails the call"},
    {"files.set_attributes_replaces_the_archive_bit", side::wine,
     "Wine keeps no archive bit: a file always reports it"},
    {"files.read_only_files_refuse_writers", side::wine,
     "Wine maps the read-only attribute to the owner's write permission, which root ignores (the suite runs as root)"},
    {"files.set_end_of_file_needs_write_access", side::wine,
     "Wine passes on the C library's EINVAL (ERROR_INVALID_PARAMETER) where Windows denies access"},
    {"processes.a_failed_start_says_why", side::wine,
     "Wine's shell then tries to show its error dialog, whose failure without a display replaces the last error"},
    {"text.utf8_takes_no_used_default_report", side::wine,
     "Wine accepts a used-default report for UTF-8, which Windows refuses with ERROR_INVALID_PARAMETER"},
    {"errors.message_texts_are_the_systems_words", side::wine, "Wine words the system's message texts its own way"},
};
const size_t difference_count = sizeof(differences) / sizeof(differences[0]);

side this_side() {
#ifdef _WIN32
    // Only Wine's ntdll has wine_get_version; on Windows itself the suite
    // runs whole.
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine ? side::wine : side::windows;
#else
    return side::posix_layer;
#endif
}

const char* side_name(side which) {
    switch (which) {
        case side::posix_layer: return "the POSIX layer";
        case side::wine: return "Wine";
        case side::windows: break;
    }
    return "Windows";
}

const difference* difference_here(const std::string& test) {
    for (const difference& known : differences)
        if (known.where == this_side() && test == known.test) return &known;
    return nullptr;
}

}  // namespace contract
