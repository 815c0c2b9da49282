// The installer that end-to-end tests pack. It records what it was started
// with and exits with the code it is told.
//
// Environment:
//   QV_TEST_RECORD          file to write the record to (replaced whole)
//   QV_TEST_EXIT_CODE       the exit code (default 0) ...
//   QV_TEST_EXIT_CODE_FILE  ... or a file holding it, which wins when it exists
//   QV_TEST_RELEASE         when set, wait after recording until this file exists
//   QV_TEST_LEAVE_BEHIND    when set, leave in the program's own folder a
//                           read-only file, a ".cache" folder with a file,
//                           and a plain file and subfolder
//   QV_COMMAND_LINE         the command line as Windows would show it (set by
//                           the launcher's platform layer)
//
// The record: see tests/support/installer_record.h.

#include "tests/support/installer_record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (const char* record = std::getenv("QV_TEST_RECORD")) {
        char cwd[4096] = "";
        if (getcwd(cwd, sizeof(cwd)) == nullptr) cwd[0] = '\0';
        const char* command_line = std::getenv("QV_COMMAND_LINE");
        // Written aside and renamed, so a reader never sees half a record.
        const std::string partial = std::string(record) + ".partial";
        {
            std::ofstream out(partial, std::ios::binary);
            installer_record::write(out, argv[0], cwd, command_line != nullptr ? command_line : "", argc, argv);
        }
        std::rename(partial.c_str(), record);
    }
    if (std::getenv("QV_TEST_LEAVE_BEHIND") != nullptr) {
        std::string folder = argv[0];
        folder.erase(folder.rfind('/') + 1);
        std::ofstream(folder + "read-only.txt") << "kept";
        chmod((folder + "read-only.txt").c_str(), 0444);
        mkdir((folder + ".cache").c_str(), 0777);
        std::ofstream(folder + ".cache/kept") << "kept";
        mkdir((folder + "sub").c_str(), 0777);
        std::ofstream(folder + "sub/removed") << "removed";
        std::ofstream(folder + "removed.txt") << "removed";
    }
    if (const char* release = std::getenv("QV_TEST_RELEASE")) {
        // Bounded, so a failed test cannot leave it behind for long.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (access(release, F_OK) != 0 && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return installer_record::told_exit_code();
}
