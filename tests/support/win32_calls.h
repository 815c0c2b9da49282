// Win32 calls that tests of the layer and of the one Win32 suite make the
// same way: the last-error sentinel, the launch record of ShellExecuteExA,
// conversions that check the needed-size query agrees, and a whole folder
// listing.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace qv_test {

// Set before a call, so that a check of the last error sees what the call set.
const DWORD sentinel = 0xdeadbeef;

// ShellExecuteExA's record as the launcher fills it: file with parameters in
// directory (null: the current one), the process handle kept.
inline SHELLEXECUTEINFOA launch_record(const char* file, const char* parameters = nullptr,
                                       const char* directory = nullptr) {
    SHELLEXECUTEINFOA info;
    std::memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_SHOWNORMAL;
    return info;
}

inline std::wstring widen(UINT code_page, const std::string& bytes, DWORD flags = 0) {
    const int needed = MultiByteToWideChar(code_page, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0) {
        EXPECT_EQ(MultiByteToWideChar(code_page, flags, bytes.data(), static_cast<int>(bytes.size()), &out[0], needed),
                  needed);
    }
    return out;
}

inline std::string narrow(UINT code_page, const std::wstring& text, BOOL* used_default = nullptr,
                          const char* default_char = nullptr) {
    const int needed = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           default_char, used_default);
    std::string out(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) {
        EXPECT_EQ(WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), &out[0], needed,
                                      default_char, used_default),
                  needed);
    }
    return out;
}

// Every entry of a listing, name -> attributes; the listing must end with
// ERROR_NO_MORE_FILES.
inline std::map<std::string, DWORD> list(const std::string& pattern) {
    std::map<std::string, DWORD> entries;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do entries[data.cFileName] = data.dwFileAttributes;
    while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    return entries;
}

}  // namespace qv_test
