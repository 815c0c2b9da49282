// Serialization of the configuration records. Wide text is carried as
// UTF-8 character data, converted here: the library's own reading of wide
// strings in a narrow archive goes through the C locale and refuses
// non-ASCII text in the "C" locale, while its writing is always UTF-8.

#include "config/records.h"

#include "platform/win32.h"
#include "tessel/unicode/unicode.h"

#include <boost/archive/detail/iserializer.hpp>
#include <boost/archive/detail/oserializer.hpp>
#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/singleton.hpp>
#include <boost/serialization/split_member.hpp>
#include <boost/serialization/string.hpp>

namespace config {
// Named, not anonymous: in the MinGW build, serialized types of internal
// linkage leave Boost.Serialization's type registry to crash the process at
// exit.
namespace records_detail {

template <class Archive, class T>
void field(Archive& archive, const char* name, T& value) {
    archive& boost::serialization::make_nvp(name, value);
}

template <class Archive>
void field(Archive& archive, const char* name, std::wstring& value) {
    std::string text;
    if (Archive::is_saving::value) text = tessel::unicode::to_narrow(value, CP_UTF8, false);
    archive& boost::serialization::make_nvp(name, text);
    if (Archive::is_loading::value) value = tessel::unicode::to_wide(text, CP_UTF8);
}

// A list in the library's collection form: "count", "item_version", then
// one "item" per entry. Entries are read one by one and appended, so a
// count that the document does not back with items fails at the first
// missing item instead of allocating for it.
template <class T>
class list_form {
public:
    explicit list_form(std::vector<T>& list) : list_(list) {}

    template <class Archive>
    void save(Archive& archive, unsigned int) const {
        const boost::serialization::collection_size_type count(list_.size());
        archive << BOOST_SERIALIZATION_NVP(count);
        const boost::serialization::item_version_type item_version(0);
        archive << BOOST_SERIALIZATION_NVP(item_version);
        for (T& entry : list_) field(archive, "item", entry);
    }

    template <class Archive>
    void load(Archive& archive, unsigned int) {
        list_.clear();
        boost::serialization::collection_size_type count;
        archive >> BOOST_SERIALIZATION_NVP(count);
        boost::serialization::item_version_type item_version(0);
        if (boost::serialization::library_version_type(3) < archive.get_library_version())
            archive >> BOOST_SERIALIZATION_NVP(item_version);
        for (size_t index = 0; index < count; ++index) {
            list_.emplace_back();
            field(archive, "item", list_.back());
        }
    }

    BOOST_SERIALIZATION_SPLIT_MEMBER()

private:
    std::vector<T>& list_;
};

template <class Archive, class T>
void field(Archive& archive, const char* name, std::vector<T>& list) {
    list_form<T> form(list);
    archive& boost::serialization::make_nvp(name, form);
}

}  // namespace records_detail

using records_detail::field;

// The element name is the field's name.
#define RECORD_FIELD(name) field(archive, #name, name)

template <class Archive>
void proxy_impl::serialize(Archive& archive, unsigned int) {
    RECORD_FIELD(m_proxy_enabled);
    RECORD_FIELD(m_proxy_server);
    RECORD_FIELD(m_proxy_port);
}

template <class Archive>
void update_impl::serialize(Archive& archive, unsigned int) {
    RECORD_FIELD(m_name);
    RECORD_FIELD(m_code);
    RECORD_FIELD(m_local);
    RECORD_FIELD(m_update_mode);
    RECORD_FIELD(m_update_type);
}

template <class Archive>
void suite_impl::serialize(Archive& archive, unsigned int version) {
    // A record written with fewer elements would claim class version 4 and
    // could not be read back.
    const unsigned int v = Archive::is_saving::value ? current_format_version : version;
    RECORD_FIELD(m_user_name);
    RECORD_FIELD(m_user_site);
    RECORD_FIELD(m_login_urls);
    RECORD_FIELD(m_login_success);
    RECORD_FIELD(m_machine_id);
    RECORD_FIELD(m_user_id);
    RECORD_FIELD(m_last_synchronize_time);
    RECORD_FIELD(m_msg_system_data);
    RECORD_FIELD(m_last_used_language);
    RECORD_FIELD(m_product_id);
    RECORD_FIELD(m_partner_id);
    RECORD_FIELD(m_version);
    if (v >= 1)
        RECORD_FIELD(m_suite_name);
    else
        m_suite_name = L"Suite";
    RECORD_FIELD(m_suite_launcher_path);
    RECORD_FIELD(m_suite_msgsys_path);
    RECORD_FIELD(m_community_url);
    RECORD_FIELD(m_service_name);
    RECORD_FIELD(m_service_end_point);
    RECORD_FIELD(m_update_end_point);
    RECORD_FIELD(m_update_url);
    RECORD_FIELD(m_update_paths);
    RECORD_FIELD(m_proxy);
    if (v >= 2) RECORD_FIELD(m_parameters);
    if (v >= 3) RECORD_FIELD(m_login_parameters);
    if (v >= 4) RECORD_FIELD(m_used_flag);
    if (Archive::is_loading::value) format_version = v;
}

#undef RECORD_FIELD

template void proxy_impl::serialize(boost::archive::xml_oarchive&, unsigned int);
template void proxy_impl::serialize(boost::archive::xml_iarchive&, unsigned int);
template void update_impl::serialize(boost::archive::xml_oarchive&, unsigned int);
template void update_impl::serialize(boost::archive::xml_iarchive&, unsigned int);
template void suite_impl::serialize(boost::archive::xml_oarchive&, unsigned int);
template void suite_impl::serialize(boost::archive::xml_iarchive&, unsigned int);

// The registrations of the records themselves, readers by reference and by
// pointer, writers by reference (those of the nested records and the lists
// come with the serialize functions above). Made during static
// initialisation in every program that carries this file, the launcher
// among them, which reads and writes no document.
namespace records_detail {

using boost::serialization::singleton;
const void* const registrations[] = {
    &singleton<boost::archive::detail::iserializer<boost::archive::xml_iarchive, suite_impl>>::get_const_instance(),
    &singleton<boost::archive::detail::pointer_iserializer<boost::archive::xml_iarchive, suite_impl>>::get_const_instance(),
    &singleton<boost::archive::detail::oserializer<boost::archive::xml_oarchive, suite_impl>>::get_const_instance(),
};

}  // namespace records_detail

// Class information in the document, tracking only through pointers, no
// export keys (run-time type information only).
using boost::serialization::implementation_level;
using boost::serialization::tracking_level;
static_assert(boost::serialization::version<suite_impl>::value == suite_impl::current_format_version,
              "suite_impl's class version is its current format version");
static_assert(implementation_level<suite_impl>::value == boost::serialization::object_class_info &&
                  implementation_level<proxy_impl>::value == boost::serialization::object_class_info &&
                  implementation_level<update_impl>::value == boost::serialization::object_class_info,
              "records carry their class information");
static_assert(tracking_level<suite_impl>::value == boost::serialization::track_selectively &&
                  tracking_level<proxy_impl>::value == boost::serialization::track_selectively &&
                  tracking_level<update_impl>::value == boost::serialization::track_selectively,
              "records are tracked only when written through a pointer");

}  // namespace config
