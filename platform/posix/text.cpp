// GetACP, GetCPInfo, MultiByteToWideChar and WideCharToMultiByte over the C
// library's iconv. Wide text is wchar_t (UTF-32 here) where Windows has
// UTF-16; one wchar_t outside the BMP stands for a surrogate pair.
//
// The code pages are those a system can have as its ANSI code page (874,
// 932, 936, 949, 950, 1250-1258, 65001): what CP_ACP reaches, and CP_UTF8.
// Any other code page fails with ERROR_INVALID_PARAMETER.
//
// Differs from Windows:
// - CP_ACP is 1252 unless QV_ACP names another code page of the table below.
// - No best-fit mappings: a character without an exact form becomes the
//   default character, as with WC_NO_BEST_FIT_CHARS.
// - In 874 and 1250-1258 the bytes 0x80-0x9F that have no character map to
//   U+0080-U+009F and back, as on Windows; their other undefined bytes are
//   invalid input instead of private-use characters.
// - Invalid UTF-8 becomes one U+FFFD per byte that cannot start or finish a
//   character (Windows may use one per ill-formed sequence); invalid input
//   in other code pages becomes '?' (U+30FB in 932) per byte.
// - Flags: MB_PRECOMPOSED (the default anyway) and MB_ERR_INVALID_CHARS;
//   WC_NO_BEST_FIT_CHARS, and WC_ERR_INVALID_CHARS for 65001. Any other flag
//   fails with ERROR_INVALID_FLAGS.

#include "platform/win32.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

enum class page_kind {
    plain,          // stateless single- or double-byte code page
    windows_sbcs,   // 874, 1250-1258: undefined 0x80-0x9F bytes are C1 controls
    unicode,        // UTF-8: no caller default character
};

struct code_page {
    UINT id;
    const char* iconv_name;
    UINT max_char_size;
    page_kind kind;
    BYTE lead_bytes[4];  // up to two inclusive ranges
    wchar_t unicode_default;
};

const code_page code_pages[] = {
    {874, "CP874", 1, page_kind::windows_sbcs, {}, L'?'},
    {932, "CP932", 2, page_kind::plain, {0x81, 0x9F, 0xE0, 0xFC}, L'\x30FB'},
    {936, "CP936", 2, page_kind::plain, {0x81, 0xFE}, L'?'},
    {949, "CP949", 2, page_kind::plain, {0x81, 0xFE}, L'?'},
    {950, "CP950", 2, page_kind::plain, {0x81, 0xFE}, L'?'},
    {1250, "CP1250", 1, page_kind::windows_sbcs, {}, L'?'},
    {1251, "CP1251", 1, page_kind::windows_sbcs, {}, L'?'},
    {1252, "CP1252", 1, page_kind::windows_sbcs, {}, L'?'},
    {1253, "CP1253", 1, page_kind::windows_sbcs, {}, L'?'},
    {1254, "CP1254", 1, page_kind::windows_sbcs, {}, L'?'},
    {1255, "CP1255", 1, page_kind::windows_sbcs, {}, L'?'},
    {1256, "CP1256", 1, page_kind::windows_sbcs, {}, L'?'},
    {1257, "CP1257", 1, page_kind::windows_sbcs, {}, L'?'},
    {1258, "CP1258", 1, page_kind::windows_sbcs, {}, L'?'},
    {CP_UTF8, "UTF-8", 4, page_kind::unicode, {}, L'\xFFFD'},
};

const UINT default_acp = 1252;
const DWORD MB_PRECOMPOSED_FLAG = 0x00000001;
const DWORD WC_ERR_INVALID_CHARS_FLAG = 0x00000080;

const code_page* table_entry(UINT id) {
    for (const code_page& page : code_pages)
        if (page.id == id) return &page;
    return nullptr;
}

// Open iconv descriptors, pooled per code page and direction: a descriptor
// carries conversion state, so each conversion borrows one for itself. The
// pool is never destroyed, so conversions stay usable during exit.
class descriptor_pool {
public:
    static descriptor_pool& instance() {
        static descriptor_pool* const pool = new descriptor_pool;
        return *pool;
    }

    // An open descriptor in its initial state, or invalid() when the C
    // library lacks the code page.
    iconv_t take(const code_page& page, bool to_wide) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto found = idle_.find(std::make_pair(page.id, to_wide));
            if (found != idle_.end()) {
                iconv_t cd = found->second;
                idle_.erase(found);
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                return cd;
            }
        }
        return to_wide ? iconv_open("WCHAR_T", page.iconv_name) : iconv_open(page.iconv_name, "WCHAR_T");
    }

    void give_back(const code_page& page, bool to_wide, iconv_t cd) {
        if (cd == invalid()) return;
        std::lock_guard<std::mutex> hold(lock_);
        idle_.emplace(std::make_pair(page.id, to_wide), cd);
    }

    // Bit b-0x80 set: byte b of a windows_sbcs code page has no character.
    unsigned int undefined_c1_bytes(const code_page& page) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto found = c1_masks_.find(page.id);
            if (found != c1_masks_.end()) return found->second;
        }
        unsigned int mask = 0;
        iconv_t cd = take(page, true);
        for (unsigned int byte = 0x80; byte <= 0x9F && cd != invalid(); ++byte) {
            char in_byte = static_cast<char>(byte);
            wchar_t out_char;
            char* in = &in_byte;
            size_t in_left = 1;
            char* out = reinterpret_cast<char*>(&out_char);
            size_t out_left = sizeof out_char;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &in, &in_left, &out, &out_left) == static_cast<size_t>(-1)) mask |= 1u << (byte - 0x80);
        }
        give_back(page, true, cd);
        std::lock_guard<std::mutex> hold(lock_);
        c1_masks_[page.id] = mask;
        return mask;
    }

    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    std::mutex lock_;
    std::multimap<std::pair<UINT, bool>, iconv_t> idle_;
    std::map<UINT, unsigned int> c1_masks_;
};

// A descriptor borrowed from the pool for one conversion.
class borrowed_descriptor {
public:
    borrowed_descriptor(const code_page& page, bool to_wide)
        : page_(page), to_wide_(to_wide), cd_(descriptor_pool::instance().take(page, to_wide)) {}
    ~borrowed_descriptor() { descriptor_pool::instance().give_back(page_, to_wide_, cd_); }
    borrowed_descriptor(const borrowed_descriptor&) = delete;
    borrowed_descriptor& operator=(const borrowed_descriptor&) = delete;

    bool valid() const { return cd_ != descriptor_pool::invalid(); }
    iconv_t get() const { return cd_; }

private:
    const code_page& page_;
    bool to_wide_;
    iconv_t cd_;
};

// The code page behind an identifier, resolving CP_ACP; null
// (last error ERROR_INVALID_PARAMETER) when unknown or not installed.
const code_page* resolve(UINT id) {
    if (id == CP_ACP) id = GetACP();
    const code_page* page = table_entry(id);
    if (page == nullptr || !borrowed_descriptor(*page, true).valid()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return page;
}

// The code page of a conversion call whose buffers and counts are sound;
// null (last error ERROR_INVALID_PARAMETER) otherwise.
const code_page* resolve_call(UINT id, const void* input, int input_length, const void* output, int output_length) {
    if (input == nullptr || input_length == 0 || input_length < -1 || output_length < 0 ||
        (output_length > 0 && output == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return resolve(id);
}

// Whether byte b of a windows_sbcs code page stands for the C1 control of
// the same value, having no character of its own.
bool is_c1_passthrough(const code_page& page, unsigned int b) {
    if (page.kind != page_kind::windows_sbcs || b < 0x80 || b > 0x9F) return false;
    return (descriptor_pool::instance().undefined_c1_bytes(page) & (1u << (b - 0x80))) != 0;
}

// Runs iconv over the whole input into out (grown as needed). At a unit it
// cannot convert it asks on_invalid, which appends a replacement and
// returns true, or returns false to fail with ERROR_NO_UNICODE_TRANSLATION.
// Before the replacement the converter gives up what it holds (a pending
// base character, the shift back to the initial state), so the order of
// the text stays and the replacement stands in the initial state.
template <class Out, class OnInvalid>
bool run_iconv(iconv_t cd, const char* input, size_t input_bytes, size_t unit, Out& out, OnInvalid on_invalid) {
    typedef typename Out::value_type out_unit;
    char* in = const_cast<char*>(input);
    size_t in_left = input_bytes;
    size_t used = out.size();
    // One iconv call into the free end of out, repeated with more room while
    // the output does not fit; a null source flushes. Returns 0 or errno.
    const auto step = [&](char** source, size_t* source_left) {
        for (;;) {
            if (out.size() - used < 16) out.resize(out.size() * 2 + 16);
            char* out_start = reinterpret_cast<char*>(&out[used]);
            char* out_pointer = out_start;
            size_t out_left = (out.size() - used) * sizeof(out_unit);
            const size_t result = iconv(cd, source, source_left, &out_pointer, &out_left);
            const int error = errno;
            used += static_cast<size_t>(out_pointer - out_start) / sizeof(out_unit);
            if (result != static_cast<size_t>(-1)) return 0;
            if (error != E2BIG) return error;
            out.resize(out.size() * 2 + 16);
        }
    };
    out.resize(used + input_bytes / unit + 16);
    for (;;) {
        const int error = step(&in, &in_left);
        if (error == 0) break;
        if ((error != EILSEQ && error != EINVAL) || step(nullptr, nullptr) != 0) {
            out.resize(used);
            SetLastError(ERROR_GEN_FAILURE);
            return false;
        }
        out.resize(used);
        if (!on_invalid(in, out)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return false;
        }
        in += unit;
        in_left -= unit;
        used = out.size();
        out.resize(used + in_left / unit + 16);
    }
    const int error = step(nullptr, nullptr);
    out.resize(used);
    if (error != 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    return true;
}

template <class Char>
int deliver(const std::basic_string<Char>& text, Char* output, int output_length) {
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (output_length == 0) return static_cast<int>(text.size());
    if (text.size() > static_cast<size_t>(output_length)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(output, text.data(), text.size() * sizeof(Char));
    return static_cast<int>(text.size());
}

bool is_scalar(wchar_t c) {
    const long long value = c;  // wchar_t is signed on some targets, unsigned on others
    return value >= 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

bool is_lead_byte(const code_page& page, unsigned char b) {
    for (int range = 0; range < 4; range += 2)
        if (page.lead_bytes[range] != 0 && b >= page.lead_bytes[range] && b <= page.lead_bytes[range + 1]) return true;
    return false;
}

}  // namespace

UINT WINAPI GetACP() {
    const char* value = std::getenv("QV_ACP");
    if (value == nullptr || *value == '\0') return default_acp;
    char* end = nullptr;
    const unsigned long id = std::strtoul(value, &end, 10);
    if (*end != '\0' || id == CP_ACP || id > UINT_MAX ||
        table_entry(static_cast<UINT>(id)) == nullptr)
        return default_acp;
    return static_cast<UINT>(id);
}

BOOL WINAPI GetCPInfo(UINT code_page_id, LPCPINFO info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const code_page* page = resolve(code_page_id);
    if (page == nullptr) return FALSE;
    std::memset(info, 0, sizeof *info);
    info->MaxCharSize = page->max_char_size;
    info->DefaultChar[0] = '?';
    std::memcpy(info->LeadByte, page->lead_bytes, sizeof page->lead_bytes);
    return TRUE;
}

int WINAPI MultiByteToWideChar(UINT code_page_id, DWORD flags, LPCCH input, int input_length, LPWSTR output,
                               int output_length) {
    const code_page* page = resolve_call(code_page_id, input, input_length, output, output_length);
    if (page == nullptr) return 0;
    if ((flags & ~(MB_PRECOMPOSED_FLAG | MB_ERR_INVALID_CHARS)) != 0 ||
        (page->kind == page_kind::unicode && (flags & ~MB_ERR_INVALID_CHARS) != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    const size_t length = input_length == -1 ? std::strlen(input) + 1 : static_cast<size_t>(input_length);

    const borrowed_descriptor cd(*page, true);
    if (!cd.valid()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring wide;
    const auto on_invalid = [&](const char* at, std::wstring& out) {
        const unsigned char b = static_cast<unsigned char>(*at);
        if (is_c1_passthrough(*page, b)) {
            out += static_cast<wchar_t>(b);
            return true;
        }
        if (strict) return false;
        out += page->unicode_default;
        return true;
    };
    // The C library's converters for 1255 and 1258 join a base character
    // and the combining mark after it; Windows gives every byte its own
    // character, so those go one byte at a time.
    if (page->id == 1255 || page->id == 1258) {
        for (size_t at = 0; at < length; ++at)
            if (!run_iconv(cd.get(), input + at, 1, 1, wide, on_invalid)) return 0;
    } else if (!run_iconv(cd.get(), input, length, 1, wide, on_invalid)) {
        return 0;
    }
    return deliver(wide, output, output_length);
}

int WINAPI WideCharToMultiByte(UINT code_page_id, DWORD flags, LPCWCH input, int input_length, LPSTR output,
                               int output_length, LPCCH default_char, LPBOOL used_default_char) {
    const code_page* page = resolve_call(code_page_id, input, input_length, output, output_length);
    if (page == nullptr) return 0;
    if (page->kind == page_kind::unicode && (default_char != nullptr || used_default_char != nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~(WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS_FLAG)) != 0 ||
        ((flags & WC_ERR_INVALID_CHARS_FLAG) != 0 && page->id != CP_UTF8)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const bool strict = (flags & WC_ERR_INVALID_CHARS_FLAG) != 0;
    const size_t length = input_length == -1 ? std::wcslen(input) + 1 : static_cast<size_t>(input_length);

    // The caller's default character is its first character: two bytes
    // when it starts with a lead byte.
    std::string replacement = "?";
    if (default_char != nullptr) {
        const size_t size = is_lead_byte(*page, static_cast<unsigned char>(default_char[0])) && default_char[1] != 0 ? 2 : 1;
        replacement.assign(default_char, size);
    }

    const borrowed_descriptor descriptor(*page, false);
    if (!descriptor.valid()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    iconv_t cd = descriptor.get();
    bool used_default = false;
    const auto replace = [&](const char* at, std::string& out) {
        wchar_t c;
        std::memcpy(&c, at, sizeof c);
        if (c >= 0x80 && c <= 0x9F && is_c1_passthrough(*page, static_cast<unsigned int>(c))) {
            out += static_cast<char>(c);
            return true;
        }
        if (strict) return false;
        if (page->kind == page_kind::unicode) {
            // UTF-8 puts U+FFFD for what it cannot encode.
            const wchar_t fffd = L'\xFFFD';
            return run_iconv(cd, reinterpret_cast<const char*>(&fffd), sizeof fffd, sizeof fffd, out,
                             [](const char*, std::string&) { return false; });
        }
        out += replacement;
        used_default = true;
        return true;
    };
    // Values that are no Unicode scalar (an unpaired surrogate, beyond
    // U+10FFFF) never reach iconv, which would encode some of them.
    std::string narrow;
    for (size_t start = 0;;) {
        size_t end = start;
        while (end < length && is_scalar(input[end])) ++end;
        if (end > start && !run_iconv(cd, reinterpret_cast<const char*>(input + start), (end - start) * sizeof(wchar_t),
                                      sizeof(wchar_t), narrow, replace))
            return 0;
        if (end == length) break;
        if (!replace(reinterpret_cast<const char*>(input + end), narrow)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        start = end + 1;
    }
    if (used_default_char != nullptr) *used_default_char = used_default ? TRUE : FALSE;
    return deliver(narrow, output, output_length);
}
