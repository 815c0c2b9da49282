// Packages whose records are intact but hostile: file names that try to
// leave the working folder, values that refer to each other without end,
// lengths that overflow the reader's arithmetic; and a huge command line.
// The real launcher must end by itself, never crash, and write nothing
// outside its working folder.

#include "tests/hardening/hardening.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using e2e::message_box;
using hardening::invalid_archive;

const message_box spawn_failed{"ShellExecuteEx failed", "Unable to spawn process"};

class hostile : public testing::Test {
protected:
    // Runs a package and checks what every hostile package must give: an
    // end of its own, no signal, nothing outside the working folder, which
    // is removed.
    e2e::run_result run(const std::string& package, const e2e::run_options& options = {}) {
        e2e::run_result result = box.start(package, options).finish(20);
        EXPECT_EQ(result.signal, 0) << package << " did not end by itself: " << result.standard_error;
        EXPECT_TRUE(hardening::stray_writes(box, result).empty())
            << package << " left " << hardening::describe(hardening::stray_writes(box, result));
        return result;
    }

    e2e::sandbox box;
};

TEST_F(hostile, file_names_that_leave_the_working_folder_are_refused) {
    const std::vector<std::string> names = {"..\\x", "../x", "..\\..\\fixture", "/etc/x", "C:\\x", "C:x",
                                            "a/b",   "a\\b", "..",             ".",      "NUL",   "x."};
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        // Read first, so the walk meets it before the installer.
        const std::string package = hardening::build_package(box, "package" + std::to_string(i), [&](auto& writer) {
            hardening::add_marking_installer(writer);
            writer.add_file_data("hostile", names[i], "written where it must not be");
        });
        const e2e::run_result result = run(package);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_FALSE(result.record());
        ASSERT_EQ(result.boxes.size(), 2u) << result.standard_error;
        EXPECT_EQ(result.boxes[0].caption, "Failed to extract file!");
        EXPECT_EQ(result.boxes[1], invalid_archive);
    }
}

TEST_F(hostile, values_that_refer_to_each_other_in_a_cycle_stay_unexpanded) {
    const std::string package = hardening::build_package(box, "package", [](auto& writer) {
        hardening::add_marking_installer(writer);
        writer.add_value("a", "<%b%>");
        writer.add_value("b", "%a%%self%");
        writer.add_value("self", "%self%");
        writer.add_value("parameters", "/V\"%a%\"");
    });
    const e2e::run_result result = run(package);
    EXPECT_EQ(result.exit_code, 0) << result.standard_error;
    EXPECT_TRUE(result.record());
}

TEST_F(hostile, values_whose_expansion_grows_exponentially_end_promptly) {
    // e26 would be 2^26 bytes, built by 2^26 expansions of e0.
    const std::string package = hardening::build_package(box, "package", [](auto& writer) {
        hardening::add_marking_installer(writer);
        writer.add_value("e0", "x");
        for (int i = 1; i <= 26; ++i) {
            const std::string previous = "%e" + std::to_string(i - 1) + "%";
            writer.add_value("e" + std::to_string(i), previous + previous);
        }
        writer.add_value("parameters", "/V\"%e26%\"");
    });
    const e2e::run_result result = run(package);
    // Whatever the bound leaves may be too long to start a program with.
    if (result.exit_code != 0) {
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.boxes, std::vector<message_box>{spawn_failed});
    }
}

TEST_F(hostile, lengths_that_overflow_the_distance_arithmetic_are_refused) {
    // The reader steps back over length + 4 bytes as one signed 32-bit
    // distance: these would wrap it, or point before the file's start.
    const unsigned lengths[] = {0x7FFFFFFCu, 0x7FFFFFFDu, 0x7FFFFFFFu, 0x80000000u,
                                0xFFFFFFECu, 0xFFFFFFFCu, 0xFFFFFFFFu};
    for (unsigned length : lengths) {
        SCOPED_TRACE(length);
        const std::string package = hardening::build_package(box, "package" + std::to_string(length), [&](auto& writer) {
            hardening::add_marking_installer(writer);
            qv_test::package_writer::record_damage damage;
            damage.length = length;
            writer.damage_next_record(damage);
            writer.add_record("/V\"A=1\"", archive::record_role::value_text);
            writer.add_record("parameters", archive::record_role::value_name);
            writer.add_record("value", archive::record_role::kind);
        });
        const e2e::run_result result = run(package);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_FALSE(result.record());
        ASSERT_FALSE(result.boxes.empty());
        EXPECT_EQ(result.boxes.back(), invalid_archive) << result.standard_error;
    }
}

TEST_F(hostile, a_command_line_of_100000_characters_reaches_the_installer) {
    const std::string package = box.build_package(e2e::package_plan::example());
    const std::string value = std::string(99976, 'q') + "%installer32%";
    const std::string command_line = "/v\"BIG=" + value + "\" /x";
    ASSERT_EQ(command_line.size(), 100000u);
    const e2e::run_result result = run(package, {command_line});
    EXPECT_EQ(result.exit_code, 0) << result.standard_error;
    const auto record = result.record();
    ASSERT_TRUE(record);
    EXPECT_NE(record->command_line.find(" /x /V\"/l*v "), std::string::npos);
    EXPECT_NE(record->command_line.find(" BIG=" + std::string(99976, 'q') + "setup.exe PARTNERID=5"),
              std::string::npos);
}

}  // namespace
