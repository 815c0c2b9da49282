// Certificate tables in launcher images and packages.

#include "tools/qvpack/signing.h"

#include "archive/pe_image.h"
#include "archive/writer.h"
#include "tessel/format.h"

#include <algorithm>

namespace qvpack {
namespace {

bool all_zeros(archive::host_input& file, uint64_t offset, uint64_t size) {
    const uint64_t block = 64 * 1024;
    for (uint64_t done = 0; done < size; done += block) {
        const std::string bytes = file.read_at(offset + done, size_t(std::min(block, size - done)));
        if (bytes.find_first_not_of('\0') != std::string::npos) return false;
    }
    return true;
}

std::string n(uint64_t value) { return std::to_string(value); }

void list_stretch(std::ostream& out, uint64_t offset, uint64_t size, const std::string& what) {
    if (size != 0) out << tessel::format("%10u %10u  ", unsigned(offset), unsigned(size)) << what << "\n";
}

void list_unknown(std::ostream& out, archive::host_input& file, uint64_t offset, uint64_t size) {
    list_stretch(out, offset, size, all_zeros(file, offset, size) ? "alignment zeros" : "other bytes");
}

}  // namespace

std::optional<std::string> carried_pe_image(archive::host_input& file, uint64_t available) {
    const std::string head = file.read_at(0, size_t(std::min<uint64_t>(available, archive::pe_header_bytes)));
    if (!archive::is_pe_image(head)) return std::nullopt;
    archive::pe_headers headers;
    try {
        headers = archive::read_pe_headers(head, available);
    } catch (const archive::package_error& error) {
        throw archive::package_error(file.path() + ": " + error.message());
    }
    std::string image = file.read_at(0, size_t(headers.image_end));
    archive::clear_fields_behind_image(image, headers);
    return image;
}

certificate_directory package_certificate_directory(archive::host_input& package, uint32_t file_size) {
    const std::string head = package.read_at(0, size_t(std::min<uint64_t>(file_size, archive::pe_header_bytes)));
    if (!archive::is_pe_image(head)) return certificate_directory();
    try {
        const archive::pe_headers headers = archive::read_pe_headers(head, file_size);
        if (headers.is_signed()) return certificate_directory{true, headers.certificate_offset, headers.certificate_size};
    } catch (const archive::package_error&) {
        // No image a loader would take, and so no signature to describe.
    }
    return certificate_directory();
}

std::string certificate_directory_fault(const certificate_directory& directory, uint32_t tail_end,
                                        uint32_t file_size) {
    if (!directory.present) return std::string();
    const std::string place = "offset " + n(directory.offset) + ", size " + n(directory.size);
    const uint64_t end = uint64_t(directory.offset) + directory.size;
    if (end > file_size)
        return "the certificate directory (" + place + ") points outside the file (" + n(file_size) + " bytes)";
    if (directory.offset < tail_end)
        return "the certificate directory (" + place + ") points into the archive, which ends at " + n(tail_end);
    if (end < file_size)
        return n(file_size - end) + " bytes follow the certificate table (" + place + ") to the end of the file";
    return std::string();
}

void list_behind_tail(archive::host_input& package, const certificate_directory& directory, uint32_t tail_end,
                      uint32_t file_size, std::ostream& out) {
    if (tail_end >= file_size) return;
    const bool table_behind = directory.present && directory.offset >= tail_end && directory.offset < file_size;
    if (!table_behind) return list_unknown(out, package, tail_end, file_size - tail_end);
    list_unknown(out, package, tail_end, directory.offset - tail_end);
    const uint64_t end = std::min<uint64_t>(uint64_t(directory.offset) + directory.size, file_size);
    std::string what = "certificate table: the directory says offset " + n(directory.offset) + ", size " +
                       n(directory.size);
    if (const auto header = archive::read_certificate_header(
            package.read_at(directory.offset, size_t(std::min<uint64_t>(8, end - directory.offset))))) {
        const std::string type = archive::certificate_type_name(header->type);
        what += tessel::format("; certificate length %u, revision 0x%04x, type %u", unsigned(header->length),
                               unsigned(header->revision), unsigned(header->type)) +
                (type.empty() ? "" : " (" + type + ")");
    }
    list_stretch(out, directory.offset, end - directory.offset, what);
    list_stretch(out, end, file_size - end, "other bytes");
}

}  // namespace qvpack
