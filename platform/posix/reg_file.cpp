// The reader of registry hive files in the "Windows Registry Editor Version
// 5.00" text format (see internal/reg_file.h), as "reg import" takes them:
// [key] sections, "name"="text" with \\ and \" escapes, @ for the default
// value, dword:, hex: and hex(N): data with "\" line continuations, and the
// "-" forms that delete a key or a value. Differs from Windows: only the
// four predefined roots by their full names; any other line is a fault.

#include "platform/posix/internal/reg_file.h"
#include "platform/win32.h"


namespace qv_posix {
namespace reg {
namespace {

const wchar_t* const predefined_roots[] = {L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER", L"HKEY_CLASSES_ROOT",
                                           L"HKEY_USERS"};

bool is_surrogate_high(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_surrogate_low(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-16LE units to characters; pairs become one character, lone halves
// stay as they are.
std::wstring from_utf16le(const BYTE* data, size_t count) {
    std::wstring out;
    for (size_t i = 0; i + 1 < count; i += 2) {
        unsigned unit = data[i] | (data[i + 1] << 8);
        if (is_surrogate_high(unit) && i + 3 < count) {
            const unsigned next = data[i + 2] | (data[i + 3] << 8);
            if (is_surrogate_low(next)) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
                i += 2;
            }
        }
        out += static_cast<wchar_t>(unit);
    }
    return out;
}

// Strict UTF-8; false on any malformed sequence.
bool from_utf8(const std::string& text, size_t start, std::wstring& out) {
    out.clear();
    for (size_t i = start; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        unsigned code = 0;
        size_t length = 0;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1F;
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0F;
            length = 3;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07;
            length = 4;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        static const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        out += static_cast<wchar_t>(code);
        i += length;
    }
    return true;
}

bool decode(const std::string& bytes, std::wstring& text, std::string& fault) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text = from_utf16le(reinterpret_cast<const BYTE*>(bytes.data()) + 2, bytes.size() - 2);
        return true;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        if (from_utf8(bytes, 3, text)) return true;
        fault = "invalid UTF-8";
        return false;
    }
    if (from_utf8(bytes, 0, text)) return true;
    // Neither UTF-16 nor UTF-8: the ANSI code page, as regedit's older exports.
    text.assign(bytes.size(), L'\0');
    const int count = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                          static_cast<int>(text.size()));
    if (count <= 0) {
        fault = "text in no known encoding";
        return false;
    }
    text.resize(static_cast<size_t>(count));
    return true;
}

std::vector<std::wstring> split_lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            lines.push_back(line);
            line.clear();
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::wstring trim(const std::wstring& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
    while (end > begin && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
    return text.substr(begin, end - begin);
}

std::string narrow_for_fault(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

std::vector<std::wstring> split_path(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : path) {
        if (c == L'\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();  // one trailing backslash
    return parts;
}

bool is_predefined_root(const std::wstring& folded) {
    for (const wchar_t* root : predefined_roots)
        if (folded == root) return true;
    return false;
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after the
// closing quote. Only \\ and \" are escapes; any other backslash is kept.
bool parse_quoted(const std::wstring& text, size_t& pos, std::wstring& out) {
    out.clear();
    for (++pos; pos < text.size(); ++pos) {
        const wchar_t c = text[pos];
        if (c == L'"') {
            ++pos;
            return true;
        }
        if (c == L'\\' && pos + 1 < text.size() && (text[pos + 1] == L'\\' || text[pos + 1] == L'"')) ++pos;
        out += text[pos];
    }
    return false;
}

int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Parses up to max_digits hex digits (at least one); false on anything else.
bool parse_hex_number(const std::wstring& text, unsigned long& number, size_t max_digits) {
    if (text.empty() || text.size() > max_digits) return false;
    number = 0;
    for (wchar_t c : text) {
        const int digit = hex_digit(c);
        if (digit < 0) return false;
        number = number * 16 + static_cast<unsigned long>(digit);
    }
    return true;
}

// "01,02,ab" (blanks allowed around the commas); an empty list is no bytes.
bool parse_hex_bytes(const std::wstring& list, std::vector<BYTE>& bytes) {
    bytes.clear();
    const std::wstring all = trim(list);
    if (all.empty()) return true;
    size_t start = 0;
    for (;;) {
        const size_t comma = all.find(L',', start);
        const std::wstring item = trim(all.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
        unsigned long byte = 0;
        if (!parse_hex_number(item, byte, 2)) return false;
        bytes.push_back(static_cast<BYTE>(byte));
        if (comma == std::wstring::npos) return true;
        start = comma + 1;
    }
}

class parser {
public:
    parser(hive& out, std::string& fault) : out_(out), fault_(fault) {}

    bool run(const std::vector<std::wstring>& lines) {
        size_t index = 0;
        while (index < lines.size() && trim(lines[index]).empty()) ++index;
        if (index == lines.size() ||
            (trim(lines[index]) != L"Windows Registry Editor Version 5.00" && trim(lines[index]) != L"REGEDIT4"))
            return fail(index, "missing \"Windows Registry Editor Version 5.00\" header");
        for (++index; index < lines.size(); ++index) {
            line_number_ = index;
            std::wstring line = trim(lines[index]);
            if (line.empty() || line[0] == L';') continue;
            if (line[0] == L'[') {
                if (!section(line)) return false;
                continue;
            }
            if (line[0] != L'"' && line[0] != L'@') return fail(index, "unexpected line");
            // Hex data continues on the next lines while a line ends in "\".
            while (line.back() == L'\\' && line.find(L"=hex") != std::wstring::npos && index + 1 < lines.size()) {
                line.pop_back();
                line += trim(lines[++index]);
            }
            if (!value_line(line)) return false;
        }
        return true;
    }

private:
    bool fail(size_t index, const std::string& what) {
        fault_ = "line " + std::to_string(index + 1) + ": " + what;
        return false;
    }

    bool section(const std::wstring& line) {
        const size_t close = line.rfind(L']');
        if (close == std::wstring::npos || !trim(line.substr(close + 1)).empty())
            return fail(line_number_, "unterminated key name");
        const bool remove = line.size() > 1 && line[1] == L'-';
        const std::wstring path = line.substr(remove ? 2 : 1, close - (remove ? 2 : 1));
        const std::vector<std::wstring> parts = split_path(path);
        for (const std::wstring& part : parts)
            if (part.empty()) return fail(line_number_, "empty key name in \"" + narrow_for_fault(path) + "\"");
        if (!is_predefined_root(fold_name(parts[0])))
            return fail(line_number_, "unknown root key in \"" + narrow_for_fault(path) + "\"");
        current_ = nullptr;
        in_removed_section_ = remove;
        key_node* node = &out_.root;
        for (size_t i = 0; i < parts.size(); ++i) {
            const std::wstring folded = fold_name(parts[i]);
            auto found = node->subkeys.find(folded);
            if (remove) {
                if (found == node->subkeys.end()) return true;  // deleting a missing key is no fault
                if (i + 1 == parts.size()) {
                    node->subkeys.erase(found);
                    return true;
                }
            } else if (found == node->subkeys.end()) {
                found = node->subkeys.emplace(folded, std::unique_ptr<key_node>(new key_node)).first;
            }
            node = found->second.get();
        }
        current_ = remove ? nullptr : node;
        return true;
    }

    bool value_line(const std::wstring& line) {
        size_t pos = 0;
        std::wstring name;
        if (line[0] == L'@') {
            pos = 1;
        } else if (!parse_quoted(line, pos, name)) {
            return fail(line_number_, "unterminated value name");
        }
        while (pos < line.size() && (line[pos] == L' ' || line[pos] == L'\t')) ++pos;
        if (pos == line.size() || line[pos] != L'=') return fail(line_number_, "missing \"=\" after the value name");
        const std::wstring data = trim(line.substr(pos + 1));
        if (current_ == nullptr) {
            if (in_removed_section_) return true;  // values of a deleted key go with it
            return fail(line_number_, "value outside a key");
        }
        const std::wstring folded = fold_name(name);
        if (data == L"-") {
            current_->values.erase(folded);
            return true;
        }
        value parsed;
        if (!value_data(data, parsed)) return false;
        current_->values[folded] = std::move(parsed);
        return true;
    }

    bool value_data(const std::wstring& data, value& parsed) {
        if (!data.empty() && data[0] == L'"') {
            size_t pos = 0;
            if (!parse_quoted(data, pos, parsed.text) || pos != data.size())
                return fail(line_number_, "malformed string data");
            parsed.type = REG_SZ;
            parsed.text += L'\0';  // stored with its terminator, as regedit does
            return true;
        }
        if (data.compare(0, 6, L"dword:") == 0) {
            unsigned long number = 0;
            if (!parse_hex_number(data.substr(6), number, 8)) return fail(line_number_, "malformed dword data");
            parsed.type = REG_DWORD;
            for (int i = 0; i < 4; ++i) parsed.bytes.push_back(static_cast<BYTE>(number >> (8 * i)));
            return true;
        }
        size_t list_start = 0;
        if (data.compare(0, 4, L"hex:") == 0) {
            parsed.type = REG_BINARY;
            list_start = 4;
        } else if (data.compare(0, 4, L"hex(") == 0) {
            const size_t close = data.find(L"):", 4);
            unsigned long type = 0;
            if (close == std::wstring::npos || !parse_hex_number(data.substr(4, close - 4), type, 8))
                return fail(line_number_, "malformed hex(N) type");
            parsed.type = static_cast<DWORD>(type);
            list_start = close + 2;
        } else {
            return fail(line_number_, "unknown value data");
        }
        std::vector<BYTE> bytes;
        if (!parse_hex_bytes(data.substr(list_start), bytes)) return fail(line_number_, "malformed hex bytes");
        if (is_text_type(parsed.type)) {
            parsed.text = from_utf16le(bytes.data(), bytes.size());
            parsed.odd_byte = bytes.size() % 2 != 0;
        } else {
            parsed.bytes = std::move(bytes);
        }
        return true;
    }

    hive& out_;
    std::string& fault_;
    key_node* current_ = nullptr;
    size_t line_number_ = 0;
    bool in_removed_section_ = false;
};

}  // namespace

std::wstring fold_name(const std::wstring& name) {
    std::wstring out(name);
    for (wchar_t& c : out) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - 0x20);
        } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
            c = static_cast<wchar_t>(c - 0x20);  // Latin-1 letters
        } else if ((c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
            c = static_cast<wchar_t>(c - 0x20);  // Greek and Cyrillic
        } else if (c >= 0x450 && c <= 0x45F) {
            c = static_cast<wchar_t>(c - 0x50);
        }
    }
    return out;
}

bool is_text_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

DWORD value::size() const {
    if (is_text_type(type)) return static_cast<DWORD>(text.size() * 2 + (odd_byte ? 1 : 0));
    return static_cast<DWORD>(bytes.size());
}

bool parse(const std::string& bytes, hive& out, std::string& fault) {
    std::wstring text;
    if (!decode(bytes, text, fault)) return false;
    parser reader(out, fault);
    return reader.run(split_lines(text));
}

const key_node* find(const key_node& from, const std::wstring& path) {
    const key_node* node = &from;
    if (path.empty()) return node;
    for (const std::wstring& part : split_path(path)) {
        if (part.empty()) return nullptr;
        auto found = node->subkeys.find(fold_name(part));
        if (found == node->subkeys.end()) return nullptr;
        node = found->second.get();
    }
    return node;
}

}  // namespace reg
}  // namespace qv_posix
