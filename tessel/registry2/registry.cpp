// Opening keys below HKEY_LOCAL_MACHINE and reading string values, with the
// module's error classes.

#include "tessel/registry2/registry.h"

#include "tessel/format.h"
#include "tessel/unicode/unicode.h"

#include <cstdint>
#include <vector>

namespace tessel {
namespace registry2 {
namespace {

// Room for the expanded text of a REG_EXPAND_SZ value, terminator included.
const DWORD expansion_buffer_size = 32768;

// Names in messages, strictly in the ANSI code page: a name that has no ANSI
// form raises the unicode error instead of the registry one.
std::string narrow(const std::wstring& text) { return unicode::to_narrow(text, CP_ACP, true); }

// Read-write where allowed, read-only where only that is granted.
LSTATUS open_key(HKEY parent, const wchar_t* path, HKEY& out) {
    LSTATUS status = RegOpenKeyExW(parent, path, 0, KEY_READ | KEY_WRITE, &out);
    if (status == ERROR_ACCESS_DENIED) status = RegOpenKeyExW(parent, path, 0, KEY_READ, &out);
    return status;
}

// A predefined handle as the signed 32-bit number Windows gives it
// (HKEY_LOCAL_MACHINE is -2147483646), also where pointers are 64 bits.
int handle_number(HKEY handle) {
    return static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle))));
}

}  // namespace

key::~key() { hold(nullptr); }

void key::hold(HKEY handle) {
    if (handle_ != nullptr) RegCloseKey(handle_);
    handle_ = handle;
}

void key::open_subkey(const std::wstring& path, key& out) const {
    HKEY opened = nullptr;
    const LSTATUS status = open_key(handle_, path.c_str(), opened);
    if (status != ERROR_SUCCESS) {
        out.hold(nullptr);
        throw key_error(format("RegOpenKeyEx() failed: key \"%s\" (%i)", narrow(path).c_str(), static_cast<int>(status)));
    }
    out.hold(opened);
}

void open_local_machine(key& out) {
    HKEY opened = nullptr;
    const LSTATUS status = open_key(HKEY_LOCAL_MACHINE, nullptr, opened);
    if (status != ERROR_SUCCESS) {
        out.hold(nullptr);
        throw key_error(format("RegOpenKeyEx() failed: handle %i (%i)", handle_number(HKEY_LOCAL_MACHINE),
                               static_cast<int>(status)));
    }
    out.hold(opened);
}

std::wstring read_string(const key& from, const std::wstring& name) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(from.handle(), name.c_str(), nullptr, &type, nullptr, &size) == ERROR_FILE_NOT_FOUND)
        type = REG_NONE;
    // Room for every byte, so an odd byte count cannot make the query write
    // past the buffer; that odd byte is dropped below.
    std::wstring buffer((size + 1) / 2, L'\0');
    if (type == REG_NONE) throw value_error(format("Not found: value \"%s\"", narrow(name).c_str()));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw type_mismatch(format("Type mismatch: value \"%s\" expected %i found %i", narrow(name).c_str(), REG_SZ,
                                   static_cast<int>(type)));

    DWORD received = size;
    const LSTATUS status =
        RegQueryValueExW(from.handle(), name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(&buffer[0]), &received);
    if (received != size)
        throw size_mismatch(format("Size mismatch: value \"%s\" expected %i found %i", narrow(name).c_str(),
                                   static_cast<int>(size), static_cast<int>(received)));
    if (status != ERROR_SUCCESS)
        throw value_error(
            format("RegQueryValueEx() failed: value \"%s\" (%i)", narrow(name).c_str(), static_cast<int>(status)));
    buffer.resize(size / 2);

    // One terminating zero goes; a value stored with two keeps the other.
    if (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();

    if (type == REG_EXPAND_SZ) {
        std::vector<wchar_t> expanded(expansion_buffer_size);
        const DWORD count = ExpandEnvironmentStringsW(buffer.c_str(), expanded.data(), expansion_buffer_size);
        // A count beyond the buffer is the size the text would need: it did not fit.
        if (count == 0 || count > expansion_buffer_size) {
            const LSTATUS code = count == 0 ? static_cast<LSTATUS>(GetLastError()) : ERROR_INSUFFICIENT_BUFFER;
            throw value_error(format("ExpandEnvironmentStrings() failed: value \"%s\" (%i)", narrow(name).c_str(),
                                     static_cast<int>(code)));
        }
        return std::wstring(expanded.data(), count - 1);
    }
    return buffer;
}

std::string read_string_narrow(const key& from, const std::wstring& name) {
    return unicode::to_narrow(read_string(from, name), CP_ACP, true);
}

}  // namespace registry2
}  // namespace tessel
