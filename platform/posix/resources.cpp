// LoadStringW over the string tables that the build generates from
// resources/launcher.rc (see internal/module.h).
// Differs from Windows: an entry that is present but empty reads as missing
// (ERROR_RESOURCE_NAME_NOT_FOUND), as the compiled table format cannot tell
// the two apart either; no language selection.

#include "platform/posix/internal/module.h"
#include "platform/win32.h"

#include <algorithm>
#include <cwchar>

int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int buffer_max) {
    if (buffer == nullptr || buffer_max < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const qv_module* module = qv_posix::module_from_handle(instance);
    const auto entry = module->strings.find(id);
    if (entry == module->strings.end() || entry->second.empty()) {
        if (buffer_max > 0) buffer[0] = L'\0';
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const std::wstring& text = entry->second;
    if (buffer_max == 0) {
        // The read-only form: buffer receives a pointer to the table's own
        // text, which is not zero-terminated on Windows; the count says
        // where it ends. Tables live until the process ends.
        *reinterpret_cast<const wchar_t**>(buffer) = text.data();
        SetLastError(ERROR_SUCCESS);
        return static_cast<int>(text.size());
    }
    const size_t count = std::min(text.size(), static_cast<size_t>(buffer_max) - 1);
    std::wmemcpy(buffer, text.data(), count);
    buffer[count] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(count);
}
