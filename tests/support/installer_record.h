// The record of how a test installer was started, as the POSIX and Windows
// installers write it and the end-to-end tests read it, and the exit code
// the installers are told.
//
// Record lines, values escaped as \\, \n and \r:
//   program=ARGV0  cwd=FOLDER  command_line=TEXT  argc=N  arg=ARGUMENT...
#pragma once

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>

namespace installer_record {

inline std::string escaped(const std::string& text) {
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

inline std::string unescaped(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

inline void write(std::ostream& out, const char* program, const char* cwd, const char* command_line, int argc,
                  char** argv) {
    out << "program=" << escaped(program) << "\n";
    out << "cwd=" << escaped(cwd) << "\n";
    out << "command_line=" << escaped(command_line) << "\n";
    out << "argc=" << argc - 1 << "\n";
    for (int i = 1; i < argc; ++i) out << "arg=" << escaped(argv[i]) << "\n";
}

// QV_TEST_EXIT_CODE_FILE's number when the file exists, else
// QV_TEST_EXIT_CODE, else 0.
inline int told_exit_code() {
    if (const char* file = std::getenv("QV_TEST_EXIT_CODE_FILE")) {
        std::ifstream in(file);
        int code = 0;
        if (in >> code) return code;
    }
    const char* code = std::getenv("QV_TEST_EXIT_CODE");
    return code != nullptr ? std::atoi(code) : 0;
}

}  // namespace installer_record
