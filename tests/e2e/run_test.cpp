// The launcher run end to end: command lines reaching the installer, exit
// codes, the silent switch, the working folder and its clean-up, and every
// way the run can fail.

#include "tests/e2e/e2e.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

using e2e::message_box;

const message_box spawn_failed{"ShellExecuteEx failed", "Unable to spawn process"};
const message_box temp_failed{"GetTempPath failed", "Unable to get Temporary Directory"};
const message_box folder_failed{"SetCurrentDirectory failed", "Unable to set Working Directory"};
const message_box out_of_memory{"std::bad_alloc", "Unhandled Exception"};
const message_box invalid_archive{"Invalid Archive!",
                                  "We are sorry, but your installation / update did not complete due to unexpected "
                                  "download errors.\r\nPlease download full version of the program"};

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

class run : public testing::Test {
protected:
    e2e::sandbox box;
};

TEST_F(run, worked_examples_reach_the_installer) {
    const std::string package = box.build_package(e2e::package_plan::example());
    struct {
        const char* command_line;
        const char* before_log;  // parameters up to the log option
        const char* after_log;
    } examples[] = {
        {"", " /V\"", "  PARTNERID=5 WEBINSTALLER=1 \""},
        {"/s /v\"FOO=1\"", "/s  /V\"", " FOO=1 PARTNERID=5 WEBINSTALLER=1 \""},
        {"/vFOO=1 /x", " /x /V\"", " FOO=1 PARTNERID=5 WEBINSTALLER=1 \""},
    };
    for (const auto& example : examples) {
        SCOPED_TRACE(example.command_line);
        const e2e::run_result result = box.run(package, {example.command_line});
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_TRUE(result.boxes.empty()) << result.standard_error;
        const auto record = result.record();
        ASSERT_TRUE(record);
        // setup.exe in a folder QV<seconds> of the temporary directory,
        // started in the temporary directory.
        const std::string working = folder_of(record->program);
        EXPECT_EQ(folder_of(working), result.tmpdir);
        EXPECT_EQ(working.substr(result.tmpdir.size() + 1, 2), "QV");
        EXPECT_EQ(record->program, working + "/setup.exe");
        EXPECT_EQ(record->cwd, result.tmpdir);
        const std::string log = e2e::dos_path(result.tmpdir) + "\\QVPRO_msi.log.txt";
        const std::string parameters =
            example.before_log + std::string("/l*v \\\"") + log + "\\\"" + example.after_log;
        EXPECT_EQ(record->command_line, "\"" + e2e::dos_path(working) + "\\setup.exe\" " + parameters);
        EXPECT_TRUE(result.working_folders().empty());
    }
    // The C runtime's rules give the installer its arguments.
    const e2e::run_result result = box.run(package);
    const std::string log = e2e::dos_path(result.tmpdir) + "\\QVPRO_msi.log.txt";
    EXPECT_EQ(result.record()->arguments,
              std::vector<std::string>{"/V/l*v \"" + log + "\"  PARTNERID=5 WEBINSTALLER=1 "});
}

TEST_F(run, the_installers_exit_code_is_the_launchers) {
    const std::string package = box.build_package(e2e::package_plan::example());
    for (int code : {0, 1, 3010, 255}) {
        e2e::run_options options;
        options.installer_exit_code = code;
        const e2e::run_result result = box.run(package, options);
        // POSIX keeps 8 bits of an exit code: 3010 arrives as 194.
        EXPECT_EQ(result.exit_code, e2e::installer_exit_status(code)) << code;
        EXPECT_TRUE(result.boxes.empty()) << result.standard_error;
        EXPECT_TRUE(result.record());
    }
}

// Started, a folder would open in a window on Windows, and the run would
// wait for it without end.
TEST_F(run, an_installer_path_that_names_a_folder_is_never_started) {
    for (const char* executable : {"", "%nothing%", ".", "..\\"}) {
        e2e::package_plan plan = e2e::package_plan::example();
        plan.values[0].second = executable;
        plan.values.push_back({"nothing", ""});
        const e2e::run_result result = box.run(box.build_package(plan), {""});
        EXPECT_EQ(result.exit_code, 1) << executable;
        EXPECT_EQ(result.boxes, std::vector<message_box>{spawn_failed}) << executable;
        EXPECT_FALSE(result.record()) << executable;
        EXPECT_TRUE(result.working_folders().empty()) << executable;
    }
}

TEST_F(run, silent_switch_anywhere_but_only_in_lower_case) {
    e2e::package_plan plan = e2e::package_plan::example();
    plan.values[0].second = "missing.exe";  // executable32 names no file
    const std::string package = box.build_package(plan);
    for (const char* shown : {"", "/S", "/V\"/S\""}) {
        const e2e::run_result result = box.run(package, {shown});
        EXPECT_EQ(result.exit_code, 1) << shown;
        EXPECT_EQ(result.boxes, std::vector<message_box>{spawn_failed}) << shown;
        EXPECT_TRUE(result.working_folders().empty()) << shown;
    }
    for (const char* silent : {"/s", "/v\"A=1 /s\"", "x/silent", "/s /S"}) {
        const e2e::run_result result = box.run(package, {silent});
        EXPECT_EQ(result.exit_code, 1) << silent;
        EXPECT_EQ(result.standard_error, "") << silent;
        EXPECT_TRUE(result.working_folders().empty()) << silent;
    }
}

TEST_F(run, without_a_temporary_directory_c_temp_is_used) {
    const std::string package = box.build_package(e2e::package_plan::example());
    std::string overlong = box.root();
    while (overlong.size() <= 260) overlong += "/" + std::string(50, 'x');
    e2e::run_options options;
    options.tmpdir = overlong;  // does not fit the 260-character buffer
    for (const char* command_line : {"", "/s"}) {
        options.command_line = command_line;
        const e2e::run_result result = box.run(package, options);
        EXPECT_EQ(result.exit_code, 0);
        if (options.command_line.empty()) {
            EXPECT_EQ(result.boxes, std::vector<message_box>{temp_failed});
        } else {
            EXPECT_EQ(result.standard_error, "");
        }
        const auto record = result.record();
        ASSERT_TRUE(record);
        const std::string temp = box.drive_c() + "/Temp";
        EXPECT_EQ(record->cwd, temp);
        EXPECT_EQ(folder_of(folder_of(record->program)), temp);
        EXPECT_NE(record->command_line.find("/l*v \\\"C:\\Temp\\QVPRO_msi.log.txt\\\""), std::string::npos);
        EXPECT_EQ(std::filesystem::directory_iterator(temp), std::filesystem::directory_iterator());
        // No log at all: never one by a relative name, in the current folder.
        EXPECT_FALSE(std::filesystem::exists(box.path("Reader.log.txt")));
    }
}

TEST_F(run, a_working_folder_that_cannot_be_made_current_ends_the_run) {
    const std::string package = box.build_package(e2e::package_plan::example());
    const std::string not_a_folder = box.path("file");
    std::ofstream(not_a_folder) << "x";
    e2e::run_options options;
    options.tmpdir = not_a_folder;
    options.environment["QV_DRIVE_C"] = std::nullopt;  // no C:\Temp to fall back on
    const e2e::run_result result = box.run(package, options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.boxes, std::vector<message_box>{folder_failed});
    EXPECT_FALSE(result.record());
}

TEST_F(run, an_invalid_archive_is_cleaned_up) {
    e2e::package_plan plan = e2e::package_plan::example();
    plan.damage_last_file_digest = true;
    const e2e::run_result damaged = box.run(box.build_package(plan));
    EXPECT_EQ(damaged.exit_code, 1);
    // The reader's own box, then the launcher's.
    EXPECT_EQ(damaged.boxes, (std::vector<message_box>{invalid_archive, invalid_archive}));
    EXPECT_FALSE(damaged.record());
    EXPECT_TRUE(damaged.working_folders().empty());
    EXPECT_EQ(box.run(box.build_package(plan, "silent.exe"), {"/s"}).standard_error, "");

    // The launcher alone carries no archive (the reader may find its own
    // marker text in the image and stop there silently).
    const e2e::run_result bare = box.run(e2e::launcher_path());
    EXPECT_EQ(bare.exit_code, 1);
    ASSERT_FALSE(bare.boxes.empty());
    EXPECT_EQ(bare.boxes.back(), invalid_archive);
    EXPECT_TRUE(bare.working_folders().empty());
}

TEST_F(run, clean_up_keeps_read_only_files_and_dot_folders) {
    const std::string package = box.build_package(e2e::package_plan::example());
    e2e::run_options options;
    options.environment["QV_TEST_LEAVE_BEHIND"] = "1";
    const e2e::run_result result = box.run(package, options);
    EXPECT_EQ(result.exit_code, 0);
    ASSERT_EQ(result.working_folders().size(), 1u);
    const std::string working = result.tmpdir + "/" + result.working_folders()[0];
    EXPECT_TRUE(exists(working + "/read-only.txt"));
    EXPECT_TRUE(exists(working + "/.cache/kept"));
    EXPECT_FALSE(exists(working + "/removed.txt"));
    EXPECT_FALSE(exists(working + "/sub"));
    EXPECT_FALSE(exists(working + "/setup.exe"));
}

TEST_F(run, an_exception_in_the_run_reaches_the_outer_handler) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be combined with the address sanitizer";
#endif
    // A data record whose length the process cannot allocate: the package
    // stays small on disk, its hole is sparse.
    e2e::package_plan plan = e2e::package_plan::example();
    plan.stored_data_length = 768u << 20;
    plan.hole = 800ull << 20;
    const std::string package = box.build_package(plan);
    e2e::run_options options;
    options.address_space_limit = 512ull << 20;
    const e2e::run_result result = box.run(package, options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.boxes, std::vector<message_box>{out_of_memory});
    EXPECT_FALSE(result.record());
    EXPECT_EQ(result.working_folders().size(), 1u);  // left as it was
}

}  // namespace
