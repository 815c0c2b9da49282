// Not part of the application environment's interface (config/app_paths.h):
// the values behind it, for tests that look at what an initialisation left
// or give one a starting point. Apart from this seam, init_from_resources
// and init are their only writers and the accessors their only readers.
#pragma once

#include <string>

namespace config {
namespace internal {

struct product_names {
    std::wstring vendor;   // first folder level under an application-data root
    std::wstring product;  // second level; also the product's name
};

struct app_paths_values {
    product_names names;
    std::wstring module_folder;        // up to and including the last backslash
    std::wstring module_file_name;     // after the last backslash
    std::wstring common_appdata_root;  // ends in a backslash
    std::wstring user_appdata_root;    // ends in a backslash; the all-users root when unknown
    std::wstring common_data_folder;   // its root + vendor + "\\" + product + "\\"
    std::wstring user_data_folder;     // its root + vendor + "\\" + product + "\\"
};

// A copy of every value.
app_paths_values app_paths();
// Every value, as if an initialisation had left them.
void set_app_paths(const app_paths_values& values);

}  // namespace internal
}  // namespace config
