// MiniDumpWriteDump: the minidump container format for the calling process.
// The file holds the header ("MDMP"), the stream directory and the streams
// system information, miscellaneous information (the process id), the
// thread list, the module list, the memory list and, with exception
// information, the exception stream. All numbers are little-endian.
// Differs from Windows:
// - only the process itself can be dumped, only as MiniDumpNormal, without
//   user streams or callback;
// - the thread list holds the dumping thread alone (with the exception
//   information: the failing thread, whose registers the signal delivered);
//   other threads' registers cannot be read from inside the process;
// - its stack memory reaches from the stack pointer (and the red zone below
//   it) to the end of the stack mapping, at most 256 KiB;
// - modules are the loaded ELF objects with their POSIX paths and, where
//   they have one, their GNU build id in an ELF code-view record; the
//   platform id is the one Linux minidump readers know (0x8201);
// - a register context is written for x86-64 only (elsewhere its size is 0).

#include "platform/posix/internal/exception_context.h"
#include "platform/win32.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/utsname.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const uint32_t minidump_signature = 0x504d444d;  // "MDMP"
const uint32_t minidump_version = 42899;
const uint32_t thread_list_stream = 3;
const uint32_t module_list_stream = 4;
const uint32_t memory_list_stream = 5;
const uint32_t exception_stream = 6;
const uint32_t system_info_stream = 7;
const uint32_t misc_info_stream = 15;
const uint32_t linux_platform_id = 0x8201;
const uint32_t elf_code_view_signature = 0x4270454c;
const size_t header_size = 32;
const size_t directory_entry_size = 12;
const size_t thread_size = 48;
const size_t module_size = 108;
const size_t memory_descriptor_size = 16;
const size_t amd64_context_size = 1232;
const size_t stack_cap = 256 * 1024;
#if defined(__x86_64__)
const uintptr_t red_zone = 128;
#else
const uintptr_t red_zone = 0;
#endif

// The file image under construction; offsets into it are the format's RVAs.
class image {
public:
    size_t size() const { return bytes_.size(); }
    const uint8_t* data() const { return bytes_.data(); }

    // Appends size zero bytes at a 4-byte boundary and returns their offset.
    size_t reserve(size_t size) {
        bytes_.resize((bytes_.size() + 3) & ~size_t(3));
        const size_t offset = bytes_.size();
        bytes_.resize(offset + size);
        return offset;
    }
    size_t append(const void* data, size_t size) {
        const size_t offset = reserve(size);
        put_bytes(offset, data, size);
        return offset;
    }
    // Raw process memory, a stack for example, read byte by byte past the
    // address sanitizer, to which parts of a stack are off limits.
    __attribute__((no_sanitize_address)) size_t append_memory(uintptr_t address, size_t size) {
        const size_t offset = reserve(size);
        const volatile uint8_t* source = reinterpret_cast<const volatile uint8_t*>(address);
        for (size_t i = 0; i < size; ++i) bytes_[offset + i] = source[i];
        return offset;
    }
    void put16(size_t offset, uint32_t value) { put(offset, value, 2); }
    void put32(size_t offset, uint64_t value) { put(offset, value, 4); }
    void put64(size_t offset, uint64_t value) { put(offset, value, 8); }
    void put_bytes(size_t offset, const void* data, size_t size) {
        if (size != 0) std::memcpy(&bytes_[offset], data, size);
    }
    void put_location(size_t offset, size_t data_size, size_t rva) {
        put32(offset, data_size);
        put32(offset + 4, rva);
    }

    // A MINIDUMP_STRING: byte length, UTF-16 units, a terminating zero.
    size_t append_string(const std::u16string& text) {
        const size_t offset = reserve(4 + 2 * text.size() + 2);
        put32(offset, 2 * text.size());
        for (size_t i = 0; i < text.size(); ++i) put16(offset + 4 + 2 * i, text[i]);
        return offset;
    }

private:
    void put(size_t offset, uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }

    std::vector<uint8_t> bytes_;
};

// File names are bytes; readers expect UTF-16. UTF-8 is decoded, any other
// byte stands for itself.
std::u16string to_utf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

std::string read_whole_file(const char* path) {
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) break;
        text.append(buffer, static_cast<size_t>(count));
    }
    close(fd);
    return text;
}

struct mapping {
    uintptr_t start;
    uintptr_t end;
    bool readable;
};

std::vector<mapping> memory_map() {
    std::vector<mapping> mappings;
    const std::string text = read_whole_file("/proc/self/maps");
    for (size_t line = 0; line < text.size();) {
        size_t end_of_line = text.find('\n', line);
        if (end_of_line == std::string::npos) end_of_line = text.size();
        const char* p = text.c_str() + line;
        char* next = nullptr;
        mapping entry;
        entry.start = static_cast<uintptr_t>(std::strtoull(p, &next, 16));
        entry.end = static_cast<uintptr_t>(std::strtoull(next + 1, &next, 16));
        entry.readable = next[1] == 'r';
        mappings.push_back(entry);
        line = end_of_line + 1;
    }
    return mappings;
}

// The stack memory to keep: from just below the stack pointer to the end of
// its mapping. A pointer in the guard page (a stack overflow) keeps the
// lowest part of the stack above it.
void stack_range(uintptr_t stack_pointer, uintptr_t& start, uintptr_t& end) {
    start = end = 0;
    if (stack_pointer == 0) return;
    const uintptr_t wanted = stack_pointer - red_zone;
    const std::vector<mapping> mappings = memory_map();
    for (const mapping& entry : mappings) {
        if (!entry.readable) continue;
        if (entry.start <= wanted && wanted < entry.end) {
            start = wanted;
            end = entry.end;
            break;
        }
        if (entry.start > wanted && entry.start - wanted <= 64 * 1024) {
            start = entry.start;
            end = entry.end;
            break;
        }
    }
    end = std::min(end, start + stack_cap);
}

struct module_info {
    uint64_t base;
    uint64_t size;
    std::string path;
    std::vector<uint8_t> build_id;
};

std::string executable_path() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

void read_build_id(const dl_phdr_info& info, const ElfW(Phdr)& header, module_info& module) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(info.dlpi_addr + header.p_vaddr);
    const uint8_t* end = p + header.p_memsz;
    while (p + sizeof(ElfW(Nhdr)) <= end) {
        ElfW(Nhdr) note;
        std::memcpy(&note, p, sizeof note);
        const uint8_t* name = p + sizeof note;
        const uint8_t* description = name + ((note.n_namesz + 3) & ~3u);
        const uint8_t* after = description + ((note.n_descsz + 3) & ~3u);
        if (after > end) return;
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
            module.build_id.assign(description, description + note.n_descsz);
            return;
        }
        p = after;
    }
}

int add_module(dl_phdr_info* info, size_t, void* data) {
    auto& modules = *static_cast<std::vector<module_info>*>(data);
    uint64_t low = UINT64_MAX;
    uint64_t high = 0;
    module_info module;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type == PT_LOAD) {
            low = std::min<uint64_t>(low, info->dlpi_addr + header.p_vaddr);
            high = std::max<uint64_t>(high, info->dlpi_addr + header.p_vaddr + header.p_memsz);
        } else if (header.p_type == PT_NOTE && module.build_id.empty()) {
            read_build_id(*info, header, module);
        }
    }
    if (low >= high) return 0;
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    module.base = low & ~(page - 1);
    module.size = ((high + page - 1) & ~(page - 1)) - module.base;
    module.path = info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' ? info->dlpi_name : executable_path();
    modules.push_back(module);
    return 0;
}

size_t append_system_info(image& dump) {
    const size_t offset = dump.reserve(56);
    uint32_t architecture = 0xFFFF;
#if defined(__x86_64__)
    architecture = 9;
#elif defined(__i386__)
    architecture = 0;
#elif defined(__aarch64__)
    architecture = 12;
#endif
    dump.put16(offset, architecture);
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        dump.put32(offset + 32, ebx);  // vendor id, three words
        dump.put32(offset + 36, edx);
        dump.put32(offset + 40, ecx);
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        uint32_t family = (eax >> 8) & 0xF;
        uint32_t model = (eax >> 4) & 0xF;
        if (family == 0xF) family += (eax >> 20) & 0xFF;
        if (family >= 0x6) model += ((eax >> 16) & 0xF) << 4;
        dump.put16(offset + 2, family);
        dump.put16(offset + 4, (model << 8) | (eax & 0xF));
        dump.put32(offset + 44, eax);
        dump.put32(offset + 48, edx);
    }
#endif
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    dump.put16(offset + 6, static_cast<uint32_t>(std::min(std::max(processors, 1L), 255L)) | (1u << 8));
    struct utsname names;
    std::string description;
    if (uname(&names) == 0) {
        unsigned major = 0, minor = 0, build = 0;
        std::sscanf(names.release, "%u.%u.%u", &major, &minor, &build);
        dump.put32(offset + 8, major);
        dump.put32(offset + 12, minor);
        dump.put32(offset + 16, build);
        description = std::string(names.sysname) + " " + names.release + " " + names.version + " " + names.machine;
    }
    dump.put32(offset + 20, linux_platform_id);
    const size_t text = dump.append_string(to_utf16(description));
    dump.put32(offset + 24, text);
    return offset;
}

size_t append_misc_info(image& dump) {
    const size_t offset = dump.reserve(24);
    dump.put32(offset, 24);
    dump.put32(offset + 4, 1);  // the process id is valid
    dump.put32(offset + 8, GetCurrentProcessId());
    return offset;
}

// The register context in the AMD64 layout; empty elsewhere.
size_t append_context(image& dump, const ucontext_t& context, size_t& size) {
#if defined(__x86_64__)
    size = amd64_context_size;
    const size_t offset = dump.reserve(size);
    const greg_t* r = context.uc_mcontext.gregs;
    const uint64_t segments = static_cast<uint64_t>(r[REG_CSGSFS]);
    dump.put32(offset + 0x30, 0x0010000F);  // AMD64: control, integer, segments, floating point
    dump.put16(offset + 0x38, segments & 0xFFFF);          // cs
    dump.put16(offset + 0x3E, (segments >> 32) & 0xFFFF);  // fs
    dump.put16(offset + 0x40, (segments >> 16) & 0xFFFF);  // gs
    dump.put16(offset + 0x42, (segments >> 48) & 0xFFFF);  // ss
    dump.put32(offset + 0x44, static_cast<uint64_t>(r[REG_EFL]));
    const int order[] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                         REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP};
    for (size_t i = 0; i < sizeof order / sizeof order[0]; ++i)
        dump.put64(offset + 0x78 + 8 * i, static_cast<uint64_t>(r[order[i]]));
    if (context.uc_mcontext.fpregs != nullptr) {
        dump.put32(offset + 0x34, context.uc_mcontext.fpregs->mxcsr);
        // The kernel's floating-point state is the same 512-byte save area.
        static_assert(sizeof(*context.uc_mcontext.fpregs) == 512, "fxsave layout");
        dump.put_bytes(offset + 0x100, context.uc_mcontext.fpregs, 512);
    }
    return offset;
#else
    (void)context;
    size = 0;
    return dump.reserve(0);
#endif
}

// The calling thread's registers, for a dump without exception information.
// Apart, since getcontext returns twice.
__attribute__((noinline)) void capture_own_context(ucontext_t& context) { getcontext(&context); }

}  // namespace

BOOL WINAPI MiniDumpWriteDump(HANDLE process, DWORD process_id, HANDLE file, MINIDUMP_TYPE dump_type,
                              PMINIDUMP_EXCEPTION_INFORMATION exception_information,
                              PMINIDUMP_USER_STREAM_INFORMATION user_streams,
                              PMINIDUMP_CALLBACK_INFORMATION callback) {
    if (process != GetCurrentProcess() || process_id != GetCurrentProcessId()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dump_type != MiniDumpNormal || user_streams != nullptr || callback != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const EXCEPTION_POINTERS* pointers =
        exception_information != nullptr ? exception_information->ExceptionPointers : nullptr;
    if (exception_information != nullptr && (pointers == nullptr || pointers->ExceptionRecord == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // The registers: as the signal delivered them, or the caller's own.
    ucontext_t own_context;
    const ucontext_t* context = nullptr;
    if (pointers != nullptr && pointers->ContextRecord != nullptr) context = pointers->ContextRecord->native;
    if (context == nullptr) {
        capture_own_context(own_context);
        context = &own_context;
    }
    const DWORD thread_id = exception_information != nullptr ? exception_information->ThreadId : GetCurrentThreadId();

    std::vector<module_info> modules;
    dl_iterate_phdr(add_module, &modules);

    image dump;
    const uint32_t stream_count = pointers != nullptr ? 6 : 5;
    dump.reserve(header_size);
    const size_t directory = dump.reserve(stream_count * directory_entry_size);
    size_t entry = directory;
    auto add_stream = [&](uint32_t type, size_t offset, size_t size) {
        dump.put32(entry, type);
        dump.put_location(entry + 4, size, offset);
        entry += directory_entry_size;
    };

    add_stream(system_info_stream, append_system_info(dump), 56);
    add_stream(misc_info_stream, append_misc_info(dump), 24);

    size_t context_size = 0;
    const size_t context_rva = append_context(dump, *context, context_size);
    uintptr_t stack_start = 0;
    uintptr_t stack_end = 0;
    stack_range(qv_posix::stack_pointer(*context), stack_start, stack_end);
    const size_t stack_rva = dump.append_memory(stack_start, stack_end - stack_start);

    size_t offset = dump.reserve(4 + thread_size);
    dump.put32(offset, 1);
    dump.put32(offset + 4, thread_id);
    dump.put32(offset + 12, 0x20);  // normal priority class
    dump.put64(offset + 4 + 24, stack_start);
    dump.put_location(offset + 4 + 32, stack_end - stack_start, stack_rva);
    dump.put_location(offset + 4 + 40, context_size, context_rva);
    add_stream(thread_list_stream, offset, 4 + thread_size);

    offset = dump.reserve(4 + modules.size() * module_size);
    dump.put32(offset, modules.size());
    for (size_t i = 0; i < modules.size(); ++i) {
        const size_t record = offset + 4 + i * module_size;
        dump.put64(record, modules[i].base);
        dump.put32(record + 8, modules[i].size);
        dump.put32(record + 20, dump.append_string(to_utf16(modules[i].path)));
        if (!modules[i].build_id.empty()) {
            const size_t code_view = dump.reserve(4 + modules[i].build_id.size());
            dump.put32(code_view, elf_code_view_signature);
            dump.put_bytes(code_view + 4, modules[i].build_id.data(), modules[i].build_id.size());
            dump.put_location(record + 76, 4 + modules[i].build_id.size(), code_view);
        }
    }
    add_stream(module_list_stream, offset, 4 + modules.size() * module_size);

    offset = dump.reserve(4 + memory_descriptor_size);
    dump.put32(offset, 1);
    dump.put64(offset + 4, stack_start);
    dump.put_location(offset + 12, stack_end - stack_start, stack_rva);
    add_stream(memory_list_stream, offset, 4 + memory_descriptor_size);

    if (pointers != nullptr) {
        const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
        offset = dump.reserve(168);
        dump.put32(offset, thread_id);
        dump.put32(offset + 8, record.ExceptionCode);
        dump.put32(offset + 12, record.ExceptionFlags);
        dump.put64(offset + 16, reinterpret_cast<uintptr_t>(record.ExceptionRecord));
        dump.put64(offset + 24, reinterpret_cast<uintptr_t>(record.ExceptionAddress));
        const DWORD parameters = std::min<DWORD>(record.NumberParameters, EXCEPTION_MAXIMUM_PARAMETERS);
        dump.put32(offset + 32, parameters);
        for (DWORD i = 0; i < parameters; ++i) dump.put64(offset + 40 + 8 * i, record.ExceptionInformation[i]);
        dump.put_location(offset + 160, context_size, context_rva);
        add_stream(exception_stream, offset, 168);
    }

    dump.put32(0, minidump_signature);
    dump.put32(4, minidump_version);
    dump.put32(8, stream_count);
    dump.put32(12, directory);
    dump.put32(20, static_cast<uint64_t>(std::time(nullptr)));

    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return FALSE;
    DWORD written = 0;
    if (!WriteFile(file, dump.data(), static_cast<DWORD>(dump.size()), &written, nullptr)) return FALSE;
    if (written != dump.size()) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    if (!SetEndOfFile(file)) return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
