// The file of the running program. Windows lets anyone who may write the
// package's folder rename a running program and put another file under its
// name: the file opened by that name is compared with the image the process
// runs from, by the names the system reports for what is mapped, once the
// handle keeps the opened file from being renamed.

#include "platform/running_image.h"

#include <string>
#include <vector>

namespace platform {
namespace {

typedef DWORD(WINAPI* mapped_file_name_function)(HANDLE process, LPVOID address, LPWSTR name, DWORD size);

// Longer than any path the system reports.
const DWORD name_buffer = 32768;

std::wstring mapped_file_name(mapped_file_name_function mapped_name, void* address) {
    std::vector<wchar_t> name(name_buffer);
    const DWORD length = mapped_name(GetCurrentProcess(), address, name.data(), name_buffer);
    return length == 0 || length >= name_buffer ? std::wstring() : std::wstring(name.data(), length);
}

// Whether file is the image the process runs from: a mapping of it names
// the same file as the image's mapping, and that name cannot have passed
// to another file, since file may not be renamed while it is open.
bool is_running_image(HANDLE file) {
    // Windows 7 and later have it in kernel32; where it is missing, the
    // name alone is trusted.
    const auto mapped_name = reinterpret_cast<mapped_file_name_function>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "K32GetMappedFileNameW")));
    if (mapped_name == nullptr) return true;
    const std::wstring image = mapped_file_name(mapped_name, GetModuleHandleW(nullptr));
    std::wstring opened;
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping != nullptr) {
        void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 1);
        if (view != nullptr) {
            opened = mapped_file_name(mapped_name, view);
            UnmapViewOfFile(view);
        }
        CloseHandle(mapping);
    }
    return !image.empty() &&
           CompareStringOrdinal(image.c_str(), int(image.size()), opened.c_str(), int(opened.size()), TRUE) ==
               CSTR_EQUAL;
}

}  // namespace

HANDLE open_running_image() {
    std::vector<wchar_t> name(name_buffer);
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), name_buffer);
    if (length == 0 || length >= name_buffer) return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(name.data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || is_running_image(file)) return file;
    CloseHandle(file);
    SetLastError(ERROR_FILE_INVALID);
    return INVALID_HANDLE_VALUE;
}

}  // namespace platform
