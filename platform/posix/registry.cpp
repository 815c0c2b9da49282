// RegOpenKeyExW, RegQueryValueExW and RegCloseKey over a hive kept as a .reg
// text file named by QV_REGISTRY (unset, empty or a missing file: an empty
// registry). The file is read when a key is opened below a predefined root;
// keys opened from that key share the same snapshot.
// Differs from Windows:
// - read only: write access is granted when the hive file is writable (its
//   owner's write bit set and access(W_OK)), refused with ERROR_ACCESS_DENIED
//   otherwise, also for root; nothing is ever written;
// - text data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is counted in the Windows
//   unit of 2 bytes per character, and the data buffer is a wchar_t array:
//   a byte count n means room for n / 2 characters, each copied whole; a
//   character outside the Basic Multilingual Plane also counts 2 bytes, and
//   the last byte of text data with an odd byte count is never delivered;
// - registry views, links and options other than 0 are refused with
//   ERROR_INVALID_PARAMETER;
// - like Windows, the functions return their code and leave the last error.

#include "platform/posix/internal/errno_map.h"
#include "platform/posix/internal/kernel_object.h"
#include "platform/posix/internal/reg_file.h"
#include "platform/win32.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

using qv_posix::reg::hive;
using qv_posix::reg::key_node;

namespace {

// What a handle stands for: a key of one snapshot of the hive.
struct key_view {
    std::shared_ptr<const hive> snapshot;
    const key_node* node = nullptr;
    DWORD access = 0;
    bool writable = false;  // the hive file may be written by this process
};

}  // namespace

struct qv_key : qv_posix::kernel_object {
    key_view view;
};

namespace {

const DWORD write_bits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

const wchar_t* root_name(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
    if (key == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
    if (key == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
    if (key == HKEY_USERS) return L"HKEY_USERS";
    return nullptr;
}

// The predefined handles are the sign-extended values 0x80000000 to
// 0x8000000F; none of them is an object address.
bool is_predefined(HKEY key) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(key);
    const uintptr_t first = reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
    return value >= first && value <= first + 0xF;
}

// The hive file, parsed, and whether the process may write it.
LSTATUS load_hive(key_view& out) {
    auto loaded = std::make_shared<hive>();
    out.writable = true;
    const char* path = std::getenv("QV_REGISTRY");
    if (path != nullptr && *path != 0) {
        struct stat info;
        if (stat(path, &info) == 0) {
            if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
            // The owner's write bit decides, since root passes access(W_OK) anyway.
            out.writable = (info.st_mode & S_IWUSR) != 0 && access(path, W_OK) == 0;
            std::ifstream file(path, std::ios::binary);
            if (!file) return qv_posix::win32_error_from_errno(errno);
            const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            std::string fault;
            if (!qv_posix::reg::parse(bytes, *loaded, fault)) return ERROR_BADDB;
        } else if (errno != ENOENT) {
            return qv_posix::win32_error_from_errno(errno);
        }
    }
    out.snapshot = loaded;
    return ERROR_SUCCESS;
}

// The key behind a handle: a predefined root, loaded now, or one of ours.
LSTATUS resolve(HKEY key, key_view& out) {
    if (is_predefined(key)) {
        const wchar_t* name = root_name(key);
        if (name == nullptr) return ERROR_INVALID_HANDLE;
        const LSTATUS status = load_hive(out);
        if (status != ERROR_SUCCESS) return status;
        static const key_node empty_root;
        out.node = qv_posix::reg::find(out.snapshot->root, name);
        if (out.node == nullptr) out.node = &empty_root;
        out.access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    auto* object = dynamic_cast<qv_key*>(qv_posix::lookup_handle(reinterpret_cast<HANDLE>(key)));
    if (object == nullptr) return ERROR_INVALID_HANDLE;
    out = object->view;
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, DWORD access, PHKEY result) {
    if (result == nullptr || options != 0 || (access & ~KEY_ALL_ACCESS) != 0) return ERROR_INVALID_PARAMETER;
    const std::wstring path = sub_key != nullptr ? sub_key : L"";
    if (!path.empty() && path[0] == L'\\') return ERROR_BAD_PATHNAME;
    key_view parent;
    const LSTATUS status = resolve(key, parent);
    if (status != ERROR_SUCCESS) return status;
    const key_node* node = qv_posix::reg::find(*parent.node, path);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    if ((access & write_bits) != 0 && !parent.writable) return ERROR_ACCESS_DENIED;
    auto* opened = new qv_key;
    opened->view = parent;
    opened->view.node = node;
    opened->view.access = access;
    *result = opened;  // its only base is at offset 0, so the HKEY is also its HANDLE
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
    key_view view;
    const LSTATUS status = resolve(key, view);
    if (status != ERROR_SUCCESS) return status;
    if ((view.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    const auto found = view.node->values.find(qv_posix::reg::fold_name(name != nullptr ? name : L""));
    if (found == view.node->values.end()) return ERROR_FILE_NOT_FOUND;
    const qv_posix::reg::value& value = found->second;
    if (type != nullptr) *type = value.type;
    const DWORD needed = value.size();
    if (data == nullptr) {
        if (size != nullptr) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (qv_posix::reg::is_text_type(value.type)) {
        std::memcpy(data, value.text.data(), value.text.size() * sizeof(wchar_t));
    } else if (!value.bytes.empty()) {
        std::memcpy(data, value.bytes.data(), value.bytes.size());
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    if (is_predefined(key)) return root_name(key) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    auto* object = dynamic_cast<qv_key*>(qv_posix::lookup_handle(reinterpret_cast<HANDLE>(key)));
    if (object == nullptr) return ERROR_INVALID_HANDLE;
    delete object;
    return ERROR_SUCCESS;
}
