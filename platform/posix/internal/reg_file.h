// Layer-internal: the registry hive read from a "Windows Registry Editor
// Version 5.00" text file, as a tree of keys with their values.
#pragma once

#include "platform/posix/types.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qv_posix {
namespace reg {

// Key and value names compare case-insensitively, as on Windows: maps are
// keyed by the folded name. Folds ASCII, Latin-1, basic Greek and Cyrillic
// letters; other scripts compare exactly.
std::wstring fold_name(const std::wstring& name);

// Types whose data is text. Their data is kept as characters, and their size
// counts 2 bytes per character (the size of the UTF-16 data on Windows, for
// every character of the Basic Multilingual Plane).
bool is_text_type(DWORD type);

struct value {
    DWORD type = 0;
    std::vector<BYTE> bytes;  // data of the other types
    std::wstring text;        // data of the text types, one character per wchar_t
    bool odd_byte = false;    // text data had an odd byte count; that byte is not delivered

    // The size RegQueryValueExW reports.
    DWORD size() const;
};

struct key_node {
    std::map<std::wstring, value> values;                       // by folded name; "" is the default value
    std::map<std::wstring, std::unique_ptr<key_node>> subkeys;  // by folded name
};

// A parsed hive: the root's subkeys are the predefined keys by their full
// names ("HKEY_LOCAL_MACHINE", ...).
struct hive {
    key_node root;
};

// Parses the file's bytes (UTF-16LE with BOM, UTF-8 with or without BOM, or
// the ANSI code page). Returns false with a description of the first fault.
bool parse(const std::string& bytes, hive& out, std::string& fault);

// Follows a relative path ("A\\B\\C") below a node; null when a component is
// missing. A trailing backslash is accepted.
const key_node* find(const key_node& from, const std::wstring& path);

}  // namespace reg
}  // namespace qv_posix
