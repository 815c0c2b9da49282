// The PE header reader qvpack uses on launcher images and packages, on
// arbitrary files (the input is the whole file), then the clearing of the
// fields behind the image and the certificate header it lists.
//
// Properties checked beyond the sanitizers: a refusal names its fault in
// one line; an accepted image ends inside the file, and clearing changes
// only header fields, never the image's length.

#include "archive/pe_image.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const std::string head = file.substr(0, std::min(size, archive::pe_header_bytes));
    if (!archive::is_pe_image(head)) return 0;
    archive::pe_headers headers;
    try {
        headers = archive::read_pe_headers(head, size);
    } catch (const archive::package_error& error) {
        const std::string message = error.message();
        if (message.empty() || message.find('\n') != std::string::npos) fuzz::fail("a refusal without one line", message);
        return 0;
    }
    if (headers.image_end > size) fuzz::fail("an image that ends behind the file");
    std::string image = file.substr(0, size_t(headers.image_end));
    archive::clear_fields_behind_image(image, headers);
    if (image.size() != headers.image_end) fuzz::fail("clearing changed the image's length");
    if (headers.is_signed() && headers.certificate_offset < size)
        archive::read_certificate_header(std::string_view(file).substr(headers.certificate_offset, 8));
    return 0;
}
