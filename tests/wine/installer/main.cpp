// The installer that the Wine suite packs: the Windows counterpart of
// tests/support/test_installer, with the same environment and record, but
// recording the raw command line that the system gave the process.
//
// Environment (paths in DOS form, e.g. Z:\tmp\x):
//   QV_TEST_RECORD          file to write the record to (replaced whole)
//   QV_TEST_EXIT_CODE       the exit code (default 0) ...
//   QV_TEST_EXIT_CODE_FILE  ... or a file holding it, which wins when it exists
//   QV_TEST_RELEASE         when set, wait after recording until this file exists
//   QV_TEST_LEAVE_BEHIND    when set, leave in the program's own folder a
//                           read-only file, a ".cache" folder with a file,
//                           and a plain file and subfolder
//
// Record lines, values escaped as \\, \n and \r:
//   program=ARGV0  cwd=FOLDER  command_line=TEXT  argc=N  arg=ARGUMENT...
// where command_line is GetCommandLineA() and the arguments are the C
// runtime's split of it.

#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

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
    if (const char* file = std::getenv("QV_TEST_EXIT_CODE_FILE")) {
        std::ifstream in(file);
        int code = 0;
        if (in >> code) return code;
    }
    const char* code = std::getenv("QV_TEST_EXIT_CODE");
    return code != nullptr ? std::atoi(code) : 0;
}

void write_record(const char* record) {
    char cwd[MAX_PATH * 4] = "";
    if (GetCurrentDirectoryA(sizeof(cwd), cwd) >= sizeof(cwd)) cwd[0] = '\0';
    // Written aside and renamed, so a reader never sees half a record.
    const std::string partial = std::string(record) + ".partial";
    {
        std::ofstream out(partial, std::ios::binary);
        out << "program=" << escaped(__argv[0]) << "\n";
        out << "cwd=" << escaped(cwd) << "\n";
        out << "command_line=" << escaped(GetCommandLineA()) << "\n";
        out << "argc=" << __argc - 1 << "\n";
        for (int i = 1; i < __argc; ++i) out << "arg=" << escaped(__argv[i]) << "\n";
    }
    MoveFileExA(partial.c_str(), record, MOVEFILE_REPLACE_EXISTING);
}

void leave_behind() {
    char own[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, own, MAX_PATH);
    std::string folder(own, length);
    folder.erase(folder.rfind('\\') + 1);
    std::ofstream(folder + "read-only.txt") << "kept";
    SetFileAttributesA((folder + "read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((folder + ".cache").c_str(), nullptr);
    std::ofstream(folder + ".cache\\kept") << "kept";
    CreateDirectoryA((folder + "sub").c_str(), nullptr);
    std::ofstream(folder + "sub\\removed") << "removed";
    std::ofstream(folder + "removed.txt") << "removed";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (const char* record = std::getenv("QV_TEST_RECORD")) write_record(record);
    if (std::getenv("QV_TEST_LEAVE_BEHIND") != nullptr) leave_behind();
    if (const char* release = std::getenv("QV_TEST_RELEASE")) {
        // Bounded, so a failed test cannot leave it behind for long.
        const DWORD give_up = GetTickCount() + 60000;
        while (GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES && GetTickCount() < give_up) Sleep(5);
    }
    return told_exit_code();
}
