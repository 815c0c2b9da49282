// setup.exe, the reference bootstrapper: a publisher packs it beside an .msi
// as the package's installer. It installs the one .msi in its own folder
// with the system's msiexec, handing on what the launcher composed (see
// msiexec_command.h), waits, and returns msiexec's exit code unchanged.
// Without an .msi to install, or when msiexec cannot be started, it shows
// a message box (none under /s) and exits with 1.
//
// It runs elevated from the launcher's working folder, like the launcher:
// it has the launcher's process entry (platform_entry), which restricts the
// DLL search to the system folder before anything else loads.

#include "platform/win32.h"
#include "tools/setup/msiexec_command.h"

#include <string>
#include <vector>

namespace {

const char caption[] = "Setup";

std::string module_path() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

bool has_msi_extension(const std::string& name) {
    return name.size() > 4 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str() + name.size() - 4, 4,
                                             ".msi", 4) == CSTR_EQUAL;
}

// The .msi to install: the only one in folder, or else the one named like
// this program (setup.msi beside setup.exe). Empty when there is none.
std::string find_msi(const std::string& folder, const std::string& own_name) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((folder + "*.msi").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            // The pattern also matches short names: "a.msix" is A~1.MSI.
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && has_msi_extension(entry.cFileName))
                found.push_back(entry.cFileName);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    if (found.size() == 1) return folder + found[0];
    const std::string own_msi = own_name.substr(0, own_name.rfind('.')) + ".msi";
    for (const std::string& name : found)
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), -1, own_msi.c_str(), -1) == CSTR_EQUAL)
            return folder + name;
    return std::string();
}

std::string system_text(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length != 0 ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\r' || result.back() == '\n')) result.pop_back();
    return result;
}

int fail(const setup::request& request, const std::string& text) {
    if (!request.silent) MessageBoxA(nullptr, text.c_str(), caption, MB_OK | MB_ICONERROR);
    return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const setup::request request = setup::parse_arguments(setup::arguments_of(GetCommandLineA()));

    const std::string own = module_path();
    const size_t slash = own.rfind('\\');
    const std::string folder = own.substr(0, slash + 1);
    const std::string msi = find_msi(folder, own.substr(slash + 1));
    if (msi.empty())
        return fail(request, "No Windows Installer package to install: " + folder +
                                 " holds no .msi file, or several and none named like this program.");

    char system_folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system_folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return fail(request, "The system folder was not found.");
    const std::string msiexec = std::string(system_folder, length) + "\\msiexec.exe";
    std::string command_line = "\"" + msiexec + "\" " + setup::msiexec_parameters(request, msi);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(msiexec.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return fail(request, "Windows Installer could not be started (" + msiexec + "): " + system_text(GetLastError()));
    CloseHandle(process.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &code))
        code = DWORD(fail(request, "Windows Installer could not be waited for: " + system_text(GetLastError())));
    CloseHandle(process.hProcess);
    return int(code);
}
