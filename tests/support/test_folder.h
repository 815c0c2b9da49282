// Test helpers shared by the test folders and the fuzz targets: a unique
// temporary folder per test, folder listings, scoped changes of
// environment variables, whole files and what a call writes to standard
// error.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>

namespace qv_test {

// A fresh folder below $TMPDIR (or /tmp), removed with its contents.
class test_folder {
public:
    test_folder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qv-test-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) std::abort();
        path_ = std::filesystem::canonical(pattern).string();
    }
    // Folders a test closed to its owner are opened first; links are not
    // followed.
    ~test_folder() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (fs::recursive_directory_iterator it(path_, ignored), end; it != end; it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    test_folder(const test_folder&) = delete;
    test_folder& operator=(const test_folder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The folder as the layer names it: drive Z: is the POSIX root.
    std::string dos() const { return dos_path(path_); }

    static std::string dos_path(const std::string& posix) {
        std::string dos = "Z:";
        for (char c : posix) dos += c == '/' ? '\\' : c;
        return dos;
    }

private:
    std::string path_;
};

// The names in a folder, without "." and ".."; none when it cannot be read.
inline std::set<std::string> folder_entries(const std::string& folder) {
    std::set<std::string> names;
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return names;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    closedir(listing);
    return names;
}

// Sets (or with nullopt unsets) an environment variable until destroyed.
class scoped_environment {
public:
    scoped_environment(const std::string& name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name.c_str())) old_ = old;
        apply(value);
    }
    ~scoped_environment() { apply(old_); }
    scoped_environment(const scoped_environment&) = delete;
    scoped_environment& operator=(const scoped_environment&) = delete;

private:
    void apply(const std::optional<std::string>& value) {
        if (value)
            setenv(name_.c_str(), value->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

    std::string name_;
    std::optional<std::string> old_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// What body writes to standard error, caught at its file descriptor.
template <class Body>
std::string standard_error_of(Body body) {
    const test_folder folder;
    const std::string file = folder / "stderr";
    const int capture = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture, STDERR_FILENO);
    body();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(capture);
    return read_file(file);
}

}  // namespace qv_test
