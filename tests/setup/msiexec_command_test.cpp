// The bootstrapper's reading of what the launcher composes, on the
// composed forms of the worked examples.

#include "tools/setup/msiexec_command.h"

#include <gtest/gtest.h>

namespace {

const std::string log_option = "/l*v \\\"C:\\Users\\u\\AppData\\Local\\Temp\\QVPRO_msi.log.txt\\\"";
const std::string msiexec_log = "/l*v \"C:\\Users\\u\\AppData\\Local\\Temp\\QVPRO_msi.log.txt\"";
const std::string msi = "C:\\Users\\u\\AppData\\Local\\Temp\\QV1765432100\\product.msi";

std::string msiexec_for(const std::string& installer_command_line) {
    return setup::msiexec_parameters(setup::parse_arguments(setup::arguments_of(installer_command_line)), msi);
}

TEST(setup_command, worked_examples_become_msiexec_parameters) {
    const std::string program = "\"C:\\Users\\u\\AppData\\Local\\Temp\\QV1765432100\\setup.exe\" ";
    // 1: empty package command line, installer log.
    EXPECT_EQ(msiexec_for(program + " /V\"" + log_option + "  PARTNERID=5 WEBINSTALLER=1 \""),
              "/i \"" + msi + "\" " + msiexec_log + "  PARTNERID=5 WEBINSTALLER=1");
    // 2: /s /v"FOO=1", with the language an installed product recorded.
    EXPECT_EQ(msiexec_for(program + "/L1031 /s  /V\"" + log_option + " FOO=1 PARTNERID=5 WEBINSTALLER=1 \""),
              "/i \"" + msi + "\" /qn " + msiexec_log + " FOO=1 PARTNERID=5 WEBINSTALLER=1 INSTALLERLANGUAGE=1031");
    // 3: the bare form; /x is no option of the launcher's and is passed on.
    EXPECT_EQ(msiexec_for(program + " /x /V\"FOO=1 PARTNERID=5 WEBINSTALLER=1 \""),
              "/i \"" + msi + "\" /x FOO=1 PARTNERID=5 WEBINSTALLER=1");
}

TEST(setup_command, program_name_quoted_or_not) {
    EXPECT_EQ(setup::arguments_of("\"C:\\a b\\setup.exe\"  /s"), "/s");
    EXPECT_EQ(setup::arguments_of("setup.exe\t/L1031 /s"), "/L1031 /s");
    EXPECT_EQ(setup::arguments_of("\"C:\\a b\\setup.exe\""), "");
}

TEST(setup_command, options_in_any_order_and_form) {
    const setup::request request = setup::parse_arguments(
        "TARGETDIR=\"C:\\a b\" /vX=1 /L1049 /V\"P=\\\"q r\\\" PATH=C:\\Q\\\\\" /L1031 /Labc /v\"unclosed \\\"");
    EXPECT_EQ(request.language, "1049");  // the first /L<digits>; /Labc is msiexec's (a log option)
    EXPECT_EQ(request.passed_on, "TARGETDIR=\"C:\\a b\" /Labc");
    // Backslashes before a quote halve; an unclosed text runs to the end.
    EXPECT_EQ(request.msiexec_text, "X=1 P=\"q r\" PATH=C:\\Q\\ unclosed \"");
}

// Silent exactly when the launcher is: "/s" anywhere, case-sensitive.
TEST(setup_command, silent_by_the_launchers_rule) {
    for (const char* shown : {"", "/S", "/V\"/S\"", "TARGETDIR=C:\\s"})
        EXPECT_FALSE(setup::parse_arguments(shown).silent) << shown;
    for (const char* silent : {"/s", "/v\"A=1 /s\"", "x/silent", "/s /S", "/s/x"})
        EXPECT_TRUE(setup::parse_arguments(silent).silent) << silent;
    // Only the word "/s" is the launcher's own; the rest is msiexec's.
    EXPECT_EQ(setup::parse_arguments("/s /S x/silent").passed_on, "/S x/silent");
}

}  // namespace
