// Starts a program under Wine with an exact command line and reports its
// full 32-bit exit code, which the wine command's own exit status (8 bits)
// cannot carry. Usage:
//   qv_wine_runner PROGRAM ARGUMENTS_FILE RESULT_FILE
// The child's command line is "PROGRAM" (quoted), then, when the file is not
// empty, one blank and the file's bytes unchanged. RESULT_FILE receives
// "temp=" and the system's temporary directory, then "exit=N", or
// "error=CODE" when the program could not be started or waited for.

#include "platform/win32.h"

#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    std::ifstream in(argv[2], std::ios::binary);
    const std::string arguments((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string command_line = std::string("\"") + argv[1] + "\"";
    if (!arguments.empty()) command_line += " " + arguments;

    std::ofstream result(argv[3], std::ios::binary);
    char temp[MAX_PATH + 1] = "";
    const DWORD temp_length = GetTempPathA(sizeof(temp), temp);
    result << "temp=" << (temp_length < sizeof(temp) ? temp : "") << "\n";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(argv[1], &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        result << "error=" << GetLastError() << "\n";
        return 2;
    }
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &code)) {
        result << "error=" << GetLastError() << "\n";
        return 2;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result << "exit=" << code << "\n";
    return 0;
}
