// The process entry point of the layer: main() hands WinMain the process's
// own module as instance handle and the arguments joined by single blanks
// (no quoting is added, so an argument's own blanks cannot be told apart
// from the separators). WinMain's result is the exit code, of which POSIX
// keeps the low 8 bits.

#include "platform/posix/internal/module.h"
#include "platform/win32.h"

#include <string>

int main(int argc, char** argv) {
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) command_line += ' ';
        command_line += argv[i];
    }
    return WinMain(qv_posix::process_module(), nullptr, &command_line[0], SW_SHOWNORMAL);
}
