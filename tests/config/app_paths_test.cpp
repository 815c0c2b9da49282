// The application paths: the folder words, the module's path and the data
// folders, and where a failure leaves them.

#include "config/app_paths.h"
#include "config/internal/app_paths_values.h"
#include "platform/posix/internal/module.h"
#include "tessel/exception.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qv_test::scoped_environment;

const std::wstring unset = L"<unset>";

// What the last initialisation left.
config::internal::app_paths_values left() { return config::internal::app_paths(); }

class AppPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        config::internal::set_app_paths({{unset, unset}, unset, unset, unset, unset, unset, unset});
    }
    static std::vector<std::wstring> paths() {
        const config::internal::app_paths_values values = left();
        return {values.module_folder,     values.module_file_name,   values.common_appdata_root,
                values.user_appdata_root, values.common_data_folder, values.user_data_folder};
    }
    // The message of what init_from_resources throws, or "no error".
    static std::string failure(HINSTANCE module) {
        try {
            config::init_from_resources(module);
        } catch (const tessel::exception& error) {
            return error.what();
        }
        return "no error";
    }

    scoped_environment common_{"QV_COMMON_APPDATA", std::string("/srv/common")};
    scoped_environment user_{"QV_APPDATA", std::string("/home/u/roaming")};
};

TEST_F(AppPathsTest, TheLaunchersTableGivesTheProductsFolders) {
    // The executable's own module, passed as a handle: no crash dump writer.
    config::init_from_resources(qv_posix::process_module());
    EXPECT_EQ(left().names.vendor, L"Lindhale");
    EXPECT_EQ(config::get_product_name(), L"Quorvane");
    EXPECT_EQ(config::get_module_file_name(), L"config_tests");
    EXPECT_EQ(left().module_folder.substr(0, 3), L"Z:\\");
    EXPECT_EQ(left().module_folder.back(), L'\\');
    EXPECT_EQ(left().common_appdata_root, L"Z:\\srv\\common\\");
    EXPECT_EQ(left().common_data_folder, L"Z:\\srv\\common\\Lindhale\\Quorvane\\");
    EXPECT_EQ(left().user_appdata_root, L"Z:\\home\\u\\roaming\\");
    EXPECT_EQ(config::get_user_data_folder(), L"Z:\\home\\u\\roaming\\Lindhale\\Quorvane\\");
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), nullptr);
}

TEST_F(AppPathsTest, AMissingOrEmptyWordStopsAtIt) {
    qv_module no_vendor{"/opt/app.exe", {{2002, L"P"}}};
    qv_module empty_vendor{"/opt/app.exe", {{2001, L""}, {2002, L"P"}}};
    for (qv_module* module : {&no_vendor, &empty_vendor}) {
        EXPECT_EQ(failure(module), "[resource string 2001 is not found]");
        EXPECT_EQ(left().names.vendor, unset);
        EXPECT_EQ(left().names.product, unset);
        for (const std::wstring& value : paths()) EXPECT_EQ(value, unset);
    }
    qv_module no_product{"/opt/app.exe", {{2001, L"V"}}};
    EXPECT_EQ(failure(&no_product), "[resource string 2002 is not found]");
    EXPECT_EQ(left().names.vendor, L"V");
    EXPECT_EQ(left().names.product, unset);
}

TEST_F(AppPathsTest, WordsAndPathsOfUnusualLength) {
    const std::wstring long_word(300, L'w');
    const std::string long_folder = "/opt/" + std::string(280, 'f');
    qv_module module{long_folder + "/tool.exe", {{2001, long_word}, {2002, L"P"}}};
    EXPECT_EQ(failure(&module), "no error");
    EXPECT_EQ(left().names.vendor, long_word.substr(0, 259));
    // A path longer than the usual buffer is read whole, not cut.
    EXPECT_EQ(left().module_file_name, L"tool.exe");
    EXPECT_EQ(left().module_folder, L"Z:\\opt\\" + std::wstring(280, L'f') + L"\\");

    qv_module bare{"app.exe", {{2001, L"V"}, {2002, L"P"}}};
    EXPECT_EQ(failure(&bare), "no error");
    EXPECT_EQ(left().module_folder, L"");
    EXPECT_EQ(left().module_file_name, L"Z:app.exe");
}

TEST_F(AppPathsTest, FailuresOfTheSystemFolders) {
    qv_module no_path{"", {{2001, L"V"}, {2002, L"P"}}};
    EXPECT_EQ(failure(&no_path), "[Error. config::init. GetModuleFileName return 0.]");
    EXPECT_EQ(left().names.product, L"P");
    EXPECT_EQ(left().module_folder, unset);

    qv_module module{"/opt/app.exe", {{2001, L"V"}, {2002, L"P"}}};
    {
        scoped_environment no_common("QV_COMMON_APPDATA", std::string());
        EXPECT_EQ(failure(&module), "[Error. config::init. Can not find CSIDL_COMMON_APPDATA.]");
        EXPECT_EQ(left().module_file_name, L"app.exe");
        EXPECT_EQ(left().common_appdata_root, unset);
    }
    // Without a per-user folder the all-users one stands in.
    scoped_environment no_user("QV_APPDATA", std::string());
    EXPECT_EQ(failure(&module), "no error");
    EXPECT_EQ(left().user_appdata_root, L"Z:\\srv\\common\\");
    EXPECT_EQ(left().user_data_folder, L"Z:\\srv\\common\\V\\P\\");
    EXPECT_EQ(left().user_data_folder, left().common_data_folder);
}

}  // namespace
