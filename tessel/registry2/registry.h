// Registry access below HKEY_LOCAL_MACHINE: open keys, read string values.
// Every failure is one of the errors of tessel/registry2/errors.h (or, while
// a message is built, of tessel::unicode); nothing returns an error code.
#pragma once

#include "platform/win32.h"
#include "tessel/registry2/errors.h"

#include <string>

namespace tessel {
namespace registry2 {

// Owns one open registry handle and closes it when destroyed.
class key {
public:
    key() = default;
    ~key();
    key(const key&) = delete;
    key& operator=(const key&) = delete;

    // Opens the key at path (relative) below this key into out.
    void open_subkey(const std::wstring& path, key& out) const;

    HKEY handle() const { return handle_; }

private:
    friend void open_local_machine(key& out);
    // Closes the handle held so far and holds the new one.
    void hold(HKEY handle);

    HKEY handle_ = nullptr;
};

// Opens HKEY_LOCAL_MACHINE itself into out.
void open_local_machine(key& out);

// The text of a REG_SZ value, or of a REG_EXPAND_SZ value with its
// environment variables expanded, without its one terminating zero.
std::wstring read_string(const key& from, const std::wstring& name);

// read_string converted strictly to the ANSI code page.
std::string read_string_narrow(const key& from, const std::wstring& name);

}  // namespace registry2
}  // namespace tessel
