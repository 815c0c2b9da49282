// The working folder of the run.

#include "launcher/working_folder.h"

#include "launcher/message.h"
#include "launcher/run_state.h"
#include "platform/win32.h"
#include "tessel/format.h"
#include "tessel/text.h"

#include <ctime>

namespace launcher {

std::string temp_directory() {
    char buffer[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    // A longer path reports the size it needs and leaves the buffer unfilled.
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
}

bool prepare_working_folder() {
    working_folder = temp_directory();
    if (working_folder.empty()) {
        show_message("GetTempPath failed", "Unable to get Temporary Directory");
        working_folder = "C:\\Temp\\";
    }
    CreateDirectoryA(working_folder.c_str(), nullptr);
    working_folder += tessel::format("QV%I64d\\", static_cast<long long>(std::time(nullptr)));
    CreateDirectoryA(working_folder.c_str(), nullptr);
    return SetCurrentDirectoryA(working_folder.c_str()) != FALSE;
}

std::string parent_directory() {
    if (working_folder.size() < 2) return std::string();
    const size_t cut = working_folder.rfind('\\', working_folder.size() - 2);
    return cut == std::string::npos ? std::string() : working_folder.substr(0, cut);
}

bool remove_folder_tree(const std::string& path) {
    std::string folder = path;
    if (!tessel::ends_with(folder, "\\") && !tessel::ends_with(folder, "/")) folder += "\\";

    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Covers "." and "..", and keeps every other dot folder.
            if (tessel::starts_with(name, ".")) continue;
            // A link or junction is removed itself: what it leads to lies
            // outside the working folder and is not ours to delete.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveDirectoryA((folder + name).c_str());
            else
                remove_folder_tree(folder + name);
        } else {
            DeleteFileA((folder + name).c_str());
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return RemoveDirectoryA(folder.c_str()) != FALSE;
}

}  // namespace launcher
