// The run's log: the five launch lines of a successful run, appended across
// runs to "Reader.log.txt" in the temporary directory, none from runs that
// end early, and a run that goes on when its log cannot be opened.

#include "tests/e2e/e2e.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>

namespace {

const std::string bom = "\xEF\xBB\xBF";

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The texts of a log that starts with one byte order mark and holds only
// whole level-1 lines; fails the test otherwise.
std::vector<std::string> log_texts(const std::string& path) {
    std::vector<std::string> texts;
    std::string content = read_all(path);
    EXPECT_EQ(content.compare(0, 3, bom), 0) << "no byte order mark in " << path;
    if (content.compare(0, 3, bom) != 0) return texts;
    content.erase(0, 3);
    const std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d    ([^\r\n]*)\r\n)");
    size_t consumed = 0;
    for (auto it = std::sregex_iterator(content.begin(), content.end(), line); it != std::sregex_iterator(); ++it) {
        if (static_cast<size_t>(it->position()) != consumed) break;
        texts.push_back((*it)[1]);
        consumed += static_cast<size_t>(it->length());
    }
    EXPECT_EQ(consumed, content.size()) << "not a log of whole level-1 lines:\n" << content;
    return texts;
}

class run_log : public testing::Test {
protected:
    e2e::sandbox box;
    std::string package = box.build_package(e2e::package_plan::example());
};

TEST_F(run_log, a_successful_run_appends_the_five_launch_lines) {
    e2e::run_options options;
    options.tmpdir = box.fresh_folder("tmp");
    const std::string log = options.tmpdir + "/Reader.log.txt";
    std::vector<std::string> expected;
    for (int run = 0; run < 2; ++run) {
        options.command_line = run == 0 ? "" : "/s /vFOO=1";
        const e2e::run_result result = box.run(package, options);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_TRUE(result.boxes.empty()) << result.standard_error;
        const auto record = result.record();
        ASSERT_TRUE(record);
        const std::string file = e2e::dos_path(record->program);
        // The installer's command line is its quoted path, a blank and the
        // parameters.
        const std::string quoted = "\"" + file + "\" ";
        ASSERT_EQ(record->command_line.compare(0, quoted.size(), quoted), 0) << record->command_line;
        const std::string parameters = record->command_line.substr(quoted.size());
        expected.insert(expected.end(), {"", "Quorvane", "File: " + file, "Parameters: " + parameters, ""});
        // The second run finds the first run's lines and adds no second mark.
        EXPECT_EQ(log_texts(log), expected);
    }
}

TEST_F(run_log, runs_that_end_early_write_no_line) {
    // Invalid archive.
    e2e::package_plan damaged = e2e::package_plan::example();
    damaged.damage_last_file_digest = true;
    const e2e::run_result invalid = box.run(box.build_package(damaged, "damaged.exe"), {"/s"});
    EXPECT_EQ(invalid.exit_code, 1);
    EXPECT_EQ(read_all(invalid.tmpdir + "/Reader.log.txt"), bom);

    // No working folder can be made: the temporary directory takes none,
    // and there is no drive C: to fall back on.
    e2e::run_options blocked;
    blocked.command_line = "/s";
    blocked.tmpdir = box.fresh_folder("blocked");
    blocked.environment["QV_DRIVE_C"] = std::nullopt;
    blocked.without_file_override = true;
    std::ofstream(blocked.tmpdir + "/Reader.log.txt") << "";
    chmod(blocked.tmpdir.c_str(), 0555);
    const e2e::run_result unusable = box.run(package, blocked);
    chmod(blocked.tmpdir.c_str(), 0755);
    if (unusable.exit_code != 124) {  // 124: root's file access override cannot be given up here
        EXPECT_EQ(unusable.exit_code, 1);
        EXPECT_FALSE(unusable.record());
        EXPECT_EQ(read_all(blocked.tmpdir + "/Reader.log.txt"), bom);
    }

    // Already running: the second package shares the first one's log.
    e2e::run_options first_options;
    first_options.tmpdir = box.fresh_folder("shared");
    first_options.release = box.path("release");
    e2e::running_package first = box.start(package, first_options);
    ASSERT_TRUE(e2e::eventually([&] { return exists(first.partial().record_path); }));
    const std::string log = first_options.tmpdir + "/Reader.log.txt";
    const std::string before = read_all(log);
    e2e::run_options second_options;
    second_options.tmpdir = first_options.tmpdir;
    second_options.command_line = "/s";
    EXPECT_EQ(box.run(package, second_options).exit_code, 1);
    EXPECT_EQ(read_all(log), before);
    std::ofstream(*first_options.release) << "";
    EXPECT_EQ(first.finish().exit_code, 0);
    EXPECT_EQ(log_texts(log).size(), 5u);
}

TEST_F(run_log, a_log_that_cannot_be_opened_is_left_out_silently) {
    e2e::run_options options;
    options.tmpdir = box.fresh_folder("tmp");
    ASSERT_EQ(mkdir((options.tmpdir + "/Reader.log.txt").c_str(), 0755), 0);
    const e2e::run_result result = box.run(package, options);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_TRUE(result.record());
    EXPECT_TRUE(result.working_folders().empty());
}

}  // namespace
