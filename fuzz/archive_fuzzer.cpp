// The launcher's archive reader on arbitrary package files.
//
// An input is the package file itself, unless it begins with the byte 0xB1:
// then it is a list of records that the harness encodes with their correct
// digests, so that the walk is explored past the MD5 checks (kinds, names,
// hostile file names, lengths that lie):
//   0xB1, mode byte: bit 1 no stub group, bit 2 no tail record, bit 3
//              bytes behind the tail (alignment zeros and a certificate)
//   records:   header byte (bits 0-5 payload length, bit 6 a stored length
//              of 4 bytes follows, bit 7 a wrong digest), then the payload
//
// Properties checked beyond the sanitizers: the reader returns, writes
// nothing but plain files and only inside the working folder.

#include "archive/digest.h"
#include "archive/layout.h"
#include "archive/reader.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/extract_package.h"
#include "tests/support/test_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace {

const uint8_t encoded_input = 0xB1;

struct layout {
    std::string package;       // POSIX path of the package file
    std::string package_dos;   // as the launcher names it
    std::string working;       // POSIX path of the working folder
    std::string working_dos;   // ending in a backslash
};

const layout& paths() {
    static const layout the_layout = [] {
        layout made;
        const std::string& root = fuzz::private_folder();
        made.package = root + "/package.exe";
        made.package_dos = qv_test::test_folder::dos_path(made.package);
        made.working = root + "/work";
        made.working_dos = qv_test::test_folder::dos_path(made.working) + "\\";
        if (mkdir(made.working.c_str(), 0777) != 0) fuzz::disturbed("cannot make the working folder");
        return made;
    }();
    return the_layout;
}

std::string record(const std::string& payload, uint32_t stored_length, bool wrong_digest) {
    std::string digest = archive::md5_of(payload.data(), payload.size());
    if (wrong_digest) digest[0] = static_cast<char>(digest[0] ^ 1);
    return payload + archive::encode_trailer(stored_length, digest);
}

std::string record(const std::string& payload) { return record(payload, uint32_t(payload.size()), false); }

std::string encoded_package(const uint8_t* data, size_t size) {
    const uint8_t mode = size > 1 ? data[1] : 0;
    std::string package;
    if ((mode & 2) == 0)
        package = record("MZ" + std::string(62, '\0')) + record("Reader.exe") + record("stub") + record("stub");
    size_t at = 2;
    while (at < size) {
        const uint8_t header = data[at++];
        uint32_t stored_length = 0;
        const bool lies = (header & 0x40) != 0;
        if (lies) {
            if (size - at < archive::length_size) break;
            stored_length = archive::decode_length(data + at);
            at += archive::length_size;
        }
        const size_t length = std::min<size_t>(header & 0x3F, size - at);
        const std::string payload(reinterpret_cast<const char*>(data + at), length);
        at += length;
        package += record(payload, lies ? stored_length : uint32_t(length), (header & 0x80) != 0);
    }
    if ((mode & 4) == 0) package += record(std::string(archive::tail_marker, archive::marker_size));
    if ((mode & 8) != 0) package += std::string(7, '\0') + "certificate table";
    return package;
}

void write_package(const std::string& bytes) {
    std::FILE* file = std::fopen(paths().package.c_str(), "wb");
    if (file == nullptr) fuzz::disturbed("cannot write the package");
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) fuzz::disturbed("short write");
    std::fclose(file);
}

// Everything the reader made must be a plain file in the working folder;
// it is removed for the next input. The reader removes no file, so a
// package or working folder that is gone was removed from outside.
void check_and_empty_working_folder() {
    const std::string& root = fuzz::private_folder();
    const std::set<std::string> expected = {"package.exe", "work"};
    const std::set<std::string> found = qv_test::folder_entries(root);
    for (const std::string& name : expected)
        if (found.count(name) == 0) fuzz::disturbed("gone from the private folder:", name);
    if (found != expected) {
        std::string names;
        for (const std::string& name : found) names += "[" + name + "]";
        fuzz::fail("written outside the working folder:", names);
    }
    for (const std::string& name : qv_test::folder_entries(paths().working)) {
        const std::string path = paths().working + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) fuzz::disturbed("gone from the working folder:", name);
        if (!S_ISREG(info.st_mode)) fuzz::fail("not a plain file:", name);
        unlink(path.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] == encoded_input)
        write_package(encoded_package(data, size));
    else
        write_package(std::string(reinterpret_cast<const char*>(data), size));

    std::map<std::string, std::string> values;
    archive::extraction run(values, paths().working_dos, true);
    qv_test::extract_package(paths().package_dos, run);
    check_and_empty_working_folder();
    return 0;
}
