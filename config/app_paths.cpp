// The application paths: the folder words from the string table, the
// module's folder and file name, and the data folders.

#include "config/app_paths.h"

#include "config/crash_dump.h"
#include "config/internal/app_paths_values.h"
#include "tessel/exception.h"

#include <vector>

namespace config {
namespace {

// Empty from static initialisation on, released at exit in the reverse
// order; the two names go together.
internal::product_names names;
std::wstring module_folder;
std::wstring module_file_name;
std::wstring common_appdata_root;
std::wstring user_appdata_root;
std::wstring common_data_folder;
std::wstring user_data_folder;

const DWORD path_buffer_units = 260;
const DWORD longest_module_path = 32768;

// The module's full path. A path that does not fit the usual buffer is read
// again into a larger one rather than used cut short.
std::wstring module_path(HINSTANCE module) {
    for (DWORD size = path_buffer_units;; size *= 2) {
        std::vector<WCHAR> buffer(size, L'\0');
        const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0) throw tessel::exception_w(L"Error. config::init. GetModuleFileName return 0.");
        if (length < size || size >= longest_module_path) {
            const std::wstring text(buffer.data(), length);
            return text.substr(0, text.find(L'\0'));
        }
    }
}

}  // namespace

std::wstring load_resource_string(UINT id, HINSTANCE module) {
    WCHAR buffer[path_buffer_units] = {};
    if (LoadStringW(module, id, buffer, path_buffer_units) == 0)
        throw tessel::exception("resource string %d is not found", static_cast<int>(id));
    return std::wstring(buffer);
}

void init_from_resources(HINSTANCE module) {
    names.vendor = load_resource_string(vendor_string_id, module);
    names.product = load_resource_string(product_string_id, module);
    init(module);
}

void init(HINSTANCE module) {
    const std::wstring path = module_path(module);
    const std::wstring::size_type last_backslash = path.rfind(L'\\');
    if (last_backslash == std::wstring::npos) {
        module_folder.clear();
        module_file_name = path;
    } else {
        module_folder = path.substr(0, last_backslash + 1);
        module_file_name = path.substr(last_backslash + 1);
    }

    WCHAR buffer[path_buffer_units] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) < 0)
        throw tessel::exception_w(L"Error. config::init. Can not find CSIDL_COMMON_APPDATA.");
    common_appdata_root = std::wstring(buffer) + L"\\";
    common_data_folder = common_appdata_root + names.vendor + L"\\" + names.product + L"\\";

    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) < 0)
        user_appdata_root = common_appdata_root;
    else
        user_appdata_root = std::wstring(buffer) + L"\\";
    user_data_folder = user_appdata_root + names.vendor + L"\\" + names.product + L"\\";

    if (module == nullptr) install_crash_dump_writer();
}

std::wstring get_product_name() { return names.product; }

std::wstring get_module_file_name() { return module_file_name; }

std::wstring get_user_data_folder() { return user_data_folder; }

internal::app_paths_values internal::app_paths() {
    return {names, module_folder, module_file_name, common_appdata_root, user_appdata_root,
            common_data_folder, user_data_folder};
}

void internal::set_app_paths(const app_paths_values& values) {
    names = values.names;
    module_folder = values.module_folder;
    module_file_name = values.module_file_name;
    common_appdata_root = values.common_appdata_root;
    user_appdata_root = values.user_appdata_root;
    common_data_folder = values.common_data_folder;
    user_data_folder = values.user_data_folder;
}

}  // namespace config
