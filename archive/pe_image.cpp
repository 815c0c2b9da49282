// The PE header reader: every offset is checked against the bytes at hand
// and the file's size before it is used.

#include "archive/pe_image.h"

#include <algorithm>

namespace archive {
namespace {

const size_t dos_header_size = 64;
const size_t lfanew_at = 0x3C;
const size_t coff_header_size = 20;
const size_t section_header_size = 40;
const size_t certificate_directory = 4;  // index among the data directories

uint32_t u32(std::string_view bytes, uint64_t at) {
    const auto b = [&](size_t i) { return uint32_t(static_cast<unsigned char>(bytes[size_t(at) + i])); };
    return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}
uint16_t u16(std::string_view bytes, uint64_t at) {
    return uint16_t(uint32_t(static_cast<unsigned char>(bytes[size_t(at)])) |
                    uint32_t(static_cast<unsigned char>(bytes[size_t(at) + 1])) << 8);
}
void put_zeros(std::string& bytes, uint32_t at, size_t count) { bytes.replace(at, count, count, '\0'); }

[[noreturn]] void damaged(const std::string& what) { throw package_error("damaged PE headers: " + what); }

std::string n(uint64_t value) { return std::to_string(value); }
std::string placed(uint64_t at, uint64_t size) { return "(offset " + n(at) + ", " + n(size) + " bytes)"; }

class header_bytes {
public:
    header_bytes(std::string_view head, uint64_t file_size) : head_(head), file_size_(file_size) {}
    // Refuses the headers unless the part named what (size bytes from at)
    // lies in the bytes at hand, saying whether it ends behind the file or
    // only behind the bytes read for the headers.
    void need(const char* what, uint64_t at, uint64_t size) const {
        if (at + size <= head_.size()) return;
        if (at + size > file_size_)
            damaged(std::string("the ") + what + " " + placed(at, size) + " ends behind the end of the file (" +
                    n(file_size_) + " bytes)");
        damaged(std::string("the ") + what + " " + placed(at, size) + " lies behind the first " + n(head_.size()) +
                " bytes, where headers belong");
    }
    std::string_view bytes() const { return head_; }

private:
    std::string_view head_;
    uint64_t file_size_;
};

}  // namespace

bool is_pe_image(std::string_view head) { return head.substr(0, 2) == "MZ"; }

pe_headers read_pe_headers(std::string_view head, uint64_t file_size) {
    const header_bytes at_hand(head, file_size);
    at_hand.need("DOS header", 0, dos_header_size);
    const uint64_t pe = u32(head, lfanew_at);
    at_hand.need("PE signature and COFF header", pe, 4 + coff_header_size);
    if (head.substr(size_t(pe), 4) != std::string_view("PE\0\0", 4))
        damaged("no PE signature at offset " + n(pe));
    const uint64_t coff = pe + 4;
    const uint32_t sections = u16(head, coff + 2);
    const uint32_t optional_size = u16(head, coff + 16);
    const uint64_t optional = coff + coff_header_size;
    at_hand.need("optional header", optional, optional_size);

    pe_headers result;
    result.symbol_table_at = uint32_t(coff + 8);
    result.symbol_table = u32(head, coff + 8);
    if (optional_size < 2) damaged("the optional header is missing");
    const uint16_t magic = u16(head, optional);
    if (magic != 0x10b && magic != 0x20b)
        damaged("unknown optional header magic " + n(magic));
    const bool plus = magic == 0x20b;
    const uint64_t count_at = optional + (plus ? 108 : 92);
    if (count_at + 4 > optional + optional_size)
        damaged("an optional header of " + n(optional_size) + " bytes is too short");
    result.checksum_at = uint32_t(optional + 64);
    const uint64_t headers_size = u32(head, optional + 60);
    const uint64_t directories = count_at + 4;
    if (u32(head, count_at) > certificate_directory &&
        directories + 8 * (certificate_directory + 1) <= optional + optional_size) {
        result.certificate_entry_at = uint32_t(directories + 8 * certificate_directory);
        result.certificate_offset = u32(head, result.certificate_entry_at);
        result.certificate_size = u32(head, result.certificate_entry_at + 4);
    }

    const uint64_t table = optional + optional_size;
    at_hand.need("section table", table, uint64_t(sections) * section_header_size);
    if (headers_size > file_size)
        damaged("the headers' size " + n(headers_size) + " is larger than the file (" + n(file_size) + " bytes)");
    result.image_end = std::max(headers_size, table + uint64_t(sections) * section_header_size);
    for (uint32_t i = 0; i < sections; ++i) {
        const uint64_t entry = table + uint64_t(i) * section_header_size;
        const uint64_t size = u32(head, entry + 16), start = u32(head, entry + 20);
        if (size == 0) continue;  // no data in the file (.bss)
        if (start + size > file_size)
            damaged("section " + n(i + 1) + "'s data " + placed(start, size) + " ends behind the end of the file (" +
                    n(file_size) + " bytes)");
        result.image_end = std::max(result.image_end, start + size);
    }
    return result;
}

// The image checksum: 16-bit words summed with their carries folded in,
// the checksum field itself left out, plus the file's length.
uint32_t image_checksum(const std::string& image, uint32_t checksum_at) {
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i >= checksum_at && i < checksum_at + 4) continue;
        sum += static_cast<unsigned char>(image[i]) |
               (i + 1 < image.size() ? uint32_t(static_cast<unsigned char>(image[i + 1])) << 8 : 0u);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return uint32_t((sum & 0xFFFF) + (sum >> 16)) + uint32_t(image.size());
}

void clear_fields_behind_image(std::string& image, const pe_headers& headers) {
    if (headers.is_signed() && headers.certificate_offset >= headers.image_end)
        put_zeros(image, headers.certificate_entry_at, 8);
    if (headers.symbol_table != 0 && headers.symbol_table >= headers.image_end)
        put_zeros(image, headers.symbol_table_at, 8);  // the position and the count
    // A checksum is recomputed for the bytes carried: a launcher signed and
    // cut again is then the image it was before signing.
    if (u32(image, headers.checksum_at) != 0) {
        const uint32_t sum = image_checksum(image, headers.checksum_at);
        for (size_t i = 0; i < 4; ++i) image[headers.checksum_at + i] = static_cast<char>(sum >> (8 * i));
    }
}

std::optional<certificate_header> read_certificate_header(std::string_view bytes) {
    if (bytes.size() < 8) return std::nullopt;
    return certificate_header{u32(bytes, 0), u16(bytes, 4), u16(bytes, 6)};
}

const char* certificate_type_name(uint16_t type) {
    switch (type) {
        case 1: return "X.509 certificate";
        case 2: return "PKCS#7 signed data";
        case 4: return "terminal server protocol stack";
    }
    return "";
}

}  // namespace archive
