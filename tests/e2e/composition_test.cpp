// Random package command lines and archive values run through the real
// launcher must give the installer exactly the path and parameters that a
// separate model of the composition rules computes, start nothing where
// the path names a folder or no file or a packed name is refused, and
// return the installer's exit code; natively, and for a sample under Wine.

#include "tests/e2e/e2e.h"

#include "tests/support/test_folder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// One random run: the archive's values and extra packed files, the
// package's command line and what the installer is told to exit with.
struct random_round {
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> extra_files;  // file names, packed after setup.exe: read first
    bool extra_files_plain = true;         // what Windows makes of their names
    std::string command_line;
    int exit_code = 0;
};

random_round make_round(std::mt19937& random) {
    const std::vector<std::string> pieces = {
        " ", "/", "/V", "/v", "/V\"", "/v\"", "\"", "/s", "/x", "a", "B=1", "=", "%", "%%", "%x%", "%y%",
        "%source%", "%msilog%", "%commandline%", "%parameters%", "%installer32%", "%none%", "\\", "/l*v", " /",
        "x", "y", "msilog", "\t", "\\\"", "%nothing%"};
    // Mostly the installer; else a path that names a folder or no file.
    const std::vector<std::string> started = {"%installer32%", "setup.exe", "%alias%"};
    const std::vector<std::string> not_started = {"", "%nothing%", ".", "..\\", "missing.exe", "%undefined%"};
    const std::vector<std::pair<std::string, bool>> names = {
        {"readme.txt", true}, {"a b.dat", true}, {"a?b", false}, {"a<b", false}, {"x.", false}, {"NUL", false}};
    random_round round;
    const auto maybe = [&](const std::string& name, const std::string& text) {
        if (random() % 4 != 0) round.values.push_back({name, text});
    };
    maybe("parameters", random_text(random, pieces, 6));
    maybe("msilog", random() % 2 ? "ON" : random() % 2 ? "on" : "ON ");
    maybe("x", random_text(random, pieces, 3));
    maybe("y", random_text(random, pieces, 3));
    maybe("source", "archive source");  // the launcher's own entry stays
    round.values.push_back({"alias", "%installer32%"});
    round.values.push_back({"nothing", ""});
    round.values.push_back({"executable32", random() % 4 != 0 ? started[random() % started.size()]
                                                              : not_started[random() % not_started.size()]});
    if (random() % 3 == 0) round.values.push_back({"x", "later %y%"});  // a repeated name
    if (random() % 4 == 0) {
        const auto& name = names[random() % names.size()];
        round.extra_files.push_back(name.first);
        round.extra_files_plain = name.second;
    }
    round.command_line = random_text(random, pieces, 8);
    const int codes[] = {0, 1, 7, 1603, 3010, 0x7ffffffe};
    round.exit_code = codes[random() % 6];
    return round;
}

e2e::package_plan plan_of(const random_round& round, const std::string& launcher, const std::string& installer) {
    e2e::package_plan plan;
    plan.launcher = launcher;
    plan.files.push_back({"installer32", "setup.exe", installer});
    for (const std::string& name : round.extra_files) plan.files.push_back({"", name, installer});
    plan.values = round.values;
    return plan;
}

// What the model says of a run: the installer's path and parameters, and
// whether it starts at all (the archive valid, the path the packed
// installer's and no folder).
struct expectation {
    bool started = false;
    std::string file;
    std::string parameters;
};

expectation expect(composition_model& model, const random_round& round, const std::string& working) {
    expectation expected;
    // WinMain gets the command line behind the program's name from the
    // first character above the blank on.
    size_t start = 0;
    while (start < round.command_line.size() && static_cast<unsigned char>(round.command_line[start]) <= ' ') ++start;
    model.compose(round.command_line.substr(start), round.values, working, expected.parameters, expected.file);
    expected.started = round.extra_files_plain && expected.file == working + "setup.exe";
    return expected;
}

// The fixed number (a seed, a count), or the one the environment names to
// look further.
unsigned number_from_environment(const char* name, unsigned fixed) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? unsigned(std::strtoul(text, nullptr, 10)) : fixed;
}

TEST(composition, random_command_lines_and_values_match_the_model) {
    std::mt19937 random(number_from_environment("QV_RANDOM_SEED", 20261208));
    e2e::sandbox box;
    composition_model model;
    for (int round_number = 0; round_number < 40; ++round_number) {
        const random_round round = make_round(random);
        SCOPED_TRACE("round " + std::to_string(round_number) + " command line [" + round.command_line + "]");
        e2e::run_options options(round.command_line);
        options.installer_exit_code = round.exit_code;
        const e2e::run_result result = box.run(
            box.build_package(plan_of(round, "", e2e::test_installer_path()), "p" + std::to_string(round_number)),
            options);
        EXPECT_TRUE(result.working_folders().empty());
        const auto record = result.record();
        // The working folder from where the installer ran, or the model's
        // path of a run that starts none.
        const std::string working =
            record ? e2e::dos_path(record->program.substr(0, record->program.rfind('/') + 1)) : "\\";
        const expectation expected = expect(model, round, working);
        ASSERT_EQ(bool(record), expected.started) << result.standard_error;
        if (!expected.started) {
            EXPECT_EQ(result.exit_code, 1);
            continue;
        }
        EXPECT_EQ(result.exit_code, round.exit_code & 0xFF);  // POSIX keeps 8 bits
        EXPECT_EQ(e2e::dos_path(record->program), expected.file);
        EXPECT_EQ(record->command_line, "\"" + expected.file + "\" " + expected.parameters);
    }
}

bool is_working_folder(const std::string& name) {
    return name.size() > 2 && name.compare(0, 2, "QV") == 0 && std::isdigit(static_cast<unsigned char>(name[2]));
}

// The Windows launcher under Wine on a fixed sample of such runs, each with
// a time limit, so that a hang is a failure. The Wine suite runs it
// (tests/wine/cases/random_runs.sh) and names its programs and Wine's
// temporary directory; elsewhere it is skipped.
TEST(composition, random_runs_of_the_windows_launcher_under_wine_match_the_model) {
    const char* runner = std::getenv("QV_WINE_RUNNER");
    const char* launcher = std::getenv("QV_WINE_LAUNCHER");
    const char* installer = std::getenv("QV_WINE_INSTALLER");
    const char* temp = std::getenv("QV_WINE_TEMP");
    if (runner == nullptr || launcher == nullptr || installer == nullptr || temp == nullptr)
        GTEST_SKIP() << "run by the Wine suite, which names the Windows programs";
    const int rounds = int(number_from_environment("QV_WINE_ROUNDS", 50));
    std::mt19937 random(number_from_environment("QV_RANDOM_SEED", 20261210));
    e2e::sandbox box;
    composition_model model;
    int mismatches = 0, hangs = 0;
    const auto failures = [] { return testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); };
    const auto started_at = std::chrono::steady_clock::now();
    for (int round_number = 0; round_number < rounds; ++round_number) {
        const random_round round = make_round(random);
        SCOPED_TRACE("round " + std::to_string(round_number) + " command line [" + round.command_line + "]");
        const int failures_before = failures();
        const std::string package =
            box.build_package(plan_of(round, launcher, installer), "w" + std::to_string(round_number) + ".exe");
        const std::string arguments = box.path("arguments"), result_file = box.path("result");
        e2e::run_result result;
        result.record_path = box.path("record");
        std::remove(result.record_path.c_str());
        std::remove(result_file.c_str());
        std::ofstream(arguments, std::ios::binary) << round.command_line;
        const std::set<std::string> before = qv_test::folder_entries(temp);
        const std::string command = "timeout 60 env QV_TEST_RECORD='" + e2e::dos_path(result.record_path) +
                                    "' QV_TEST_EXIT_CODE=" + std::to_string(round.exit_code) + " wine '" + runner +
                                    "' '" + e2e::dos_path(package) + "' '" + e2e::dos_path(arguments) + "' '" +
                                    e2e::dos_path(result_file) + "' >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        if (WIFEXITED(status) && WEXITSTATUS(status) == 124) {
            ++hangs;
            ADD_FAILURE() << "no end within 60 s: " << package;
            std::system("wineserver -k >/dev/null 2>&1");  // what the run left inside Wine
            continue;
        }
        std::ifstream reported(result_file);
        std::string line;
        long long exit_code = -1;
        while (std::getline(reported, line))
            if (line.rfind("exit=", 0) == 0) exit_code = std::stoll(line.substr(5));
        for (const std::string& name : qv_test::folder_entries(temp)) {
            EXPECT_FALSE(is_working_folder(name) && before.count(name) == 0) << "working folder left behind: " << name;
        }
        const auto record = result.record();
        const std::string working = record ? record->program.substr(0, record->program.rfind('\\') + 1) : "\\";
        const expectation expected = expect(model, round, working);
        EXPECT_EQ(bool(record), expected.started);
        if (record && expected.started) {
            EXPECT_EQ(exit_code, round.exit_code);
            EXPECT_EQ(record->command_line, "\"" + expected.file + "\" " + expected.parameters);
        } else {
            EXPECT_EQ(exit_code, 1);
        }
        if (failures() > failures_before) ++mismatches;
    }
    std::printf("wine differential: %d cases, %d mismatches, %d hangs, %.0f s\n", rounds, mismatches, hangs,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started_at).count());
}

}  // namespace
