// Shared by the archive tests: a temporary folder, packages built
// in-process, and the reader run with standard error captured.
#pragma once

#include "archive/reader.h"
#include "platform/posix/internal/dos_path.h"
#include "tests/support/extract_package.h"
#include "tests/support/package_writer.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(path("work").c_str(), 0755), 0);
        working_folder = qv_posix::to_dos_path(path("work")) + "\\";
    }
    // Back to the state of a fresh run, with an empty working folder.
    void reset() {
        std::filesystem::remove_all(path("work"));
        std::filesystem::create_directory(path("work"));
        working_folder = qv_posix::to_dos_path(path("work")) + "\\";
        value_table.clear();
        archive_valid = false;
        silent_mode = false;
    }

    std::string path(const std::string& name) const { return folder_ / name; }
    std::string work(const std::string& name) const { return folder_ / ("work/" + name); }
    std::string package() const { return path("package.exe"); }

    static std::string read_file(const std::string& name) { return qv_test::read_file(name); }
    static void write_file(const std::string& name, const std::string& content) { qv_test::write_file(name, content); }
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
        archive::extraction run(value_table, working_folder, silent_mode);
        const std::string output =
            qv_test::standard_error_of([&] { qv_test::extract_package(qv_posix::to_dos_path(package_path), run); });
        archive_valid = run.archive_valid;
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

    qv_test::test_folder folder_;
    // The run's side of the reader, as a fresh run has it.
    std::map<std::string, std::string> value_table;
    std::string working_folder;
    bool silent_mode = false;
    bool archive_valid = false;
};
