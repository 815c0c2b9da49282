// The demo's installer: prints the command line and working directory it
// was started with, and exits with the code in QV_DEMO_EXIT_CODE (0 when
// unset). On POSIX the platform layer also hands it the command line as
// Windows would show it, in QV_COMMAND_LINE.

#include <cstdlib>
#include <filesystem>
#include <iostream>

int main(int argc, char** argv) {
    std::cout << "demo installer: started as " << argv[0] << "\n";
    if (const char* command_line = std::getenv("QV_COMMAND_LINE"))
        std::cout << "demo installer: command line: " << command_line << "\n";
    for (int i = 1; i < argc; ++i) std::cout << "demo installer: argument " << i << ": " << argv[i] << "\n";
    std::error_code error;
    std::cout << "demo installer: working directory: " << std::filesystem::current_path(error).string() << "\n";
    const char* code = std::getenv("QV_DEMO_EXIT_CODE");
    const int exit_code = code != nullptr ? std::atoi(code) : 0;
    std::cout << "demo installer: exiting with " << exit_code << std::endl;
    return exit_code;
}
