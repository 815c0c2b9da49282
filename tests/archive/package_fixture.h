// Shared by the archive tests: a temporary folder, packages built
// in-process, and the reader run with standard error captured.
#pragma once

#include "archive/reader.h"
#include "launcher/run_state.h"
#include "platform/posix/internal/dos_path.h"
#include "tests/support/package_writer.h"
#include "tests/support/run_state_reset.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/archive_test.XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
        ASSERT_EQ(mkdir((dir_ + "/work").c_str(), 0755), 0);
        launcher::working_folder = qv_posix::to_dos_path(dir_ + "/work") + "\\";
        launcher::value_table.clear();
        launcher::archive_valid = false;
        launcher::silent_mode = false;
    }
    // Back to the state of a fresh run, with an empty working folder.
    void reset() {
        std::system(("rm -rf '" + dir_ + "/work' && mkdir '" + dir_ + "/work'").c_str());
        launcher::working_folder = qv_posix::to_dos_path(dir_ + "/work") + "\\";
        launcher::value_table.clear();
        launcher::archive_valid = false;
        launcher::silent_mode = false;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string work(const std::string& name) const { return dir_ + "/work/" + name; }
    std::string package() const { return path("package.exe"); }

    static std::string read_file(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static void write_file(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    static bool exists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }

    // A small launcher image.
    static std::string image() { return "MZ" + std::string(998, '\x90'); }

    // Stub group, the groups added by body, the tail record, trailing bytes.
    std::vector<archive::written_record> build(const std::function<void(qv_test::package_writer&)>& body,
                                               const std::string& trailing = std::string()) {
        qv_test::package_writer writer(package());
        writer.add_stub_data(image(), "Reader.exe");
        body(writer);
        writer.add_tail();
        writer.add_trailing(trailing);
        writer.close();
        return writer.records();
    }

    void change_byte(uint64_t offset) {
        std::string bytes = read_file(package());
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
        write_file(package(), bytes);
    }

    // Runs the reader on a package; returns what it wrote to standard error.
    std::string extract(const std::string& package_path) {
        char name[] = "/tmp/archive_test_stderr.XXXXXX";
        const int capture = mkstemp(name);
        unlink(name);
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        dup2(capture, STDERR_FILENO);
        qv_test::extract_package(qv_posix::to_dos_path(package_path));
        dup2(saved, STDERR_FILENO);
        close(saved);
        std::string output(1 << 16, '\0');
        output.resize(size_t(pread(capture, &output[0], output.size(), 0)));
        close(capture);
        return output;
    }
    std::string extract() { return extract(package()); }

    // The line MessageBoxA writes for a box.
    static std::string box(const std::string& caption, const std::string& text) {
        const auto escape = [](const std::string& s) {
            std::string out;
            for (char c : s) {
                if (c == '\\') out += "\\\\";
                else if (c == '"') out += "\\\"";
                else if (c == '\r') out += "\\r";
                else if (c == '\n') out += "\\n";
                else if (c == '\t') out += "\\t";
                else if ((c >= 0 && c < 32) || c == 0x7f) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                    out += hex;
                } else out += c;
            }
            return out;
        };
        return "MessageBoxA caption=\"" + escape(caption) + "\" text=\"" + escape(text) + "\"\n";
    }
    static std::string invalid_archive_box() {
        return box("Invalid Archive!",
                   "We are sorry, but your installation / update did not complete due to unexpected download "
                   "errors.\r\nPlease download full version of the program");
    }

    std::string dir_;
};
