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
//   QV_TEST_LOAD            DLL names, separated by blanks, loaded by bare
//                           name as an installer loads them: its own folder
//                           (the working folder) is searched first
//   QV_TEST_FOLDER_SECURITY file to write the owner and access list of the
//                           program's own folder to, in SDDL, as the system
//                           reports them
//
// The record is the one of tests/support/installer_record.h; its
// command_line is GetCommandLineA() and its arguments the C runtime's
// split of it.

#include "platform/win32.h"
#include "tests/support/installer_record.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void write_record(const char* record) {
    char cwd[MAX_PATH * 4] = "";
    if (GetCurrentDirectoryA(sizeof(cwd), cwd) >= sizeof(cwd)) cwd[0] = '\0';
    // Written aside and renamed, so a reader never sees half a record.
    const std::string partial = std::string(record) + ".partial";
    {
        std::ofstream out(partial, std::ios::binary);
        installer_record::write(out, __argv[0], cwd, GetCommandLineA(), __argc, __argv);
    }
    MoveFileExA(partial.c_str(), record, MOVEFILE_REPLACE_EXISTING);
}

// The program's own folder, with a trailing backslash.
std::string own_folder() {
    char own[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, own, MAX_PATH);
    std::string folder(own, length);
    folder.erase(folder.rfind('\\') + 1);
    return folder;
}

void leave_behind() {
    const std::string folder = own_folder();
    std::ofstream(folder + "read-only.txt") << "kept";
    SetFileAttributesA((folder + "read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((folder + ".cache").c_str(), nullptr);
    std::ofstream(folder + ".cache\\kept") << "kept";
    CreateDirectoryA((folder + "sub").c_str(), nullptr);
    std::ofstream(folder + "sub\\removed") << "removed";
    std::ofstream(folder + "removed.txt") << "removed";
}

void load_by_name(const std::string& names) {
    size_t begin = 0;
    while ((begin = names.find_first_not_of(' ', begin)) != std::string::npos) {
        const size_t end = names.find(' ', begin);
        LoadLibraryA(names.substr(begin, end - begin).c_str());
        begin = end;
    }
}

void write_folder_security(const char* file) {
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    char descriptor[4096];
    DWORD needed = 0;
    char* text = nullptr;
    if (GetFileSecurityA(own_folder().c_str(), parts, descriptor, sizeof(descriptor), &needed) &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text, nullptr)) {
        std::ofstream(file, std::ios::binary) << text;
        LocalFree(text);
    }
}

}  // namespace

// Starts a copy of the program that runs for seconds, and does not wait.
void leave_holder(const char* seconds) {
    char own[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, own, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    std::string command_line = std::string("\"") + own + "\" --hold " + seconds;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(own, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc == 3 && std::string(__argv[1]) == "--hold") {
        Sleep(DWORD(std::atoi(__argv[2])) * 1000);
        return 0;
    }
    if (const char* record = std::getenv("QV_TEST_RECORD")) write_record(record);
    if (std::getenv("QV_TEST_LEAVE_BEHIND") != nullptr) leave_behind();
    if (const char* names = std::getenv("QV_TEST_LOAD")) load_by_name(names);
    if (const char* file = std::getenv("QV_TEST_FOLDER_SECURITY")) write_folder_security(file);
    if (const char* seconds = std::getenv("QV_TEST_HOLD")) leave_holder(seconds);
    if (const char* release = std::getenv("QV_TEST_RELEASE")) {
        // Bounded, so a failed test cannot leave it behind for long.
        const DWORD give_up = GetTickCount() + 60000;
        while (GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES && GetTickCount() < give_up) Sleep(5);
    }
    return installer_record::told_exit_code();
}
