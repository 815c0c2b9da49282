// Faults of the machine around an intact package: a disk that fills up, a
// package file that cannot be read, a temporary directory that takes no
// folder, a launcher killed while its installer runs. The real launcher must
// end cleanly with 1 (or, when killed, leave only its working folder) and
// never start an installer from an incomplete extraction.

#include "tests/hardening/hardening.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using e2e::message_box;
using hardening::invalid_archive;

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

class faults : public testing::Test {
protected:
    e2e::run_result run(const std::string& package, const e2e::run_options& options = {}) {
        e2e::run_result result = box.start(package, options).finish(20);
        if (result.exit_code == 124 && options.without_file_override) return result;
        EXPECT_EQ(result.signal, 0) << result.standard_error;
        EXPECT_TRUE(hardening::stray_writes(box, result).empty())
            << "left " << hardening::describe(hardening::stray_writes(box, result));
        return result;
    }

    e2e::sandbox box;
};

#define SKIP_WITHOUT_PERMISSIONS(result)                                                             \
    if ((result).exit_code == 124) GTEST_SKIP() << "cannot give up root's file access override here"

TEST_F(faults, a_full_disk_while_a_packed_file_is_written_stops_before_the_installer) {
    // The big file lies behind the installer, so it is written first.
    const std::string package = hardening::build_package(box, "package.exe", [](auto& writer) {
        hardening::add_marking_installer(writer);
        writer.add_file_data("data", "data.bin", std::string(1 << 20, 'd'));
    });
    for (const char* command_line : {"", "/s"}) {
        SCOPED_TRACE(command_line);
        e2e::run_options options(command_line);
        options.file_size_limit = 256 << 10;
        const e2e::run_result result = run(package, options);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_FALSE(result.record());
        if (*command_line == '\0') {
            // This machine's fault, not a damaged download: no "Invalid Archive!".
            ASSERT_EQ(result.boxes.size(), 1u) << result.standard_error;
            EXPECT_EQ(result.boxes[0].caption, "Failed to extract file!");
            EXPECT_NE(result.boxes[0].text.find("\\data.bin\rError: "), std::string::npos) << result.boxes[0].text;
        } else {
            EXPECT_EQ(result.standard_error, "");
        }
    }
}

TEST_F(faults, an_unreadable_package_is_refused) {
    const std::string package = box.build_package(e2e::package_plan::example());
    chmod(package.c_str(), 0111);  // may be started, not read
    e2e::run_options options;
    options.without_file_override = true;
    const e2e::run_result result = run(package, options);
    SKIP_WITHOUT_PERMISSIONS(result);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_FALSE(result.record());
    ASSERT_EQ(result.boxes.size(), 2u) << result.standard_error;
    EXPECT_EQ(result.boxes[0].caption, "Failed to open archive!");
    EXPECT_EQ(result.boxes[0].text.find("File: " + e2e::dos_path(package) + "\rError: "), 0u) << result.boxes[0].text;
    EXPECT_EQ(result.boxes[1], invalid_archive);
}

TEST_F(faults, a_temporary_directory_that_takes_no_folder_falls_back) {
    const std::string package = box.build_package(e2e::package_plan::example());
    e2e::run_options options;
    options.tmpdir = box.fresh_folder("tmp");
    chmod(options.tmpdir.c_str(), 0555);
    options.without_file_override = true;
    // C:\Temp is made, as it would be on Windows: not a stray write here.
    const e2e::run_result to_c_temp = box.run(package, options);
    // An administrator's run (root's) takes the system's own first.
    std::filesystem::create_directories(box.drive_c() + "/Windows/Temp");
    const e2e::run_result to_system_temp = box.run(package, options);
    options.environment["QV_DRIVE_C"] = std::nullopt;
    const e2e::run_result ended = box.run(package, options);
    chmod(options.tmpdir.c_str(), 0755);
    SKIP_WITHOUT_PERMISSIONS(to_c_temp);
    for (const auto& [result, folder] : {std::pair{to_c_temp, "/Temp"}, std::pair{to_system_temp, "/Windows/Temp"}}) {
        EXPECT_EQ(result.exit_code, 0);
        ASSERT_TRUE(result.record());
        EXPECT_EQ(result.record()->cwd, box.drive_c() + (geteuid() == 0 ? folder : "/Temp"));
        EXPECT_TRUE(result.boxes.empty()) << result.standard_error;
    }
    // Without drive C: there is nowhere else to go.
    EXPECT_EQ(ended.exit_code, 1);
    EXPECT_FALSE(ended.record());
    const message_box folder_failed{"SetCurrentDirectory failed", "Unable to set Working Directory"};
    EXPECT_EQ(ended.boxes, std::vector<message_box>{folder_failed});
}

TEST_F(faults, a_log_on_a_full_or_read_only_location_leaves_the_run_as_it_was) {
    const std::string package = hardening::build_package(box, "package.exe", hardening::add_marking_installer);
    const auto expect_normal_run = [&](const e2e::run_options& options) {
        const e2e::run_result result = run(package, options);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_TRUE(result.boxes.empty()) << result.standard_error;
        EXPECT_TRUE(result.record());
        EXPECT_TRUE(result.working_folders().empty());
    };
    {
        SCOPED_TRACE("a full device");
        e2e::run_options options;
        options.tmpdir = box.fresh_folder("tmp");
        ASSERT_EQ(symlink("/dev/full", (options.tmpdir + "/Reader.log.txt").c_str()), 0);
        expect_normal_run(options);
    }
    {
        SCOPED_TRACE("a file at the size limit");
        e2e::run_options options;
        options.tmpdir = box.fresh_folder("tmp");
        const std::string log = options.tmpdir + "/Reader.log.txt";
        std::ofstream(log) << "\xEF\xBB\xBF" << std::string(64 << 10, 'l');
        options.file_size_limit = 64 << 10;
        expect_normal_run(options);
        EXPECT_EQ(qv_test::read_file(log).size(), 3u + (64 << 10));
    }
    {
        SCOPED_TRACE("a read-only file");
        e2e::run_options options;
        options.tmpdir = box.fresh_folder("tmp");
        const std::string log = options.tmpdir + "/Reader.log.txt";
        std::ofstream(log) << "kept";
        chmod(log.c_str(), 0444);
        expect_normal_run(options);
        EXPECT_EQ(qv_test::read_file(log), "kept");
    }
}

TEST_F(faults, a_package_path_too_long_for_the_buffer_still_reads_its_own_file) {
    // The launcher's own path is fetched into 260 characters. Cut to 259,
    // this one would name "impostor", a valid package of another publisher;
    // the launcher reads the file it runs from instead.
    const std::string prefix = e2e::dos_path(box.root()) + "\\fixture";
    const size_t cut = 259 - prefix.size();
    const std::string impostor = box.path("fixture" + std::string(cut, 'A'));
    const std::string folder = box.path("fixture" + std::string(cut + 5, 'A'));
    ASSERT_EQ((prefix + std::string(cut, 'A')).size(), 259u);
    mkdir(folder.c_str(), 0755);
    const std::string package = box.build_package(e2e::package_plan::example(), "package.exe");
    const std::string moved = folder + "/package.exe";
    ASSERT_EQ(rename(package.c_str(), moved.c_str()), 0);
    std::rename(hardening::build_package(box, "package-impostor.exe", hardening::add_marking_installer).c_str(),
                impostor.c_str());

    const e2e::run_result result = run(moved);
    EXPECT_EQ(result.exit_code, 0);
    ASSERT_TRUE(result.record());
    EXPECT_NE(result.record()->command_line.find("PARTNERID=5"), std::string::npos) << "the impostor's installer ran";
    EXPECT_TRUE(result.boxes.empty()) << result.standard_error;
}

TEST_F(faults, a_launcher_killed_while_its_installer_runs_leaves_only_its_working_folder) {
    const std::string package = box.build_package(e2e::package_plan::example());
    e2e::run_options first_options;
    first_options.release = box.path("release");
    e2e::running_package first = box.start(package, first_options);
    ASSERT_TRUE(e2e::eventually([&] { return exists(first.partial().record_path); }));
    first.kill_now();
    const std::string tmpdir = first.partial().tmpdir;
    const std::vector<std::string> stale = first.partial().working_folders();
    ASSERT_EQ(stale.size(), 1u);
    const std::string stale_folder = stale[0];

    // The next package, in the same temporary directory but another second.
    const std::time_t killed_at = std::time(nullptr);
    while (std::time(nullptr) == killed_at) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    e2e::run_options next_options;
    next_options.tmpdir = tmpdir;
    const e2e::run_result next = box.start(package, next_options).finish(20);
    EXPECT_EQ(next.exit_code, 0);
    EXPECT_TRUE(next.boxes.empty()) << next.standard_error;
    EXPECT_TRUE(next.record());

    // The stale folder is the only trace, as the killed run left it.
    EXPECT_EQ(next.working_folders(), std::vector<std::string>{stale_folder});
    EXPECT_EQ(hardening::stray_writes(box, next), std::vector<std::string>{"TMPDIR/" + stale_folder});
    EXPECT_TRUE(exists(tmpdir + "/" + stale_folder + "/setup.exe"));
    std::ofstream(*first_options.release) << "";  // the orphaned installer may end now
}

}  // namespace
