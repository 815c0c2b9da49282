// MessageBoxA of the POSIX layer: one escaped line on standard error.

#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs MessageBoxA with standard error sent to a file; returns what it wrote.
std::string box_output(const char* text, const char* caption, UINT type, int* result) {
    return qv_test::standard_error_of([&] { *result = MessageBoxA(nullptr, text, caption, type); });
}

TEST(MessageBoxTest, WritesOneEscapedLineAndAnswersOk) {
    int result = 0;
    EXPECT_EQ(box_output("File: C:\\a \"b\"\rError: x\n\ty\x01\x7f\xe9", "Failed to open archive!", MB_OK, &result),
              "MessageBoxA caption=\"Failed to open archive!\" "
              "text=\"File: C:\\\\a \\\"b\\\"\\rError: x\\n\\ty\\x01\\x7f\xe9\"\n");
    EXPECT_EQ(result, IDOK);

    EXPECT_EQ(box_output(nullptr, nullptr, MB_OK | MB_ICONERROR, &result),
              "MessageBoxA caption=\"Error\" text=\"\"\n");
    EXPECT_EQ(result, IDOK);
}

TEST(MessageBoxTest, ButtonsOtherThanOkAreRefused) {
    int result = -1;
    SetLastError(qv_test::sentinel);
    EXPECT_EQ(box_output("Continue?", "Question", 0x4 /* yes and no */, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
