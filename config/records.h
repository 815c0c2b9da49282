// The product's configuration records and their XML form (Boost
// Serialization's xml_oarchive / xml_iarchive): one element per field,
// named after the field, in declaration order.
#pragma once

#include <boost/serialization/level.hpp>
#include <boost/serialization/tracking.hpp>
#include <boost/serialization/version.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace config {

struct proxy_impl {
    bool m_proxy_enabled = false;
    std::wstring m_proxy_server;
    uint16_t m_proxy_port = 0;

    template <class Archive>
    void serialize(Archive& archive, unsigned int version);
};

struct update_impl {
    std::wstring m_name;
    std::wstring m_code;
    std::wstring m_local;
    int32_t m_update_mode = 0;
    int32_t m_update_type = 0;

    template <class Archive>
    void serialize(Archive& archive, unsigned int version);
};

struct suite_impl {
    static constexpr uint32_t current_format_version = 4;

    std::wstring m_user_name;
    std::wstring m_user_site;
    std::vector<std::wstring> m_login_urls;
    int32_t m_login_success = 0;
    std::wstring m_machine_id;
    std::wstring m_user_id;
    int64_t m_last_synchronize_time = 0;
    std::wstring m_msg_system_data;
    std::wstring m_last_used_language;
    std::wstring m_product_id;
    std::wstring m_partner_id;
    std::wstring m_version;
    std::wstring m_suite_name;  // since format version 1
    std::wstring m_suite_launcher_path;
    std::wstring m_suite_msgsys_path;
    std::wstring m_community_url;
    std::wstring m_service_name;
    std::wstring m_service_end_point;
    std::wstring m_update_end_point;
    std::wstring m_update_url;
    std::vector<update_impl> m_update_paths;
    proxy_impl m_proxy;
    std::string m_parameters;        // since format version 2
    std::string m_login_parameters;  // since format version 3
    bool m_used_flag = false;        // since format version 4

    // Not an element: the class version of the document last read.
    uint32_t format_version = current_format_version;

    // Reading follows the document's class version; writing always gives
    // every element, as the archive records version 4 for every record.
    template <class Archive>
    void serialize(Archive& archive, unsigned int version);
};

// The serialize functions exist for boost::archive::xml_oarchive and
// boost::archive::xml_iarchive (instantiated in records.cpp).

}  // namespace config

BOOST_CLASS_VERSION(config::suite_impl, 4)
