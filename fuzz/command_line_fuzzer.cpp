// The composition of the installer's command line on arbitrary command
// lines and archive values: split, merge, installer log, expansion of %name%
// references and the installer's file, in the run's order over a value
// table of its own.
//
// The input is fields separated by zero bytes (a command line has none):
// the package's command line, then the archive's "parameters", "msilog" and
// "executable32", then any number of "name=text" values. A missing field is
// a value the archive does not carry.
//
// Properties checked beyond the sanitizers: every step returns, the
// expansion of values that refer to each other stays bounded, and text
// without any reference comes back unchanged.

#include "archive/parameters.h"
#include "archive/references.h"
#include "fuzz/fuzz_support.h"

#include <cstdint>
#include <map>
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
    if (expanded.size() > text.size() + archive::max_expansion_size)
        fuzz::fail("expansion beyond its bound:", std::to_string(expanded.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> fields = fields_of(data, size);
    const std::string working_folder = "C:\\Users\\u\\AppData\\Local\\Temp\\QV1765432100\\";
    std::map<std::string, std::string> table;
    table["source"] = working_folder.substr(0, working_folder.size() - 1);
    const archive::command_line_parts parts = archive::split_v_option(fields[0]);
    table["commandline"] = parts.rest;

    // What the archive reader enters, first come first served.
    const char* const named[] = {"parameters", "msilog", "executable32"};
    for (size_t i = 1; i < fields.size(); ++i) {
        if (i <= 3) {
            table.emplace(named[i - 1], fields[i]);
            continue;
        }
        const size_t equals = fields[i].find('=');
        if (equals != std::string::npos) table.emplace(fields[i].substr(0, equals), fields[i].substr(equals + 1));
    }

    table["parameters"] = archive::merge_v_option(table["commandline"], table["parameters"], parts.v_option);
    if (table["msilog"] == "ON")
        table["parameters"] = archive::add_log_option(table["parameters"], "C:\\Users\\u\\AppData\\Local\\Temp\\QVPRO_msi.log.txt");
    const std::string parameters = table["parameters"];
    check_bounded(archive::expand_references(parameters, table), parameters);
    const std::string file = working_folder + archive::expand_references(table["executable32"], table);
    check_bounded(file, working_folder + table["executable32"]);

    if (fields[0].find('%') == std::string::npos && archive::expand_references(fields[0], table) != fields[0])
        fuzz::fail("text without references changed");
    return 0;
}
