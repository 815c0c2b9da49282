// Taking the launcher's composed command line apart for msiexec.

#include "tools/setup/msiexec_command.h"

#include <cctype>

namespace setup {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

size_t skip_blanks(const std::string& text, size_t at) {
    while (at < text.size() && is_blank(text[at])) ++at;
    return at;
}

void append_word(std::string& list, const std::string& word) {
    if (word.empty()) return;
    if (!list.empty()) list += ' ';
    list += word;
}

std::string trimmed(const std::string& text) {
    const size_t first = skip_blanks(text, 0);
    size_t end = text.size();
    while (end > first && is_blank(text[end - 1])) --end;
    return text.substr(first, end - first);
}

// A quoted text from just behind its opening quote to its closing one
// (or the end), with the runtime's backslash rule undone; at moves behind
// the closing quote.
std::string unquote(const std::string& text, size_t& at) {
    std::string out;
    while (at < text.size()) {
        size_t backslashes = 0;
        while (at < text.size() && text[at] == '\\') ++backslashes, ++at;
        if (at < text.size() && text[at] == '"') {
            out.append(backslashes / 2, '\\');
            ++at;
            if (backslashes % 2 == 0) return out;  // the closing quote
            out += '"';
        } else {
            out.append(backslashes, '\\');
            if (at < text.size()) out += text[at++];
        }
    }
    return out;
}

// A plain word: up to the next blank outside quotes, quotes kept.
std::string word_at(const std::string& text, size_t& at) {
    const size_t start = at;
    bool quoted = false;
    while (at < text.size() && (quoted || !is_blank(text[at]))) {
        if (text[at] == '"') quoted = !quoted;
        ++at;
    }
    return text.substr(start, at - start);
}

bool is_language_option(const std::string& word) {
    if (word.size() < 3 || word[0] != '/' || word[1] != 'L') return false;
    for (size_t i = 2; i < word.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(word[i]))) return false;
    return true;
}

}  // namespace

std::string arguments_of(const std::string& command_line) {
    size_t at = 0;
    if (!command_line.empty() && command_line[0] == '"') {
        const size_t close = command_line.find('"', 1);
        at = close == std::string::npos ? command_line.size() : close + 1;
    }
    while (at < command_line.size() && !is_blank(command_line[at])) ++at;
    return command_line.substr(skip_blanks(command_line, at));
}

request parse_arguments(const std::string& arguments) {
    request result;
    // The launcher's rule, so that the two agree on every command line.
    result.silent = arguments.find("/s") != std::string::npos;
    size_t at = skip_blanks(arguments, 0);
    while (at < arguments.size()) {
        const bool v_option = arguments.compare(at, 2, "/V") == 0 || arguments.compare(at, 2, "/v") == 0;
        if (v_option && at + 2 < arguments.size() && arguments[at + 2] == '"') {
            at += 3;
            append_word(result.msiexec_text, trimmed(unquote(arguments, at)));
        } else {
            const std::string word = word_at(arguments, at);
            if (v_option) append_word(result.msiexec_text, word.substr(2));
            else if (is_language_option(word)) {
                if (result.language.empty()) result.language = word.substr(2);
            } else if (word != "/s") {
                append_word(result.passed_on, word);
            }
        }
        at = skip_blanks(arguments, at);
    }
    return result;
}

std::string msiexec_parameters(const request& request, const std::string& msi_path) {
    std::string parameters = "/i \"" + msi_path + "\"";
    if (request.silent) parameters += " /qn";
    append_word(parameters, request.passed_on);
    append_word(parameters, request.msiexec_text);
    if (!request.language.empty()) append_word(parameters, std::string(language_property) + "=" + request.language);
    return parameters;
}

}  // namespace setup
