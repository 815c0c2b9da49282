// The system's message texts, as tessel::format_error asks for them.

#include "tests/win32/contract.h"

namespace {

using contract::sentinel;

class errors : public contract::test {
protected:
    // The text of code, or "(none)" with the last error of the failed call.
    static std::string text(DWORD code, DWORD* error = nullptr) {
        char* buffer = nullptr;
        SetLastError(sentinel);
        const DWORD length = FormatMessageA(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
            MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
        if (error != nullptr) *error = GetLastError();
        if (length == 0) return "(none)";
        std::string result(buffer, length);
        EXPECT_EQ(LocalFree(buffer), nullptr);
        return result;
    }
};

TEST_F(errors, known_codes_have_one_line_ending_in_a_line_end) {
    for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_NAME, ERROR_ALREADY_EXISTS,
                       ERROR_DISK_FULL, ERROR_NOT_OWNER}) {
        const std::string message = text(code);
        ASSERT_GT(message.size(), 2u) << code;
        EXPECT_EQ(message.substr(message.size() - 2), "\r\n") << code;
        EXPECT_EQ(message.find_first_of("\r\n"), message.size() - 2) << code;
    }
    DWORD error = 0;
    EXPECT_EQ(text(0x2bad1dea, &error), "(none)");
    EXPECT_EQ(error, 317u);  // ERROR_MR_MID_NOT_FOUND
}

TEST_F(errors, message_texts_are_the_systems_words) {
    EXPECT_EQ(text(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(text(ERROR_INVALID_NAME), "The filename, directory name, or volume label syntax is incorrect.\r\n");
}

}  // namespace
