// Random package command lines and archive values run through the real
// launcher must give the installer exactly the path and parameters that a
// separate model of the composition rules computes.

#include "tests/e2e/e2e.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

namespace {

// The model. It works on the source text and builds its output piece by
// piece, where the launcher edits one buffer in place.
class composition_model {
public:
    std::map<std::string, std::string> table;

    // The installer's parameters and file for a package command line, given
    // the archive's values and the run's working folder (ends in "\").
    void compose(const std::string& command_line, const std::vector<std::pair<std::string, std::string>>& archive,
                 const std::string& working_folder, std::string& parameters, std::string& file) {
        table.clear();
        table["source"] = working_folder.substr(0, working_folder.size() - 1);
        std::string option;
        table["commandline"] = split(command_line, option);
        // The reader walks backwards: of two equal names the later one wins,
        // and nothing replaces what is there.
        for (auto value = archive.rbegin(); value != archive.rend(); ++value) table.insert(*value);
        table.insert({"installer32", "setup.exe"});

        std::string merged = table["parameters"];
        const size_t quoted = merged.find("/V\"");
        if (merged.find("/V") == std::string::npos)
            merged = merged + "/V\"" + option + "\"";
        else if (quoted != std::string::npos)
            merged = merged.substr(0, quoted + 3) + option + " " + merged.substr(quoted + 3);
        else
            merged = merged.substr(0, 2) + "\"" + option + "\"" + merged.substr(2);
        table["parameters"] = table["commandline"] + " " + merged;

        if (table["msilog"] == "ON") {
            const std::string folder = working_folder.substr(0, working_folder.size() - 1);
            const std::string log = folder.substr(0, folder.rfind('\\')) + "\\QVPRO_msi.log.txt";
            std::string& with_log = table["parameters"];
            const size_t at = with_log.find("/V\"");
            if (with_log.find("/V") == std::string::npos)
                with_log += "/V\"/l*v \\\"" + log + "\\\"\"";
            else if (at != std::string::npos)
                with_log.insert(at + 3, "/l*v \\\"" + log + "\\\" ");
            else
                with_log.insert(2, "\"/l*v \\\"" + log + "\\\"\"");
        }
        std::vector<std::string> active;
        parameters = expand(table["parameters"], active);
        file = working_folder + expand(table["executable32"], active);
    }

private:
    static std::string split(const std::string& command_line, std::string& option) {
        std::string upper = command_line;
        for (char& c : upper)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        const size_t bare = upper.find("/V");
        const size_t quoted = upper.find("/V\"");
        option.clear();
        if (bare == std::string::npos) return command_line;
        if (quoted != std::string::npos) {
            const size_t close = upper.find('"', quoted + 3);
            if (close == std::string::npos) {
                option = command_line.substr(quoted + 3);
                return command_line.substr(0, quoted);
            }
            option = command_line.substr(quoted + 3, close - quoted - 3);
            return command_line.substr(0, quoted) + command_line.substr(close + 1);
        }
        const size_t next = std::min(upper.find(" /", bare), upper.size());
        option = command_line.substr(bare + 2, next - bare - 2);
        return command_line.substr(0, bare) + command_line.substr(next);
    }

    std::string expand(const std::string& text, std::vector<std::string>& active) {
        std::string out;
        size_t at = 0;
        for (;;) {
            const size_t open = text.find('%', at);
            size_t begin = open;
            while (begin != std::string::npos && begin < text.size() && text[begin] == '%') ++begin;
            const size_t close = begin == std::string::npos || begin >= text.size() ? std::string::npos
                                                                                   : text.find('%', begin);
            if (close == std::string::npos) return out + text.substr(at);
            const std::string name = text.substr(begin, close - begin);
            const auto value = table.find(name);
            if (value == table.end() || std::find(active.begin(), active.end(), name) != active.end()) {
                out += text.substr(at, close - at);
                at = close;
                continue;
            }
            out += text.substr(at, begin - 1 - at);
            active.push_back(name);
            out += expand(value->second, active);
            active.pop_back();
            at = close + 1;
        }
    }
};

std::string random_text(std::mt19937& random, const std::vector<std::string>& pieces, int most) {
    std::string text;
    const int count = std::uniform_int_distribution<int>(0, most)(random);
    for (int i = 0; i < count; ++i) text += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(random)];
    return text;
}

TEST(composition, random_command_lines_and_values_match_the_model) {
    const std::vector<std::string> pieces = {
        " ", "/", "/V", "/v", "/V\"", "/v\"", "\"", "/s", "/x", "a", "B=1", "=", "%", "%%", "%x%", "%y%",
        "%source%", "%msilog%", "%commandline%", "%parameters%", "%installer32%", "%none%", "\\", "/l*v", " /",
        "x", "y", "msilog"};
    const std::vector<std::string> executables = {"%installer32%", "setup.exe", "%alias%"};
    std::mt19937 random(20261208);
    e2e::sandbox box;
    composition_model model;
    for (int round = 0; round < 40; ++round) {
        std::vector<std::pair<std::string, std::string>> values;
        const auto maybe = [&](const std::string& name, const std::string& text) {
            if (random() % 4 != 0) values.push_back({name, text});
        };
        maybe("parameters", random_text(random, pieces, 6));
        maybe("msilog", random() % 2 ? "ON" : random() % 2 ? "on" : "ON ");
        maybe("x", random_text(random, pieces, 3));
        maybe("y", random_text(random, pieces, 3));
        maybe("source", "archive source");  // the launcher's own entry stays
        values.push_back({"alias", "%installer32%"});
        values.push_back({"executable32", executables[random() % executables.size()]});
        if (random() % 3 == 0) values.push_back({"x", "later %y%"});  // a repeated name

        e2e::package_plan plan;
        plan.files.push_back({"installer32", "setup.exe", e2e::test_installer_path()});
        plan.values = values;
        const std::string command_line = random_text(random, pieces, 8);
        SCOPED_TRACE("round " + std::to_string(round) + " command line [" + command_line + "]");
        const e2e::run_result result = box.run(box.build_package(plan, "p" + std::to_string(round)), {command_line});
        ASSERT_EQ(result.exit_code, 0) << result.standard_error;
        const auto record = result.record();
        ASSERT_TRUE(record);

        const std::string working = e2e::dos_path(record->program.substr(0, record->program.rfind('/') + 1));
        std::string parameters;
        std::string file;
        model.compose(command_line, values, working, parameters, file);
        EXPECT_EQ(e2e::dos_path(record->program), file);
        EXPECT_EQ(record->command_line, "\"" + file + "\" " + parameters);
    }
}

}  // namespace
