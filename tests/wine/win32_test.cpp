// Business code on the real Win32 API, checked under Wine where the
// native tests cannot: the log's line for a _com_error, the application
// environment from this program's own string table (the launcher's), and
// the configuration records' XML form with 16-bit wide characters. What the
// system relies on from each Win32 function is the one suite of tests/win32.

#include "config/app_paths.h"
#include "config/internal/app_paths_values.h"
#include "config/records.h"
#include "platform/win32.h"
#include "tessel/log/dispatcher.h"

#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/nvp.hpp>
#include <comdef.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

class capture : public tessel::log::listener {
public:
    explicit capture(std::vector<std::pair<int, std::string>>* lines) : lines_(lines) {}
    void write(int level, const std::string&, const std::string& text) override { lines_->push_back({level, text}); }

private:
    std::vector<std::pair<int, std::string>>* lines_;
};

TEST(win32_log, a_com_error_is_described_by_its_own_message) {
    std::vector<std::pair<int, std::string>> lines;
    tessel::log::dispatcher log;
    log.add(new capture(&lines));
    try {
        throw _com_error(static_cast<HRESULT>(0x2bad1dea));
    } catch (...) {
        log.write(5, L"at");
    }
    try {
        throw _com_error(E_POINTER);
    } catch (const _com_error& error) {
        const std::string expected = std::string("at _com_error: ") + error.ErrorMessage();
        log.write(5, L"at");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1].second, expected);
    }
    EXPECT_EQ(lines[0], std::make_pair(3, std::string("at _com_error: Unknown error 0x2BAD1DEA")));
}

TEST(win32_records, wide_text_is_utf8_in_the_xml_form) {
    config::suite_impl record;
    record.m_user_name = L"caf\xe9 \x4E2D";
    record.m_login_urls = {L"\x20AC"};
    record.m_parameters = "/v\"a<b>\"";
    std::ostringstream out;
    {
        boost::archive::xml_oarchive archive(out);
        archive << boost::serialization::make_nvp("suite", record);
    }
    const std::string document = out.str();
    EXPECT_NE(document.find("<m_user_name>caf\xc3\xa9 \xe4\xb8\xad</m_user_name>"), std::string::npos) << document;

    config::suite_impl reread;
    std::istringstream in(document);
    boost::archive::xml_iarchive archive(in);
    archive >> boost::serialization::make_nvp("suite", reread);
    EXPECT_EQ(reread.m_user_name, record.m_user_name);
    EXPECT_EQ(reread.m_login_urls, record.m_login_urls);
    EXPECT_EQ(reread.m_parameters, record.m_parameters);
}

TEST(win32_config, the_products_folders_come_from_the_string_table_and_the_shell) {
    config::init_from_resources(GetModuleHandleW(nullptr));
    EXPECT_EQ(config::get_product_name(), L"Quorvane");
    wchar_t folder[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    EXPECT_EQ(config::get_user_data_folder(), std::wstring(folder) + L"\\Lindhale\\Quorvane\\");
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    EXPECT_EQ(config::internal::app_paths().common_data_folder, std::wstring(folder) + L"\\Lindhale\\Quorvane\\");
    EXPECT_EQ(config::get_module_file_name(), L"windows_unit_tests.exe");
}

}  // namespace
