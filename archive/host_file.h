// Files of the host system named by its own paths, for the package tool
// and the package writer: the standard library's streams and filesystem,
// so that a name means what the host's own programs take it to mean (a
// backslash is a plain character on Linux; paths are wide on Windows).
// The launcher's reader goes through the Win32 layer instead.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

namespace archive {

// A file open for reading. Failures throw package_error naming the path.
class host_input {
public:
    // A folder is refused.
    explicit host_input(const std::string& path);

    const std::string& path() const { return path_; }
    // The size of the open file; none when it cannot be told (a pipe).
    std::optional<uint64_t> size() const { return size_; }

    // Up to count bytes from the current position: fewer only at the end.
    size_t read(char* buffer, size_t count);
    void seek(uint64_t offset);
    // Exactly count bytes at offset.
    std::string read_at(uint64_t offset, size_t count);

private:
    std::string path_;
    std::ifstream in_;
    std::optional<uint64_t> size_;
};

// The whole file.
std::string read_host_file(const std::string& path);

// A new file at path, written under a temporary name beside it
// (path + ".qvpack-partial") and renamed onto path when it is whole: until
// then, and after any failure, no file is left at either name, and a file
// already at path stays as it was.
class host_output {
public:
    explicit host_output(const std::string& path);
    ~host_output();
    host_output(const host_output&) = delete;
    host_output& operator=(const host_output&) = delete;

    void write(const char* data, size_t count);
    // Closes the temporary file, lets check read it (by the name it is
    // given) and renames it onto path. The output cannot be written
    // afterwards; a check that throws leaves nothing.
    void place(const std::function<void(const std::string& written)>& check = nullptr);

private:
    void discard();

    std::string path_;
    std::string temporary_;
    std::ofstream out_;
    bool placed_ = false;
};

}  // namespace archive
