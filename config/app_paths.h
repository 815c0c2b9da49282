// The application environment's picture of where a program of the product
// lives: its own folder and file name, and the product's data folders under
// the all-users and the per-user application-data folders. The values are
// written by init_from_resources and init only and read through the
// accessors; they are otherwise private to the environment.
#pragma once

#include "platform/win32.h"

#include <string>

namespace config {

// String-table ids of the two folder words.
const UINT vendor_string_id = 2001;
const UINT product_string_id = 2002;

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
