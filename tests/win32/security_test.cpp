// Security: the working folder's descriptor from its text form, and the
// question whether the process runs as an administrator.

#include "tests/win32/contract.h"

namespace {

using contract::sentinel;

class security : public contract::test {};

TEST_F(security, a_folder_made_with_a_descriptor_from_its_text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)", SDDL_REVISION_1, &descriptor, nullptr));
    ASSERT_NE(descriptor, nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    EXPECT_TRUE(CreateDirectoryA(path("private").c_str(), &attributes));
    put("private\\file", "x");
    EXPECT_EQ(get("private\\file"), "x");
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryA(path("private").c_str(), &attributes));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(LocalFree(descriptor), nullptr);

    SetLastError(sentinel);
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;SY)", 2, &descriptor, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_REVISION));
    SetLastError(sentinel);
    EXPECT_FALSE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA("garbage", SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(security, membership_of_the_administrators) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = 4;
    SetLastError(sentinel);
    EXPECT_FALSE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 16u);  // S-1-5-32-544
    size = sizeof(sid);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size));
    EXPECT_EQ(size, 16u);
    BOOL member = 7;
    EXPECT_TRUE(CheckTokenMembership(nullptr, sid, &member));
    EXPECT_TRUE(member == TRUE || member == FALSE);
}

}  // namespace
