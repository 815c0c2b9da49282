// The Wine suite's hands inside Wine. Usage:
//
//   qv_wine_runner PROGRAM ARGUMENTS_FILE RESULT_FILE
//     Starts PROGRAM with an exact command line and reports its full 32-bit
//     exit code, which the wine command's own exit status (8 bits) cannot
//     carry. The command line is "PROGRAM" (quoted), then, when the file is
//     not empty, one blank and the file's bytes unchanged. RESULT_FILE
//     receives "temp=" and the system's temporary directory, then "exit=N",
//     or "error=CODE" when the program could not be started or waited for.
//     PROGRAM may have any name: it is taken from the wide command line.
//     When QV_WINE_TEMP is set, the program's TMP and TEMP are that folder.
//
//   qv_wine_runner --string MODULE ID RESULT_FILE
//     Writes string ID of MODULE's string table, read by the system's
//     resource loader (LoadStringW), in UTF-8; exit 1 when there is none.
//
//   qv_wine_runner --manifest MODULE RESULT_FILE
//     Writes MODULE's manifest resource (type 24, id 1); exit 1 when absent.
//
//   qv_wine_runner --move FROM TO RESULT_FILE
//     Renames FROM to TO as another program of the user would, and writes
//     "moved", or "error=CODE" when the system refused.

#include "platform/win32.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// The first argument as the system has it, whatever the code page can spell.
std::wstring program_argument() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::wstring program = arguments != nullptr && count > 1 ? arguments[1] : L"";
    LocalFree(arguments);
    return program;
}

std::wstring widened(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return wide;
}

int run(const char* arguments_file, const char* result_file) {
    std::ifstream in(arguments_file, std::ios::binary);
    const std::string arguments((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::wstring program = program_argument();
    std::wstring command_line = L"\"" + program + L"\"";
    if (!arguments.empty()) command_line += L" " + widened(arguments);
    if (const wchar_t* temp = _wgetenv(L"QV_WINE_TEMP")) {
        SetEnvironmentVariableW(L"TMP", temp);
        SetEnvironmentVariableW(L"TEMP", temp);
    }

    std::ofstream result(result_file, std::ios::binary);
    char temp[MAX_PATH + 1] = "";
    const DWORD temp_length = GetTempPathA(sizeof(temp), temp);
    result << "temp=" << (temp_length < sizeof(temp) ? temp : "") << "\n";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
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

HMODULE load_as_data(const char* module) {
    return LoadLibraryExA(module, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

int write_string(const char* module_path, const char* id, const char* result_file) {
    HMODULE module = load_as_data(module_path);
    if (module == nullptr) return 1;
    const wchar_t* text = nullptr;
    // A zero buffer length asks for a pointer to the resource itself.
    const int length = LoadStringW(module, static_cast<UINT>(std::atoi(id)), reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0) return 1;
    std::string utf8(static_cast<size_t>(length) * 4, '\0');
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], static_cast<int>(utf8.size()), nullptr,
                                          nullptr);
    utf8.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
    std::ofstream(result_file, std::ios::binary) << utf8;
    return 0;
}

int write_manifest(const char* module_path, const char* result_file) {
    HMODULE module = load_as_data(module_path);
    if (module == nullptr) return 1;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return 1;
    std::ofstream(result_file, std::ios::binary)
        .write(static_cast<const char*>(bytes), static_cast<std::streamsize>(SizeofResource(module, found)));
    return 0;
}

int move(const char* from, const char* to, const char* result_file) {
    std::ofstream result(result_file, std::ios::binary);
    if (MoveFileExA(from, to, 0))
        result << "moved\n";
    else
        result << "error=" << GetLastError() << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--string") == 0) return write_string(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "--manifest") == 0) return write_manifest(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "--move") == 0) return move(argv[2], argv[3], argv[4]);
    if (argc == 4) return run(argv[2], argv[3]);
    return 2;
}
