// The installer's language end to end: the registry an installed product
// left, the system language and the command line decide the "/L" option in
// front of the installer's parameters, as the installer receives them and as
// the run log's "Parameters:" line shows them.

#include "tests/e2e/e2e.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>

namespace {

std::string fixture(const std::string& name) { return QV_REGISTRY_FIXTURES "/" + name + ".reg"; }

class language : public testing::Test {
protected:
    // The installer's parameters for a run with that registry and locale.
    std::string parameters(const std::string& hive, const std::string& locale, const std::string& command_line = "",
                           const std::map<std::string, std::optional<std::string>>& more = {}) {
        e2e::run_options options(command_line);
        options.tmpdir = tmpdir;  // one for all runs, so the installer-log path is the same
        options.environment = more;
        options.environment["QV_REGISTRY"] = hive;
        options.environment["LC_ALL"] = std::nullopt;
        options.environment["LANG"] = locale;
        const e2e::run_result result = box.run(package, options);
        EXPECT_EQ(result.exit_code, 0) << result.standard_error;
        EXPECT_TRUE(result.boxes.empty()) << result.standard_error;
        const auto record = result.record();
        if (!record) {
            ADD_FAILURE() << "the installer did not run";
            return std::string();
        }
        const std::string program = "\"" + e2e::dos_path(record->program) + "\" ";
        EXPECT_EQ(record->command_line.compare(0, program.size(), program), 0) << record->command_line;
        const std::string received = record->command_line.substr(program.size());
        EXPECT_EQ(last_logged_parameters(), received);
        return received;
    }

    // The text of the last "Parameters: " line of the run log.
    std::string last_logged_parameters() const {
        std::ifstream file(tmpdir + "/Reader.log.txt", std::ios::binary);
        const std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const size_t at = log.rfind("Parameters: ");
        if (at == std::string::npos) return "(no Parameters line)";
        const size_t begin = at + std::strlen("Parameters: ");
        return log.substr(begin, log.find("\r\n", begin) - begin);
    }

    e2e::sandbox box;
    const std::string package = box.build_package(e2e::package_plan::example());
    const std::string tmpdir = box.fresh_folder("tmp");
};

TEST_F(language, each_recorded_language_reaches_the_installer) {
    const std::string plain = parameters(box.path("no-such-hive.reg"), "en_US.UTF-8");
    ASSERT_EQ(plain.find("/L"), std::string::npos) << plain;
    const struct {
        const char* hive;
        const char* locale;
        const char* prefix;
    } cases[] = {
        {"language_not_installed", "en_GB.UTF-8", ""},
        {"language_1031", "en_US.UTF-8", "/L1031 "},
        {"language_1033", "en_US.UTF-8", "/L1033 "},
        {"language_1033", "en_GB.UTF-8", "/L2057 "},
        {"language_1033_unmarked", "en_GB.UTF-8", "/L2057 "},
        {"language_1033_american", "en_GB.UTF-8", "/L1033 "},
        {"language_1033_american", "en_US.UTF-8", "/L1033 "},
        {"language_name_german", "en_US.UTF-8", "/L1031 "},
        {"language_name_unknown", "de_DE.UTF-8", "/L1033 "},
        {"language_both", "en_US.UTF-8", "/L1036 "},
        {"language_empty_identifier", "en_US.UTF-8", "/L1036 "},
        {"language_abc", "en_US.UTF-8", "/Labc "},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.hive) + " under " + entry.locale);
        EXPECT_EQ(parameters(fixture(entry.hive), entry.locale), entry.prefix + plain);
    }
}

TEST_F(language, an_option_on_the_command_line_wins) {
    const std::string plain = parameters(box.path("no-such-hive.reg"), "en_US.UTF-8", "/L1049");
    ASSERT_NE(plain.find("/L1049"), std::string::npos) << plain;
    EXPECT_EQ(parameters(fixture("language_1031"), "en_US.UTF-8", "/L1049"), plain);
    EXPECT_EQ(parameters(fixture("language_name_german"), "en_US.UTF-8", "/L1049"), plain);
    // The installer-log option is lower case and does not count.
    const std::string with_log = parameters(box.path("no-such-hive.reg"), "en_US.UTF-8", "/l*v x");
    EXPECT_EQ(parameters(fixture("language_1031"), "en_US.UTF-8", "/l*v x"), "/L1031 " + with_log);
}

// A small model of the language step, and random registries, locales and
// command lines to compare it with.

enum class stored { absent, text, expandable, number, not_ansi };

struct stored_value {
    stored how = stored::absent;
    std::string text;
};

const char* const product_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// What a read of the value gives, or nothing when the read fails.
std::optional<std::string> read(const stored_value& value, const std::string& variable_text) {
    switch (value.how) {
        case stored::text: return value.text;
        case stored::expandable: return variable_text;
        default: return std::nullopt;
    }
}

std::string identifier_of(const std::string& name) {
    static const std::map<std::string, std::string> table = {
        {"Bulgarian", "1026"}, {"Chinese (Taiwan)", "1028"}, {"Czech", "1029"}, {"Danish", "1030"},
        {"German", "1031"}, {"Greek", "1032"}, {"English", "1033"}, {"Spanish", "1034"}, {"Finnish", "1035"},
        {"French", "1036"}, {"Hungarian", "1038"}, {"Italian", "1040"}, {"Japanese", "1041"}, {"Dutch", "1043"},
        {"Norwegian", "1044"}, {"Polish", "1045"}, {"Russian", "1049"}, {"Swedish", "1053"}, {"Thai", "1054"},
        {"Turkish", "1055"}, {"Vietnamese", "1066"}, {"Chinese (PRC)", "2052"}, {"Portugese (Portugal)", "2070"}};
    const auto found = table.find(name);
    return found != table.end() ? found->second : "1033";
}

std::string model(std::string parameters, bool installed, const std::map<std::string, stored_value>& values,
                  bool american_system, const std::string& variable_text) {
    if (!installed) return parameters;
    const auto value = [&](const char* name) {
        const auto found = values.find(name);
        return read(found != values.end() ? found->second : stored_value(), variable_text);
    };
    if (std::optional<std::string> identifier = value("InstallerLanguage")) {
        const std::string marker = value("en_US_UK").value_or("");
        if (marker.empty() && *identifier == "1033" && !american_system) identifier = "2057";
        if (!identifier->empty() && parameters.find("/L") == std::string::npos)
            parameters = "/L" + *identifier + " " + parameters;
    }
    const std::optional<std::string> name = value("InstallLang");
    if (name && !name->empty() && parameters.find("/L") == std::string::npos)
        parameters = "/L" + identifier_of(*name) + " " + parameters;
    return parameters;
}

// The hive as regedit exports it: UTF-16LE with a byte order mark.
void write_hive(const std::string& path, const std::wstring& text) {
    std::string bytes = "\xff\xfe";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xff);
        bytes += static_cast<char>((c >> 8) & 0xff);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring hex_of(const std::wstring& text) {
    std::wstring out;
    char byte[4];
    for (wchar_t c : text + L'\0') {
        for (int shift : {0, 8}) {
            std::snprintf(byte, sizeof(byte), "%02x", (c >> shift) & 0xff);
            out += (out.empty() ? L"" : L",") + widen(byte);
        }
    }
    return out;
}

std::wstring reg_line(const std::string& name, const stored_value& value) {
    const std::wstring quoted = L"\"" + widen(name) + L"\"=";
    switch (value.how) {
        case stored::text: return quoted + L"\"" + widen(value.text) + L"\"\r\n";
        case stored::expandable: return quoted + L"hex(2):" + hex_of(L"%QV_LANGUAGE_TEXT%") + L"\r\n";
        case stored::number: return quoted + L"dword:00000407\r\n";
        case stored::not_ansi: return quoted + L"\"\u0394\u03b1\"\r\n";
        default: return std::wstring();
    }
}

TEST_F(language, random_registries_match_the_model) {
    const std::vector<std::string> texts = {"1031", "1033", "1033", "", "abc", "German", "English", "Klingon",
                                            "Portugese (Portugal)", "Portuguese (Portugal)", "german", "2052"};
    const std::vector<std::string> command_lines = {"", "/L1049", "/l*v x", "/s", "a/Lb", "/V\"/L3082\"", "/x"};
    const std::vector<std::string> locales = {"en_US.UTF-8", "en_GB.UTF-8", "de_DE.UTF-8", ""};
    const std::vector<std::string> key_names = {"Quorvane", "QUORVANE", "Quorvane2"};
    std::mt19937 random(20261209);
    const auto pick = [&](size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); };

    std::map<std::string, std::string> plain;  // by command line, with nothing installed
    for (const std::string& command_line : command_lines)
        plain[command_line] = parameters(box.path("no-such-hive.reg"), "", command_line);

    const std::string hive = box.path("random.reg");
    for (int round = 0; round < 60; ++round) {
        const bool has_key = pick(5) != 0;
        const std::string key_name = key_names[pick(key_names.size())];
        std::map<std::string, stored_value> values;
        std::wstring text = L"Windows Registry Editor Version 5.00\r\n\r\n";
        if (has_key) {
            text += L"[HKEY_LOCAL_MACHINE\\" + widen(product_key + key_name) + L"]\r\n";
            for (const char* name : {"InstallerLanguage", "en_US_UK", "InstallLang"}) {
                stored_value value;
                static const stored kinds[] = {stored::absent, stored::absent,     stored::absent, stored::text,
                                               stored::text,   stored::text,       stored::text,   stored::expandable,
                                               stored::number, stored::not_ansi};
                value.how = kinds[pick(sizeof(kinds) / sizeof(kinds[0]))];
                value.text = texts[pick(texts.size())];
                values[name] = value;
                text += reg_line(name, value);
            }
        }
        write_hive(hive, text);
        const std::string variable_text = texts[pick(texts.size())];
        const std::string command_line = command_lines[pick(command_lines.size())];
        const std::string locale = locales[pick(locales.size())];
        SCOPED_TRACE("round " + std::to_string(round) + " locale [" + locale + "] command line [" + command_line + "]");

        const bool installed = has_key && key_name != "Quorvane2";
        const bool american = locale.empty() || locale == "en_US.UTF-8";
        EXPECT_EQ(parameters(hive, locale, command_line, {{"QV_LANGUAGE_TEXT", variable_text}}),
                  model(plain[command_line], installed, values, american, variable_text));
    }
}

}  // namespace
