// The process entry point of the layer: main() hands WinMain the process's
// own module as instance handle and the arguments joined by single blanks
// (no quoting is added, so an argument's own blanks cannot be told apart
// from the separators), without leading blanks and control characters, as
// the Windows runtime hands it on. WinMain's result is the exit code, of
// which POSIX keeps the low 8 bits. The Windows entry
// (platform/windows/start.cpp) first restricts the DLL search to the system
// folder; the layer loads no library from a folder, so here there is
// nothing to restrict.

#include "platform/posix/internal/module.h"
#include "platform/win32.h"

#include <string>

int main(int argc, char** argv) {
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) command_line += ' ';
        command_line += argv[i];
    }
    // The Windows runtime's start-up skips what follows the program's name
    // up to the first character above the blank.
    size_t start = 0;
    while (start < command_line.size() && static_cast<unsigned char>(command_line[start]) <= ' ') ++start;
    return WinMain(qv_posix::process_module(), nullptr, &command_line[start], SW_SHOWNORMAL);
}
