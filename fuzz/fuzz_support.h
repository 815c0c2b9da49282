// Helpers shared by the fuzz targets: a private folder for the whole run
// and a failure that the fuzzer reports as a crash. DOS names and folder
// listings come from the tests' own helpers (tests/support/test_folder.h).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// A property of the code under test failed: report it as a crash, so that
// libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const std::string& detail = std::string()) {
    std::fprintf(stderr, "fuzz property failed: %s %s\n", what, detail.c_str());
    std::abort();
}

// The harness's own files were changed from outside the process (a script
// that removes its temporary folder while the fuzzer still runs): not a
// finding, so the run ends without keeping the input.
[[noreturn]] inline void disturbed(const char* what, const std::string& detail = std::string()) {
    std::fprintf(stderr, "fuzz harness disturbed from outside: %s %s\n", what, detail.c_str());
    std::fflush(stderr);
    _exit(2);
}

// A fresh folder below $TMPDIR (or /tmp), made once per process and removed
// when libFuzzer ends it with exit(); a crash leaves it for inspection.
inline const std::string& private_folder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qv-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) fail("cannot make a private folder");
        return pattern;
    }();
    static const bool removed_at_exit = [] {
        return std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(private_folder(), ignored);
        }) == 0;
    }();
    (void)removed_at_exit;
    return folder;
}

}  // namespace fuzz
