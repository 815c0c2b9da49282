// Record encoding shared by the reader and the writer.

#include "archive/layout.h"

#include <cstring>

namespace archive {

std::string encode_trailer(uint32_t length, const std::string& digest) {
    std::string bytes(length_size, '\0');
    for (size_t i = 0; i < length_size; ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return bytes + digest;
}

uint32_t decode_length(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

const char* role_name(record_role role) {
    switch (role) {
        case record_role::tail: return "tail record";
        case record_role::kind: return "kind";
        case record_role::stub_kind: return "stub kind";
        case record_role::unknown_kind: return "unknown kind";
        case record_role::value_name: return "value name";
        case record_role::value_text: return "value text";
        case record_role::name: return "name";
        case record_role::file_name: return "file name";
        case record_role::file_data: return "file data";
        case record_role::stub_name: return "stub name";
        case record_role::stub_file_name: return "stub file name";
        case record_role::stub_data: return "stub data";
        case record_role::unknown_name: return "unknown name";
        case record_role::other: break;
    }
    return "record";
}

namespace {

// Windows opens a device for these names in any folder, with any extension
// and with blanks before the extension: CON, PRN, AUX, NUL, COM1-9, LPT1-9
// (also with the superscript digits of code page 1252), CONIN$, CONOUT$.
bool is_device_name(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (stem == device) return true;
    if (stem.size() != 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) return false;
    const unsigned char digit = static_cast<unsigned char>(stem[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

bool is_plain_file_name(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > max_file_name_length) return false;
    for (const char c : name) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 32 || std::strchr("\\/:<>\"|?*", c) != nullptr) return false;
    }
    // Windows drops trailing dots and blanks, so such a name is not the file
    // it makes ("..." would be the folder itself).
    if (name.back() == '.' || name.back() == ' ') return false;
    return !is_device_name(name);
}

}  // namespace archive
