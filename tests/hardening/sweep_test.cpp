// Every byte of a small package changed, one at a time. A byte of a record
// that the reader verifies (the stub group's kind and name, every later
// group and the tail record) must make the archive invalid: the launcher
// exits 1 with "Invalid Archive!" and never starts the installer. A byte the
// reader never verifies (the stub group's data and file name, the bytes
// behind the tail record) must change nothing. No change may crash the
// launcher, hang it or make it write outside its working folder.
//
// The reader runs in-process first, with several changes per byte of a
// package whose launcher image is a few bytes; then the real launcher runs
// once per byte of the archive region behind its own image, in shards that
// ctest runs in parallel.

#include "archive/layout.h"
#include "archive/reader.h"
#include "tests/hardening/hardening.h"
#include "tests/support/extract_package.h"
#include "tests/support/package_writer.h"
#include "tests/support/test_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using hardening::invalid_archive;

// A package with one packed file, three values, and a certificate-like
// table behind the tail record; the byte ranges the reader verifies.
struct sweep_package {
    std::string path;
    uint64_t size = 0;
    uint64_t image_end = 0;      // end of the stub data's payload
    uint64_t verified_from = 0;  // start of the stub name record
    uint64_t verified_to = 0;    // end of the tail record

    bool verified(uint64_t offset) const { return offset >= verified_from && offset < verified_to; }
};

sweep_package write_package(const std::string& path, const std::string* image_path, const std::string& image,
                            const std::string& installer) {
    qv_test::package_writer writer(path);
    if (image_path != nullptr)
        writer.add_stub(*image_path, "Reader.exe");
    else
        writer.add_stub_data(image, "Reader.exe");
    writer.add_file_data("installer32", "setup.exe", installer);
    writer.add_value("executable32", "%installer32%");
    writer.add_value("parameters", "/V\"A=1 \"");
    writer.add_value("msilog", "ON");
    writer.add_tail();
    writer.align(8);
    writer.add_trailing("certificate table");
    writer.close();

    sweep_package package;
    package.path = path;
    package.size = writer.size();
    for (const archive::written_record& record : writer.records()) {
        const uint64_t end = record.offset + record.length + archive::trailer_size;
        if (record.role == archive::record_role::stub_data) package.image_end = record.offset + record.length;
        if (record.role == archive::record_role::stub_name) package.verified_from = record.offset;
        if (record.role == archive::record_role::tail) package.verified_to = end;
    }
    return package;
}

// The changes made to each byte: single bits low and high, all bits, zero.
std::vector<unsigned char> changes_of(unsigned char byte) {
    std::vector<unsigned char> changed = {static_cast<unsigned char>(byte ^ 0x01), static_cast<unsigned char>(byte ^ 0x80),
                                          static_cast<unsigned char>(byte ^ 0xFF)};
    if (byte != 0) changed.push_back(0);
    return changed;
}

void put_byte(const std::string& path, uint64_t offset, unsigned char byte) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, &byte, 1, off_t(offset)), 1);
    close(fd);
}

std::map<std::string, std::string> folder_contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : qv_test::folder_entries(folder)) contents[name] = qv_test::read_file(folder + "/" + name);
    return contents;
}

TEST(sweep, the_reader_in_process_on_every_change_of_every_byte) {
    qv_test::test_folder folder;
    const std::string image = "MZ" + std::string(40, '\x90');
    const sweep_package package = write_package(folder / "package.exe", nullptr, image, hardening::marking_installer);
    const std::string bytes = qv_test::read_file(package.path);
    const std::string working = folder / "work";
    std::filesystem::create_directory(working);

    struct outcome {
        bool valid;
        std::map<std::string, std::string> values;
        std::map<std::string, std::string> files;
        std::set<std::string> around;  // the test folder's entries
    };
    const auto read_package = [&] {
        std::map<std::string, std::string> values;
        archive::extraction run(values, qv_test::test_folder::dos_path(working) + "\\", true);
        qv_test::extract_package(qv_test::test_folder::dos_path(package.path), run);
        outcome result{run.archive_valid, values, folder_contents(working), qv_test::folder_entries(folder.path())};
        std::filesystem::remove_all(working);
        std::filesystem::create_directory(working);
        return result;
    };

    const outcome intact = read_package();
    ASSERT_TRUE(intact.valid);
    ASSERT_EQ(intact.files.size(), 1u);
    ASSERT_EQ(intact.values.size(), 4u);

    int failures = 0;
    for (uint64_t offset = 0; offset < package.size && failures < 10; ++offset) {
        const unsigned char original = static_cast<unsigned char>(bytes[offset]);
        for (unsigned char changed : changes_of(original)) {
            put_byte(package.path, offset, changed);
            const outcome damaged = read_package();
            put_byte(package.path, offset, original);
            const std::string where = "byte " + std::to_string(offset) + " changed to " + std::to_string(changed);
            const bool as_expected = package.verified(offset)
                                         ? !damaged.valid && damaged.around == intact.around
                                         : damaged.valid && damaged.values == intact.values &&
                                               damaged.files == intact.files && damaged.around == intact.around;
            if (!as_expected) {
                ADD_FAILURE() << where << (package.verified(offset) ? " (verified)" : " (never verified)")
                              << ": valid=" << damaged.valid << ", " << damaged.files.size() << " files, "
                              << damaged.around.size() << " entries beside the working folder";
                ++failures;
            }
        }
    }
}

// The real launcher, once per byte of the archive region behind its image.
class launcher_sweep : public testing::TestWithParam<int> {
protected:
    static const int shards = 8;
    e2e::sandbox box;
};

TEST_P(launcher_sweep, on_every_byte_of_the_archive_region) {
    const std::string image = e2e::launcher_path();
    const sweep_package package =
        write_package(box.path("package.exe"), &image, std::string(), hardening::marking_installer);
    chmod(package.path.c_str(), 0755);
    const std::string bytes = qv_test::read_file(package.path);
    ASSERT_LT(package.size - package.image_end, 1000u) << "the archive region should stay small";

    const auto run = [&](const std::string& where) {
        e2e::running_package started = box.start(package.path);
        const e2e::run_result result = started.finish(20);
        std::vector<std::string> problems;
        if (result.signal != 0) problems.push_back("ended by signal " + std::to_string(result.signal));
        const std::vector<std::string> stray = hardening::stray_writes(box, result);
        if (!stray.empty()) problems.push_back("left " + hardening::describe(stray));
        std::filesystem::remove_all(result.tmpdir);
        for (const std::string& problem : problems) ADD_FAILURE() << where << ": " << problem;
        return result;
    };

    const e2e::run_result intact = run("intact package");
    ASSERT_EQ(intact.exit_code, 0) << intact.standard_error;
    ASSERT_TRUE(intact.record());
    ASSERT_TRUE(intact.boxes.empty()) << intact.standard_error;

    int failures = 0;
    for (uint64_t offset = package.image_end + GetParam(); offset < package.size && failures < 10;
         offset += shards) {
        const unsigned char original = static_cast<unsigned char>(bytes[offset]);
        put_byte(package.path, offset, static_cast<unsigned char>(original ^ 0xFF));
        const std::string where = "byte " + std::to_string(offset);
        const e2e::run_result result = run(where);
        put_byte(package.path, offset, original);
        if (package.verified(offset)) {
            const bool rejected = result.exit_code == 1 && !result.record() && !result.boxes.empty() &&
                                  result.boxes.back() == invalid_archive;
            if (!rejected) {
                ADD_FAILURE() << where << " (verified): exit " << result.exit_code << ", installer "
                              << (result.record() ? "started" : "not started") << ", " << result.standard_error;
                ++failures;
            }
        } else if (result.exit_code != 0 || !result.record() || !result.boxes.empty()) {
            ADD_FAILURE() << where << " (never verified): exit " << result.exit_code << ", " << result.standard_error;
            ++failures;
        }
        std::remove(result.record_path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(shard, launcher_sweep, testing::Range(0, 8));

}  // namespace
