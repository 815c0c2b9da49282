// SHGetFolderPathW: where the two application-data folders come from and
// when they are unavailable.

#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/win32_calls.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace {

using qv_test::scoped_environment;

using qv_test::sentinel;

// The folder's path, or "failed" with the result when there is none.
std::wstring folder(int csidl, HRESULT* result = nullptr) {
    WCHAR buffer[MAX_PATH] = L"untouched";
    SetLastError(sentinel);
    const HRESULT answer = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (result != nullptr) *result = answer;
    return answer < 0 ? L"failed" : std::wstring(buffer);
}

TEST(SHGetFolderPathW, ReturnsTheConfiguredFoldersInDosForm) {
    scoped_environment drive_c("QV_DRIVE_C", std::string("/srv/drive_c"));
    scoped_environment common("QV_COMMON_APPDATA", std::string("/srv/common//"));
    scoped_environment user("QV_APPDATA", std::string("c:/Users/u/AppData/Roaming\\"));
    HRESULT result = E_FAIL;
    EXPECT_EQ(folder(CSIDL_COMMON_APPDATA, &result), L"Z:\\srv\\common");
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(folder(CSIDL_APPDATA, &result), L"C:\\Users\\u\\AppData\\Roaming");
    EXPECT_EQ(result, S_OK);

    // A relative POSIX path is taken from the working folder.
    scoped_environment relative("QV_APPDATA", std::string("data"));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string expected = qv_test::test_folder::dos_path(std::string(cwd) + "/data");
    EXPECT_EQ(folder(CSIDL_APPDATA), std::wstring(expected.begin(), expected.end()));
}

TEST(SHGetFolderPathW, DefaultsAndTheirAbsence) {
    scoped_environment common("QV_COMMON_APPDATA", std::nullopt);
    scoped_environment user("QV_APPDATA", std::nullopt);
    scoped_environment data_home("XDG_DATA_HOME", std::string("/x/data"));
    scoped_environment home("HOME", std::string("/home/q"));
    EXPECT_EQ(folder(CSIDL_COMMON_APPDATA), L"Z:\\var\\lib");
    EXPECT_EQ(folder(CSIDL_APPDATA), L"Z:\\x\\data");

    scoped_environment no_data_home("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(folder(CSIDL_APPDATA), L"Z:\\home\\q\\.local\\share");

    scoped_environment no_home("HOME", std::nullopt);
    HRESULT result = S_OK;
    EXPECT_EQ(folder(CSIDL_APPDATA, &result), L"failed");
    EXPECT_LT(result, 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST(SHGetFolderPathW, AnEmptyVariableOrAnUnmappedDriveMeansUnavailable) {
    scoped_environment drive_c("QV_DRIVE_C", std::nullopt);
    scoped_environment common("QV_COMMON_APPDATA", std::string());
    scoped_environment user("QV_APPDATA", std::string("C:\\Users\\u"));
    HRESULT result = S_OK;
    EXPECT_EQ(folder(CSIDL_COMMON_APPDATA, &result), L"failed");
    EXPECT_LT(result, 0);
    EXPECT_EQ(folder(CSIDL_APPDATA, &result), L"failed");
    EXPECT_LT(result, 0);
}

TEST(SHGetFolderPathW, RefusesWhatItDoesNotProvide) {
    scoped_environment user("QV_APPDATA", std::string("/data"));
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, 0x0005 /* personal */, nullptr, SHGFP_TYPE_CURRENT, buffer), E_INVALIDARG);
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 1 /* default */, buffer), E_INVALIDARG);
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA | 0x8000 /* create */, nullptr, SHGFP_TYPE_CURRENT, buffer),
              E_INVALIDARG);
    int token = 0;
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, &token, SHGFP_TYPE_CURRENT, buffer), E_INVALIDARG);

    // The path must fit the caller's MAX_PATH buffer.
    scoped_environment long_path("QV_APPDATA", "/" + std::string(MAX_PATH, 'x'));
    HRESULT result = S_OK;
    EXPECT_EQ(folder(CSIDL_APPDATA, &result), L"failed");
    EXPECT_LT(result, 0);
}

}  // namespace
