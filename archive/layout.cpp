// Record encoding shared by the reader and the writer.

#include "archive/layout.h"

namespace archive {

std::string encode_trailer(uint32_t length, const std::string& digest) {
    std::string bytes(length_size, '\0');
    for (size_t i = 0; i < length_size; ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return bytes + digest;
}

uint32_t decode_length(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

bool is_plain_file_name(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string("\\/:\0", 4)) == std::string::npos;
}

}  // namespace archive
