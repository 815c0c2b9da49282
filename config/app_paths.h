// The application environment's picture of where a program of the product
// lives: its own folder and file name, and the product's data folders under
// the all-users and the per-user application-data folders. Written once by
// init_from_resources, read afterwards.
#pragma once

#include "platform/win32.h"

#include <string>

namespace config {

// String-table ids of the two folder words.
const UINT vendor_string_id = 2001;
const UINT product_string_id = 2002;

struct product_names {
    std::wstring vendor;   // first folder level under an application-data root
    std::wstring product;  // second level; also the product's name
};

extern product_names names;
extern std::wstring module_folder;        // up to and including the last backslash
extern std::wstring module_file_name;     // after the last backslash
extern std::wstring common_appdata_root;  // ends in a backslash
extern std::wstring user_appdata_root;    // ends in a backslash; the all-users root when unknown
extern std::wstring common_data_folder;   // its root + vendor + "\\" + product + "\\"
extern std::wstring user_data_folder;     // its root + vendor + "\\" + product + "\\"

// The string-table entry id of module (null: the executable). Throws
// tessel::exception "resource string %d is not found" when it is missing or
// empty; a text longer than 259 units arrives cut to 259.
std::wstring load_resource_string(UINT id, HINSTANCE module);

// Loads the vendor (2001) and the product (2002) words of module, then init.
void init_from_resources(HINSTANCE module);

// Computes the paths of module; a null module (the executable) also installs
// the crash dump writer.
void init(HINSTANCE module);

std::wstring get_product_name();
std::wstring get_module_file_name();
std::wstring get_user_data_folder();

}  // namespace config
