// Host files through the standard library.

#include "archive/host_file.h"

#include "archive/writer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace archive {
namespace {

namespace fs = std::filesystem;

// The streams report no reason; the C library under them leaves one.
std::string system_reason() { return errno != 0 ? std::strerror(errno) : "failed"; }

}  // namespace

host_input::host_input(const std::string& path) : path_(path) {
    std::error_code ignored;
    if (fs::is_directory(fs::path(path), ignored)) throw package_error("cannot read " + path + ": it is a folder");
    errno = 0;
    in_.open(fs::path(path), std::ios::binary);
    if (!in_) throw package_error("cannot read " + path + ": " + system_reason());
    in_.seekg(0, std::ios::end);
    const std::streamoff end = in_.tellg();
    if (in_ && end >= 0) size_ = uint64_t(end);
    in_.clear();
    in_.seekg(0);
    in_.clear();
}

size_t host_input::read(char* buffer, size_t count) {
    errno = 0;
    in_.read(buffer, std::streamsize(count));
    if (in_.bad()) throw package_error("cannot read " + path_ + ": " + system_reason());
    const size_t done = size_t(in_.gcount());
    in_.clear();
    return done;
}

void host_input::seek(uint64_t offset) {
    in_.clear();
    if (!in_.seekg(std::streamoff(offset))) throw package_error("cannot read " + path_ + ": cannot seek");
}

std::string host_input::read_at(uint64_t offset, size_t count) {
    seek(offset);
    std::string bytes(count, '\0');
    if (read(&bytes[0], count) != count) throw package_error("cannot read " + path_ + ": it ends early");
    return bytes;
}

std::string read_host_file(const std::string& path) {
    host_input in(path);
    std::string text;
    char block[64 * 1024];
    while (const size_t count = in.read(block, sizeof(block))) text.append(block, count);
    return text;
}

host_output::host_output(const std::string& path) : path_(path), temporary_(path + ".qvpack-partial") {
    errno = 0;
    out_.open(fs::path(temporary_), std::ios::binary | std::ios::trunc);
    if (!out_) throw package_error("cannot create " + path + ": " + system_reason());
}

host_output::~host_output() {
    if (!placed_) discard();
}

void host_output::discard() {
    if (out_.is_open()) out_.close();
    std::error_code ignored;
    fs::remove(fs::path(temporary_), ignored);
}

void host_output::write(const char* data, size_t count) {
    errno = 0;
    if (!out_.write(data, std::streamsize(count))) throw package_error("cannot write " + path_ + ": " + system_reason());
}

void host_output::place(const std::function<void(const std::string& written)>& check) {
    if (placed_) return;
    errno = 0;
    out_.close();
    if (!out_) {
        const std::string reason = system_reason();
        discard();
        throw package_error("cannot write " + path_ + ": " + reason);
    }
    if (check) check(temporary_);  // the destructor removes it when this throws
    std::error_code error;
    fs::rename(fs::path(temporary_), fs::path(path_), error);
    if (error) throw package_error("cannot write " + path_ + ": " + error.message());
    placed_ = true;
}

}  // namespace archive
