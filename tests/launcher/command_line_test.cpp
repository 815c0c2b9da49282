// Composition of the installer's command line.

#include "launcher/command_line.h"
#include "launcher/run_state.h"
#include "platform/win32.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

namespace {

using launcher::value_table;

class command_line : public testing::Test {
protected:
    void SetUp() override {
        value_table.clear();
        launcher::v_option_text.clear();
        launcher::working_folder = "C:\\Users\\u\\AppData\\Local\\Temp\\QV1765432100\\";
    }

    // The archive of the worked examples.
    void load_example_archive() {
        value_table["msilog"] = "ON";
        value_table["parameters"] = "/V\"PARTNERID=5 WEBINSTALLER=1 \"";
        value_table["executable32"] = "%installer32%";
        value_table["installer32"] = "setup.exe";
    }

    // Split, merge and installer log, as the run calls them.
    std::string compose(const std::string& package_command_line) {
        launcher::split_package_command_line(package_command_line);
        load_example_archive();
        launcher::merge_parameters();
        launcher::add_installer_log();
        return launcher::expand_value_references(value_table["parameters"]);
    }

    void expect_split(const std::string& command, const std::string& option, const std::string& rest) {
        launcher::split_package_command_line(command);
        EXPECT_EQ(launcher::v_option_text, option) << command;
        EXPECT_EQ(value_table["commandline"], rest) << command;
    }

    std::string merged(const std::string& parameters, const std::string& option, const std::string& rest) {
        value_table["parameters"] = parameters;
        value_table["commandline"] = rest;
        launcher::v_option_text = option;
        launcher::merge_parameters();
        return value_table["parameters"];
    }

    std::string with_log(const std::string& parameters) {
        value_table["msilog"] = "ON";
        value_table["parameters"] = parameters;
        launcher::add_installer_log();
        return value_table["parameters"];
    }
};

const std::string log_path = "C:\\Users\\u\\AppData\\Local\\Temp\\QVPRO_msi.log.txt";

TEST_F(command_line, worked_examples) {
    EXPECT_EQ(compose(""), " /V\"/l*v \\\"" + log_path + "\\\"  PARTNERID=5 WEBINSTALLER=1 \"");
    EXPECT_EQ(value_table["commandline"], "");
    EXPECT_EQ(launcher::installer_file(), launcher::working_folder + "setup.exe");

    EXPECT_EQ(compose("/s /v\"FOO=1\""),
              "/s  /V\"/l*v \\\"" + log_path + "\\\" FOO=1 PARTNERID=5 WEBINSTALLER=1 \"");
    EXPECT_EQ(value_table["commandline"], "/s ");

    value_table.clear();
    launcher::split_package_command_line("/vFOO=1 /x");
    load_example_archive();
    launcher::merge_parameters();
    EXPECT_EQ(launcher::v_option_text, "FOO=1");
    EXPECT_EQ(value_table["parameters"], " /x /V\"FOO=1 PARTNERID=5 WEBINSTALLER=1 \"");
}

TEST_F(command_line, split_takes_the_first_quoted_option_else_the_first_bare_one) {
    expect_split("", "", "");
    expect_split("/x /y", "", "/x /y");
    expect_split("a /v\"Keep Case\" b", "Keep Case", "a  b");
    expect_split("a /V\"unclosed text", "unclosed text", "a ");
    expect_split("/Vx /V\"y\" /Vz", "y", "/Vx  /Vz");
    expect_split("a /Vbare text /next", "bare text", "a  /next");
    expect_split("a /Vlast", "last", "a ");
    expect_split("/V\"\"", "", "");
    expect_split("inside/VWORD", "WORD", "inside");  // "/V" matches inside a word too
}

TEST_F(command_line, merge_puts_the_option_text_into_the_parameters) {
    // No "/V": appended directly, without a blank.
    EXPECT_EQ(merged("/q", "A=1", "/s"), "/s /q/V\"A=1\"");
    EXPECT_EQ(merged("", "", ""), " /V\"\"");
    // Quoted "/V": behind its quote, with a blank also for empty text.
    EXPECT_EQ(merged("x /V\"B=2\"", "A=1", ""), " x /V\"A=1 B=2\"");
    EXPECT_EQ(merged("/V\"B=2\"", "", "c"), "c /V\" B=2\"");
    // Bare "/V" only: at the fixed index 2, wherever "/V" is.
    EXPECT_EQ(merged("/VB", "A", ""), " /V\"A\"B");
    EXPECT_EQ(merged("ab /VB", "A", ""), " ab\"A\" /VB");
    // The searches are case-sensitive here.
    EXPECT_EQ(merged("/v\"B\"", "A", ""), " /v\"B\"/V\"A\"");
}

TEST_F(command_line, installer_log_goes_into_the_option_beside_the_working_folder) {
    EXPECT_EQ(with_log("/q"), "/q/V\"/l*v \\\"" + log_path + "\\\"\"");
    EXPECT_EQ(with_log("x /V\"A=1\""), "x /V\"/l*v \\\"" + log_path + "\\\" A=1\"");
    EXPECT_EQ(with_log("/VA ab"), "/V\"/l*v \\\"" + log_path + "\\\"\"A ab");
    // Without a quoted option, the merge's "/V\"\"" receives it.
    value_table["parameters"] = "/q";
    launcher::merge_parameters();
    launcher::add_installer_log();
    EXPECT_EQ(value_table["parameters"], " /q/V\"/l*v \\\"" + log_path + "\\\" \"");

    for (const char* not_on : {"on", "ON ", "", "1"}) {
        value_table["msilog"] = not_on;
        value_table["parameters"] = "/q";
        launcher::add_installer_log();
        EXPECT_EQ(value_table["parameters"], "/q") << '"' << not_on << '"';
    }
}

TEST_F(command_line, installer_log_clears_what_an_earlier_run_left) {
    qv_test::test_folder folder;
    launcher::working_folder = folder.dos() + "\\QV1\\";
    const std::string log = folder / "QVPRO_msi.log.txt";
    qv_test::write_file(log, "old");
    ASSERT_EQ(chmod(log.c_str(), 0444), 0);
    with_log("");
    struct stat info;
    ASSERT_EQ(stat(log.c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(value_table["parameters"], "/V\"/l*v \\\"" + folder.dos() + "\\QVPRO_msi.log.txt\\\"\"");
}

TEST_F(command_line, expansion_of_references) {
    value_table["a"] = "%b%x";
    value_table["b"] = "y";
    value_table["e"] = "";
    value_table["x"] = "1";
    using launcher::expand_value_references;
    EXPECT_EQ(expand_value_references("[%a%]"), "[yx]");
    EXPECT_EQ(expand_value_references("100% of %c%"), "100% of %c%");
    EXPECT_EQ(expand_value_references("%%b%%"), "%y%");
    EXPECT_EQ(expand_value_references("%b%%b%"), "yy");
    EXPECT_EQ(expand_value_references("%c%b%"), "%cy");  // an absent name's closing sign opens the next
    EXPECT_EQ(expand_value_references("%b"), "%b");
    EXPECT_EQ(expand_value_references("%%%"), "%%%");
    EXPECT_EQ(expand_value_references("%B%"), "%B%");
    EXPECT_EQ(expand_value_references("%%"), "%%");
    EXPECT_TRUE(value_table.find("c") == value_table.end());  // looked up without adding
    // Scanning resumes at the next sign behind the inserted text: neither
    // inserted nor following text is taken for a name.
    EXPECT_EQ(expand_value_references("%a%b%"), "yxb%");
    EXPECT_EQ(expand_value_references("%e%x%"), "x%");
    EXPECT_EQ(expand_value_references("%e%%x%"), "1");
}

TEST_F(command_line, values_that_refer_to_themselves_terminate) {
    value_table["self"] = "<%self%>";
    value_table["ping"] = "p%pong%";
    value_table["pong"] = "q%ping%";
    using launcher::expand_value_references;
    EXPECT_EQ(expand_value_references("%self%"), "<%self%>");
    EXPECT_EQ(expand_value_references("%ping%"), "pq%ping%");
    EXPECT_EQ(expand_value_references("%pong%%ping%"), "qp%pong%pq%ping%");
}

TEST_F(command_line, hostile_values_expand_within_bounds) {
    using launcher::expand_value_references;
    // Each level doubles: e40 would be 2^40 bytes from 2^40 expansions.
    value_table["e0"] = "x";
    for (int i = 1; i <= 40; ++i)
        value_table["e" + std::to_string(i)] = "%e" + std::to_string(i - 1) + "%%e" + std::to_string(i - 1) + "%";
    const std::string grown = expand_value_references("[%e40%]");
    EXPECT_LE(grown.size(), 2 + launcher::max_expansion_size);
    EXPECT_EQ(grown.find_first_not_of("x"), 0u);

    // A chain deeper than any stack: the references beyond the bound stay.
    const int depth = 200000;
    for (int i = 1; i <= depth; ++i) value_table["c" + std::to_string(i)] = "%c" + std::to_string(i - 1) + "%";
    EXPECT_EQ(expand_value_references("%c200000%"),
              "%c" + std::to_string(depth - int(launcher::max_expansion_depth)) + "%");

    // Many references cost linear time: in-place replacement would move
    // the text's tail for each of them (about 10^11 bytes here).
    value_table["b"] = "y";
    std::string many;
    for (int i = 0; i < 200000; ++i) many += "%b%";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(expand_value_references(many), std::string(200000, 'y'));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(command_line, source_and_installer_file) {
    launcher::enter_source_value();
    EXPECT_EQ(value_table["source"], "C:\\Users\\u\\AppData\\Local\\Temp\\QV1765432100");
    // No "executable32": the working folder itself.
    EXPECT_EQ(launcher::installer_file(), launcher::working_folder);
    value_table["executable32"] = "bin\\%source%.exe";
    EXPECT_EQ(launcher::installer_file(), launcher::working_folder + "bin\\" + value_table["source"] + ".exe");
}

}  // namespace
