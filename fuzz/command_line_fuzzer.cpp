// The composition of the installer's command line on arbitrary command
// lines and archive values: split, merge, installer log, expansion of %name%
// references and the installer's file, as the run calls them.
//
// The input is fields separated by zero bytes (a command line has none):
// the package's command line, then the archive's "parameters", "msilog" and
// "executable32", then any number of "name=text" values. A missing field is
// a value the archive does not carry.
//
// Properties checked beyond the sanitizers: every step returns, the
// expansion of values that refer to each other stays bounded, and text
// without any reference comes back unchanged.

#include "fuzz/fuzz_support.h"
#include "launcher/command_line.h"
#include "launcher/run_state.h"
#include "tests/support/run_state_reset.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> fields_of(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    return fields;
}

void check_bounded(const std::string& expanded, const std::string& text) {
    if (expanded.size() > text.size() + launcher::max_expansion_size)
        fuzz::fail("expansion beyond its bound:", std::to_string(expanded.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> fields = fields_of(data, size);
    qv_test::reset_run_state();
    launcher::working_folder = "C:\\Users\\u\\AppData\\Local\\Temp\\QV1765432100\\";
    launcher::enter_source_value();
    launcher::split_package_command_line(fields[0]);

    // What the archive reader enters, first come first served.
    const char* const named[] = {"parameters", "msilog", "executable32"};
    for (size_t i = 1; i < fields.size(); ++i) {
        if (i <= 3) {
            launcher::value_table.emplace(named[i - 1], fields[i]);
            continue;
        }
        const size_t equals = fields[i].find('=');
        if (equals != std::string::npos)
            launcher::value_table.emplace(fields[i].substr(0, equals), fields[i].substr(equals + 1));
    }

    launcher::merge_parameters();
    launcher::add_installer_log();
    const std::string parameters = launcher::value_table["parameters"];
    check_bounded(launcher::expand_value_references(parameters), parameters);
    const std::string file = launcher::installer_file();
    check_bounded(file, launcher::working_folder + launcher::value_table["executable32"]);

    if (fields[0].find('%') == std::string::npos && launcher::expand_value_references(fields[0]) != fields[0])
        fuzz::fail("text without references changed");
    return 0;
}
