// Manifest parsing and field quoting.

#include "tools/qvpack/manifest.h"

#include "archive/writer.h"

#include <cstdlib>

namespace qvpack {
namespace {

std::string join_path(const std::string& folder, const std::string& path) {
    if (path.empty() || path[0] == '/' || folder.empty()) return path;
    if (path.size() > 1 && path[1] == ':') return path;  // a drive on Windows
    return folder + "/" + path;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void escape_into(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789abcdef";
    switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\x";
                out += digits[c >> 4];
                out += digits[c & 0xf];
            } else {
                out += char(c);
            }
    }
}

}  // namespace

std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
        if (at == line.size()) return fields;
        std::string field;
        if (line[at] != '"') {
            while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r') {
                if (line[at] == '"') throw archive::package_error("a quote inside an unquoted field");
                field += line[at++];
            }
            fields.push_back(field);
            continue;
        }
        ++at;
        for (;;) {
            if (at == line.size()) throw archive::package_error("a quoted field is not closed");
            const char c = line[at++];
            if (c == '"') break;
            if (c != '\\') {
                field += c;
                continue;
            }
            if (at == line.size()) throw archive::package_error("a quoted field is not closed");
            const char e = line[at++];
            switch (e) {
                case '\\': field += '\\'; break;
                case '"': field += '"'; break;
                case 't': field += '\t'; break;
                case 'r': field += '\r'; break;
                case 'n': field += '\n'; break;
                case 'x': {
                    const int high = at < line.size() ? hex_digit(line[at]) : -1;
                    const int low = at + 1 < line.size() ? hex_digit(line[at + 1]) : -1;
                    if (high < 0 || low < 0) throw archive::package_error("\\x needs two hexadecimal digits");
                    field += char(high * 16 + low);
                    at += 2;
                    break;
                }
                default: throw archive::package_error(std::string("unknown escape \\") + e);
            }
        }
        if (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r')
            throw archive::package_error("a quoted field must be followed by a blank");
        fields.push_back(field);
    }
}

std::string quote(std::string_view field) {
    bool plain = !field.empty();
    for (unsigned char c : field)
        if (c <= ' ' || c >= 0x7f || c == '"' || c == '\\' || c == '#') plain = false;
    if (plain) return std::string(field);
    std::string out = "\"";
    for (unsigned char c : field) escape_into(out, c);
    return out + "\"";
}

std::string preview(std::string_view bytes, size_t limit) {
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) escape_into(out, static_cast<unsigned char>(bytes[i]));
    out += "\"";
    if (bytes.size() > limit) out += "...";
    return out;
}

build_plan parse_manifest(const std::string& text, const std::string& folder) {
    build_plan plan;
    bool have_stub = false;
    size_t line_number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++line_number;
        const auto fail = [&](const std::string& why) {
            return archive::package_error("manifest line " + std::to_string(line_number) + ": " + why);
        };
        std::vector<std::string> fields;
        try {
            fields = split_fields(line);
        } catch (const archive::package_error& error) {
            throw fail(error.message());
        }
        if (fields.empty() || fields[0][0] == '#') continue;
        const std::string& word = fields[0];
        if (word == "stub") {
            if (fields.size() < 2 || fields.size() > 3) throw fail("stub PATH [FILE-NAME]");
            if (have_stub) throw fail("a second stub");
            have_stub = true;
            plan.stub_path = join_path(folder, fields[1]);
            if (fields.size() == 3) plan.stub_file_name = fields[2];
        } else if (word == "file") {
            if (fields.size() != 4) throw fail("file NAME FILE-NAME PATH");
            plan.groups.push_back(group{group::file, fields[1], fields[2], join_path(folder, fields[3])});
        } else if (word == "value") {
            if (fields.size() != 3) throw fail("value NAME TEXT");
            plan.groups.push_back(group{group::value, fields[1], fields[2], std::string()});
        } else if (word == "align") {
            char* rest = nullptr;
            const unsigned long n = fields.size() == 2 ? std::strtoul(fields[1].c_str(), &rest, 10) : 0;
            if (fields.size() != 2 || rest == nullptr || *rest != '\0' || n == 0 || n > 4096)
                throw fail("align N (1 to 4096)");
            plan.alignment = uint32_t(n);
        } else if (word == "trailer") {
            if (fields.size() != 2) throw fail("trailer PATH");
            plan.trailer_path = join_path(folder, fields[1]);
        } else {
            throw fail("unknown item \"" + word + "\" (stub, file, value, align, trailer)");
        }
    }
    if (!have_stub) throw archive::package_error("the manifest names no stub");
    return plan;
}

}  // namespace qvpack
