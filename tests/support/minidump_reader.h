// A small reader of minidump files for the tests, written from the format's
// layout alone and sharing nothing with the writer: it checks every offset
// and size against the file and throws std::runtime_error on anything that
// does not fit.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv_test {
namespace minidump {

struct location {
    uint32_t size = 0;
    uint32_t rva = 0;
};

struct thread {
    uint32_t id = 0;
    uint64_t stack_start = 0;
    location stack;
    location context;
};

struct module {
    uint64_t base = 0;
    uint32_t size = 0;
    std::string name;  // UTF-16 narrowed, ASCII only
};

struct memory_range {
    uint64_t start = 0;
    location data;
};

struct exception_stream {
    uint32_t thread_id = 0;
    uint32_t code = 0;
    uint32_t flags = 0;
    uint64_t address = 0;
    std::vector<uint64_t> parameters;
    location context;
};

struct file {
    std::vector<uint8_t> bytes;
    uint32_t version = 0;
    uint32_t time_stamp = 0;
    std::vector<uint32_t> stream_types;
    uint16_t architecture = 0;
    uint32_t platform_id = 0;
    uint8_t processors = 0;
    bool has_process_id = false;
    uint32_t process_id = 0;
    std::vector<thread> threads;
    std::vector<module> modules;
    std::vector<memory_range> memory;
    bool has_exception = false;
    exception_stream exception;

    // The bytes of the dumped memory at address, size long; throws when the
    // memory list does not hold them.
    std::vector<uint8_t> memory_at(uint64_t address, size_t size) const {
        for (const memory_range& range : memory)
            if (address >= range.start && address + size <= range.start + range.data.size) {
                const size_t from = range.data.rva + static_cast<size_t>(address - range.start);
                return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + size);
            }
        throw std::runtime_error("minidump: address not in the memory list");
    }
};

namespace detail {

inline void need(bool condition, const char* what) {
    if (!condition) throw std::runtime_error(std::string("minidump: ") + what);
}

inline uint64_t read(const std::vector<uint8_t>& bytes, size_t offset, size_t width) {
    need(offset + width >= offset && offset + width <= bytes.size(), "read past the end of the file");
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t(bytes[offset + i]) << (8 * i);
    return value;
}
inline uint16_t u16(const std::vector<uint8_t>& b, size_t o) { return static_cast<uint16_t>(read(b, o, 2)); }
inline uint32_t u32(const std::vector<uint8_t>& b, size_t o) { return static_cast<uint32_t>(read(b, o, 4)); }
inline uint64_t u64(const std::vector<uint8_t>& b, size_t o) { return read(b, o, 8); }

inline location read_location(const std::vector<uint8_t>& bytes, size_t offset) {
    location where;
    where.size = u32(bytes, offset);
    where.rva = u32(bytes, offset + 4);
    need(uint64_t(where.rva) + where.size <= bytes.size(), "location outside the file");
    return where;
}

inline std::string read_string(const std::vector<uint8_t>& bytes, uint32_t rva) {
    const uint32_t length = u32(bytes, rva);
    need(length % 2 == 0, "odd string length");
    std::string text;
    for (uint32_t i = 0; i < length; i += 2) {
        const uint16_t unit = u16(bytes, rva + 4 + i);
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    need(u16(bytes, rva + 4 + length) == 0, "string without its terminating zero");
    return text;
}

}  // namespace detail

inline file parse(std::vector<uint8_t> bytes) {
    using namespace detail;
    file dump;
    dump.bytes = std::move(bytes);
    const std::vector<uint8_t>& b = dump.bytes;
    need(b.size() >= 32, "shorter than a header");
    need(b[0] == 'M' && b[1] == 'D' && b[2] == 'M' && b[3] == 'P', "no MDMP signature");
    dump.version = u32(b, 4);
    need((dump.version & 0xFFFF) == 0xA793, "unknown version");
    const uint32_t count = u32(b, 8);
    const uint32_t directory = u32(b, 12);
    dump.time_stamp = u32(b, 20);
    need(uint64_t(directory) + uint64_t(count) * 12 <= b.size(), "directory outside the file");

    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = directory + 12 * i;
        const uint32_t type = u32(b, entry);
        const location where = read_location(b, entry + 4);
        dump.stream_types.push_back(type);
        const size_t at = where.rva;
        switch (type) {
            case 3: {  // thread list
                const uint32_t threads = u32(b, at);
                need(4 + uint64_t(threads) * 48 <= where.size, "thread list larger than its stream");
                for (uint32_t t = 0; t < threads; ++t) {
                    const size_t record = at + 4 + 48 * t;
                    thread entry_thread;
                    entry_thread.id = u32(b, record);
                    entry_thread.stack_start = u64(b, record + 24);
                    entry_thread.stack = read_location(b, record + 32);
                    entry_thread.context = read_location(b, record + 40);
                    dump.threads.push_back(entry_thread);
                }
                break;
            }
            case 4: {  // module list
                const uint32_t modules = u32(b, at);
                need(4 + uint64_t(modules) * 108 <= where.size, "module list larger than its stream");
                for (uint32_t m = 0; m < modules; ++m) {
                    const size_t record = at + 4 + 108 * m;
                    module entry_module;
                    entry_module.base = u64(b, record);
                    entry_module.size = u32(b, record + 8);
                    entry_module.name = read_string(b, u32(b, record + 20));
                    read_location(b, record + 76);  // code-view record
                    dump.modules.push_back(entry_module);
                }
                break;
            }
            case 5: {  // memory list
                const uint32_t ranges = u32(b, at);
                need(4 + uint64_t(ranges) * 16 <= where.size, "memory list larger than its stream");
                for (uint32_t r = 0; r < ranges; ++r) {
                    memory_range range;
                    range.start = u64(b, at + 4 + 16 * r);
                    range.data = read_location(b, at + 4 + 16 * r + 8);
                    dump.memory.push_back(range);
                }
                break;
            }
            case 6: {  // exception
                need(where.size >= 168, "short exception stream");
                dump.has_exception = true;
                dump.exception.thread_id = u32(b, at);
                dump.exception.code = u32(b, at + 8);
                dump.exception.flags = u32(b, at + 12);
                dump.exception.address = u64(b, at + 24);
                const uint32_t parameters = u32(b, at + 32);
                need(parameters <= 15, "too many exception parameters");
                for (uint32_t p = 0; p < parameters; ++p) dump.exception.parameters.push_back(u64(b, at + 40 + 8 * p));
                dump.exception.context = read_location(b, at + 160);
                break;
            }
            case 7: {  // system information
                need(where.size >= 56, "short system information");
                dump.architecture = u16(b, at);
                dump.processors = b[at + 6];
                dump.platform_id = u32(b, at + 20);
                read_string(b, u32(b, at + 24));
                break;
            }
            case 15: {  // miscellaneous information
                need(where.size >= 12 && u32(b, at) <= where.size, "short miscellaneous information");
                dump.has_process_id = (u32(b, at + 4) & 1) != 0;
                dump.process_id = u32(b, at + 8);
                break;
            }
            default:
                break;
        }
    }
    return dump;
}

inline file parse_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("minidump: cannot open " + path);
    return parse(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

}  // namespace minidump
}  // namespace qv_test
