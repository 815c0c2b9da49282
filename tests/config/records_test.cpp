// The configuration records and their XML form.

#include "config/records.h"

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/nvp.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <regex>
#include <sstream>

namespace {

using config::suite_impl;

std::string write(const suite_impl& record) {
    std::ostringstream stream;
    {
        boost::archive::xml_oarchive archive(stream);
        archive << boost::serialization::make_nvp("suite", record);
    }
    return stream.str();
}

void read(const std::string& document, suite_impl& record) {
    std::istringstream stream(document);
    boost::archive::xml_iarchive archive(stream);
    archive >> boost::serialization::make_nvp("suite", record);
}

// The names of the elements directly inside the record's element.
std::vector<std::string> record_elements(const std::string& document) {
    std::vector<std::string> names;
    int depth = 0;
    const std::regex tag("<(/?)([A-Za-z_][A-Za-z0-9_]*)[^>]*>");
    for (std::sregex_iterator it(document.begin(), document.end(), tag), end; it != end; ++it) {
        if ((*it)[1] == "/") {
            --depth;
            continue;
        }
        if (depth == 2) names.push_back((*it)[2]);
        ++depth;
    }
    return names;
}

std::string without_layout(std::string text) {
    return std::regex_replace(text, std::regex("[\t\n]"), "");
}

const std::string document_head =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<!DOCTYPE boost_serialization>\n"
    "<boost_serialization signature=\"serialization::archive\" version=\"18\">\n";

// A hand-written document of the given class version.
std::string document(unsigned int version) {
    std::string text = document_head + "<suite class_id=\"0\" tracking_level=\"0\" version=\"" +
                       std::to_string(version) +
                       "\">\n"
                       "<m_user_name>Jos\xc3\xa9 &lt;admin&gt;</m_user_name>\n"
                       "<m_user_site>site</m_user_site>\n"
                       "<m_login_urls class_id=\"1\" tracking_level=\"0\" version=\"0\"><count>2</count>"
                       "<item_version>0</item_version><item>https://a</item><item>https://b?x=1&amp;y=2</item>"
                       "</m_login_urls>\n"
                       "<m_login_success>-3</m_login_success>\n"
                       "<m_machine_id>machine</m_machine_id>\n"
                       "<m_user_id>user</m_user_id>\n"
                       "<m_last_synchronize_time>1700000000</m_last_synchronize_time>\n"
                       "<m_msg_system_data>data</m_msg_system_data>\n"
                       "<m_last_used_language>de_DE</m_last_used_language>\n"
                       "<m_product_id>product</m_product_id>\n"
                       "<m_partner_id>partner</m_partner_id>\n"
                       "<m_version>9.1</m_version>\n";
    if (version >= 1) text += "<m_suite_name>Quorvane \xe4\xb8\xad</m_suite_name>\n";
    text +=
        "<m_suite_launcher_path>C:\\launcher.exe</m_suite_launcher_path>\n"
        "<m_suite_msgsys_path>msgsys</m_suite_msgsys_path>\n"
        "<m_community_url>community</m_community_url>\n"
        "<m_service_name>service</m_service_name>\n"
        "<m_service_end_point>service end</m_service_end_point>\n"
        "<m_update_end_point>update end</m_update_end_point>\n"
        "<m_update_url>update url</m_update_url>\n"
        "<m_update_paths class_id=\"2\" tracking_level=\"0\" version=\"0\"><count>1</count>"
        "<item_version>0</item_version><item class_id=\"3\" tracking_level=\"0\" version=\"0\">"
        "<m_name>main</m_name><m_code>M1</m_code><m_local>C:\\updates</m_local><m_update_mode>2</m_update_mode>"
        "<m_update_type>-1</m_update_type></item></m_update_paths>\n"
        "<m_proxy class_id=\"4\" tracking_level=\"0\" version=\"0\"><m_proxy_enabled>1</m_proxy_enabled>"
        "<m_proxy_server>proxy</m_proxy_server><m_proxy_port>65535</m_proxy_port></m_proxy>\n";
    if (version >= 2) text += "<m_parameters>/q &quot;x&quot;</m_parameters>\n";
    if (version >= 3) text += "<m_login_parameters>-l</m_login_parameters>\n";
    if (version >= 4) text += "<m_used_flag>1</m_used_flag>\n";
    return text + "</suite>\n</boost_serialization>\n";
}

}  // namespace

TEST(records, a_new_record_writes_every_element) {
    const suite_impl record;
    EXPECT_EQ(record.format_version, 4u);
    const std::string written = write(record);
    const std::vector<std::string> expected{
        "m_user_name", "m_user_site", "m_login_urls", "m_login_success", "m_machine_id", "m_user_id",
        "m_last_synchronize_time", "m_msg_system_data", "m_last_used_language", "m_product_id", "m_partner_id",
        "m_version", "m_suite_name", "m_suite_launcher_path", "m_suite_msgsys_path", "m_community_url",
        "m_service_name", "m_service_end_point", "m_update_end_point", "m_update_url", "m_update_paths", "m_proxy",
        "m_parameters", "m_login_parameters", "m_used_flag"};
    EXPECT_EQ(record_elements(written), expected);
    const std::string flat = without_layout(written);
    // The tracking level is 1 in this program, which also writes records
    // through pointers elsewhere.
    EXPECT_TRUE(std::regex_search(flat, std::regex("<suite class_id=\"0\" tracking_level=\"[01]\" version=\"4\"")));
    EXPECT_NE(flat.find("<m_login_urls class_id=\"1\" tracking_level=\"0\" version=\"0\"><count>0</count>"
                        "<item_version>0</item_version></m_login_urls>"),
              std::string::npos);

    // An empty list read back empties the list it is read into.
    suite_impl reread;
    reread.m_login_urls = {L"stale"};
    read(written, reread);
    EXPECT_TRUE(reread.m_login_urls.empty());
}

TEST(records, documents_of_every_class_version_read_with_its_rules) {
    for (unsigned int version = 0; version <= 4; ++version) {
        SCOPED_TRACE(version);
        suite_impl record;
        record.m_suite_name = L"previous";
        record.m_parameters = "previous";
        record.m_login_parameters = "previous";
        read(document(version), record);

        EXPECT_EQ(record.format_version, version);
        EXPECT_EQ(record.m_user_name, L"Jos\xe9 <admin>");
        EXPECT_EQ(record.m_login_urls, (std::vector<std::wstring>{L"https://a", L"https://b?x=1&y=2"}));
        EXPECT_EQ(record.m_login_success, -3);
        EXPECT_EQ(record.m_last_synchronize_time, 1700000000);
        EXPECT_EQ(record.m_suite_name, version >= 1 ? L"Quorvane \x4E2D" : L"Suite");
        EXPECT_EQ(record.m_suite_launcher_path, L"C:\\launcher.exe");
        ASSERT_EQ(record.m_update_paths.size(), 1u);
        EXPECT_EQ(record.m_update_paths[0].m_local, L"C:\\updates");
        EXPECT_EQ(record.m_update_paths[0].m_update_type, -1);
        EXPECT_TRUE(record.m_proxy.m_proxy_enabled);
        EXPECT_EQ(record.m_proxy.m_proxy_port, 65535);
        EXPECT_EQ(record.m_parameters, version >= 2 ? "/q \"x\"" : "previous");
        EXPECT_EQ(record.m_login_parameters, version >= 3 ? "-l" : "previous");
        EXPECT_EQ(record.m_used_flag, version >= 4);
    }
}

TEST(records, every_field_round_trips) {
    suite_impl record;
    record.m_user_name = L"<a & b> \"q\" 'a' caf\xe9 \x4E2D\x1F600";
    record.m_login_urls = {L"", L"\x20AC"};
    record.m_login_success = std::numeric_limits<int32_t>::min();
    record.m_last_synchronize_time = std::numeric_limits<int64_t>::max();
    record.m_suite_name = L"Suite \x263A";
    record.m_update_paths = {config::update_impl{L"n", L"c", L"l\xe9", 1, 2}, config::update_impl{}};
    record.m_proxy = config::proxy_impl{true, L"proxy \x4E2D", 65535};
    record.m_parameters = "/v\"a<b>&c\"";
    record.m_used_flag = true;
    const std::string written = write(record);

    suite_impl reread;
    read(written, reread);
    EXPECT_EQ(reread.m_user_name, record.m_user_name);
    EXPECT_EQ(reread.m_proxy.m_proxy_port, 65535);
    EXPECT_EQ(write(reread), written);  // the writer writes every field

    // Through a pointer the reader creates the record itself.
    std::ostringstream stream;
    {
        boost::archive::xml_oarchive archive(stream);
        const suite_impl* pointer = &record;
        archive << boost::serialization::make_nvp("suite", pointer);
    }
    std::istringstream input(stream.str());
    boost::archive::xml_iarchive archive(input);
    suite_impl* created = nullptr;
    archive >> boost::serialization::make_nvp("suite", created);
    const std::unique_ptr<suite_impl> owner(created);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(write(*created), written);
}

TEST(records, a_record_from_an_older_document_is_written_whole) {
    suite_impl old;
    read(document(2), old);
    const std::string written = write(old);
    EXPECT_EQ(record_elements(written).size(), 25u);
    suite_impl reread;
    read(written, reread);
    EXPECT_EQ(reread.format_version, 4u);
    EXPECT_EQ(write(reread), written);
}

TEST(records, a_malformed_document_keeps_the_fields_read_so_far) {
    std::string broken = document(4);
    broken.replace(broken.find("</m_product_id>"), 15, "</m_producer>");
    suite_impl record;
    record.m_partner_id = L"kept";
    EXPECT_THROW(read(broken, record), boost::archive::archive_exception);
    EXPECT_EQ(record.m_user_name, L"Jos\xe9 <admin>");
    EXPECT_EQ(record.m_last_used_language, L"de_DE");
    EXPECT_EQ(record.m_partner_id, L"kept");

    // A count the document does not back with items fails at the first
    // missing item, without allocating for the count.
    std::string inflated = document(4);
    inflated.replace(inflated.find("<count>1</count>"), 16, "<count>4000000000</count>");
    EXPECT_THROW(read(inflated, record), boost::archive::archive_exception);

    // Bytes that are no UTF-8 are no error: they become U+FFFD.
    std::string latin = document(4);
    latin.replace(latin.find("<m_user_site>site"), 17, "<m_user_site>\xe9t\xe9");
    read(latin, record);
    EXPECT_EQ(record.m_user_site, L"\xFFFDt\xFFFD");
}
