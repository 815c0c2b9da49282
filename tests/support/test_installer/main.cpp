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
// Record lines, values escaped as \\, \n and \r:
//   program=ARGV0  cwd=FOLDER  command_line=TEXT  argc=N  arg=ARGUMENT...

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

int told_exit_code() {
    const char* file = std::getenv("QV_TEST_EXIT_CODE_FILE");
    if (file != nullptr) {
        std::ifstream in(file);
        int code = 0;
        if (in >> code) return code;
    }
    const char* code = std::getenv("QV_TEST_EXIT_CODE");
    return code != nullptr ? std::atoi(code) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* record = std::getenv("QV_TEST_RECORD")) {
        char cwd[4096] = "";
        if (getcwd(cwd, sizeof(cwd)) == nullptr) cwd[0] = '\0';
        const char* command_line = std::getenv("QV_COMMAND_LINE");
        // Written aside and renamed, so a reader never sees half a record.
        const std::string partial = std::string(record) + ".partial";
        {
            std::ofstream out(partial, std::ios::binary);
            out << "program=" << escaped(argv[0]) << "\n";
            out << "cwd=" << escaped(cwd) << "\n";
            out << "command_line=" << escaped(command_line != nullptr ? command_line : "") << "\n";
            out << "argc=" << argc - 1 << "\n";
            for (int i = 1; i < argc; ++i) out << "arg=" << escaped(argv[i]) << "\n";
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
    return told_exit_code();
}
