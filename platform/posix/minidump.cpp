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
// - a register context is written for x86-64 only (elsewhere its size is 0);
// - inside a fatal-signal filter (internal/fatal_signal.h) the dump is built
//   in memory mapped when the first filter was installed, from the modules
//   and system facts gathered then: it allocates and locks nothing, and a
//   module loaded later is missing from it. Called elsewhere, it gathers
//   them afresh.

#include "platform/posix/internal/exception_context.h"
#include "platform/posix/internal/fatal_signal.h"
#include "platform/win32.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <atomic>
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

// The file image under construction, in a buffer of a fixed capacity that
// was sized beforehand (image_capacity); offsets into it are the format's
// RVAs. What would pass the capacity is not written, and the image fails.
class image {
public:
    image(uint8_t* buffer, size_t capacity) : bytes_(buffer), capacity_(capacity) {}

    size_t size() const { return size_; }
    const uint8_t* data() const { return bytes_; }
    bool failed() const { return failed_; }

    // Appends size zero bytes at a 4-byte boundary and returns their offset.
    size_t reserve(size_t size) {
        const size_t offset = (size_ + 3) & ~size_t(3);
        if (offset > capacity_ || size > capacity_ - offset) {
            failed_ = true;
            return capacity_;
        }
        std::memset(bytes_ + size_, 0, offset + size - size_);
        size_ = offset + size;
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
        if (failed_) return offset;
        const volatile uint8_t* source = reinterpret_cast<const volatile uint8_t*>(address);
        for (size_t i = 0; i < size; ++i) bytes_[offset + i] = source[i];
        return offset;
    }
    void put16(size_t offset, uint32_t value) { put(offset, value, 2); }
    void put32(size_t offset, uint64_t value) { put(offset, value, 4); }
    void put64(size_t offset, uint64_t value) { put(offset, value, 8); }
    void put_bytes(size_t offset, const void* data, size_t size) {
        if (size != 0 && fits(offset, size)) std::memcpy(bytes_ + offset, data, size);
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
    bool fits(size_t offset, size_t size) const { return offset <= size_ && size <= size_ - offset; }
    void put(size_t offset, uint64_t value, size_t width) {
        if (!fits(offset, width)) return;
        for (size_t i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }

    uint8_t* bytes_;
    size_t capacity_;
    size_t size_ = 0;
    bool failed_ = false;
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

// The stack memory to keep: from just below the stack pointer to the end of
// its mapping. A pointer in the guard page (a stack overflow) keeps the
// lowest part of the stack above it. /proc/self/maps is read in pieces into
// a buffer on the stack, and only the start of each line is looked at.
void stack_range(uintptr_t stack_pointer, uintptr_t& start, uintptr_t& end) {
    start = end = 0;
    if (stack_pointer == 0) return;
    const uintptr_t wanted = stack_pointer - red_zone;
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char piece[4096];
    char line[96];  // "start-end perms", with room to spare
    size_t used = 0;
    bool found = false;
    for (ssize_t count; !found && (count = read(fd, piece, sizeof piece)) > 0;) {
        for (ssize_t i = 0; i < count && !found; ++i) {
            if (piece[i] != '\n') {
                if (used + 1 < sizeof line) line[used++] = piece[i];
                continue;
            }
            line[used] = '\0';
            used = 0;
            char* next = nullptr;
            const uintptr_t low = static_cast<uintptr_t>(std::strtoull(line, &next, 16));
            if (*next != '-') continue;
            const uintptr_t high = static_cast<uintptr_t>(std::strtoull(next + 1, &next, 16));
            if (next[0] != ' ' || next[1] != 'r') continue;
            if ((low <= wanted && wanted < high) || (low > wanted && low - wanted <= 64 * 1024)) {
                start = std::max(low, wanted);
                end = high;
                found = true;
            }
        }
    }
    close(fd);
    end = std::min(end, start + stack_cap);
}

struct module_info {
    uint64_t base;
    uint64_t size;
    std::u16string path;
    std::vector<uint8_t> build_id;
};

// What a dump holds that cannot be read safely at the time of a fault.
struct system_facts {
    uint32_t architecture = 0xFFFF;
    uint32_t family = 0;
    uint32_t model_and_stepping = 0;
    uint32_t vendor[3] = {};
    uint32_t signature = 0;  // cpuid 1: eax and edx
    uint32_t features = 0;
    uint32_t processors = 1;
    uint32_t version[3] = {};  // of the kernel
    std::u16string description;
};

struct dump_facts {
    system_facts system;
    std::vector<module_info> modules;
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
    module.path = to_utf16(info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' ? info->dlpi_name : executable_path());
    modules.push_back(module);
    return 0;
}

system_facts gather_system_facts() {
    system_facts facts;
#if defined(__x86_64__)
    facts.architecture = 9;
#elif defined(__i386__)
    facts.architecture = 0;
#elif defined(__aarch64__)
    facts.architecture = 12;
#endif
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        facts.vendor[0] = ebx;
        facts.vendor[1] = edx;
        facts.vendor[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        uint32_t family = (eax >> 8) & 0xF;
        uint32_t model = (eax >> 4) & 0xF;
        if (family == 0xF) family += (eax >> 20) & 0xFF;
        if (family >= 0x6) model += ((eax >> 16) & 0xF) << 4;
        facts.family = family;
        facts.model_and_stepping = (model << 8) | (eax & 0xF);
        facts.signature = eax;
        facts.features = edx;
    }
#endif
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    facts.processors = static_cast<uint32_t>(std::min(std::max(processors, 1L), 255L));
    struct utsname names;
    if (uname(&names) == 0) {
        std::sscanf(names.release, "%u.%u.%u", &facts.version[0], &facts.version[1], &facts.version[2]);
        facts.description =
            to_utf16(std::string(names.sysname) + " " + names.release + " " + names.version + " " + names.machine);
    }
    return facts;
}

dump_facts gather_facts() {
    dump_facts facts;
    facts.system = gather_system_facts();
    dl_iterate_phdr(add_module, &facts.modules);
    return facts;
}

size_t append_system_info(image& dump, const system_facts& facts) {
    const size_t offset = dump.reserve(56);
    dump.put16(offset, facts.architecture);
    dump.put16(offset + 2, facts.family);
    dump.put16(offset + 4, facts.model_and_stepping);
    dump.put16(offset + 6, facts.processors | (1u << 8));
    for (int i = 0; i < 3; ++i) dump.put32(offset + 8 + 4 * i, facts.version[i]);
    dump.put32(offset + 20, linux_platform_id);
    for (int i = 0; i < 3; ++i) dump.put32(offset + 32 + 4 * i, facts.vendor[i]);
    dump.put32(offset + 44, facts.signature);
    dump.put32(offset + 48, facts.features);
    const size_t text = dump.append_string(facts.description);
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

// The most a dump of these facts can take, alignment included.
size_t image_capacity(const dump_facts& facts) {
    size_t size = header_size + 6 * directory_entry_size + 56 + 4 + 2 * facts.system.description.size() + 2 + 24 +
                  amd64_context_size + stack_cap + 4 + thread_size + 4 + facts.modules.size() * module_size + 4 +
                  memory_descriptor_size + 168;
    for (const module_info& module : facts.modules) size += 4 + 2 * module.path.size() + 2 + 4 + module.build_id.size();
    return size + 4 * (16 + 2 * facts.modules.size());  // each piece starts at a 4-byte boundary
}

void build_dump(image& dump, const dump_facts& facts, const ucontext_t& context, DWORD thread_id,
                const EXCEPTION_POINTERS* pointers) {
    const uint32_t stream_count = pointers != nullptr ? 6 : 5;
    dump.reserve(header_size);
    const size_t directory = dump.reserve(stream_count * directory_entry_size);
    size_t entry = directory;
    auto add_stream = [&](uint32_t type, size_t offset, size_t size) {
        dump.put32(entry, type);
        dump.put_location(entry + 4, size, offset);
        entry += directory_entry_size;
    };

    add_stream(system_info_stream, append_system_info(dump, facts.system), 56);
    add_stream(misc_info_stream, append_misc_info(dump), 24);

    size_t context_size = 0;
    const size_t context_rva = append_context(dump, context, context_size);
    uintptr_t stack_start = 0;
    uintptr_t stack_end = 0;
    stack_range(qv_posix::stack_pointer(context), stack_start, stack_end);
    const size_t stack_rva = dump.append_memory(stack_start, stack_end - stack_start);

    size_t offset = dump.reserve(4 + thread_size);
    dump.put32(offset, 1);
    dump.put32(offset + 4, thread_id);
    dump.put32(offset + 12, 0x20);  // normal priority class
    dump.put64(offset + 4 + 24, stack_start);
    dump.put_location(offset + 4 + 32, stack_end - stack_start, stack_rva);
    dump.put_location(offset + 4 + 40, context_size, context_rva);
    add_stream(thread_list_stream, offset, 4 + thread_size);

    const std::vector<module_info>& modules = facts.modules;
    offset = dump.reserve(4 + modules.size() * module_size);
    dump.put32(offset, modules.size());
    for (size_t i = 0; i < modules.size(); ++i) {
        const size_t record = offset + 4 + i * module_size;
        dump.put64(record, modules[i].base);
        dump.put32(record + 8, modules[i].size);
        dump.put32(record + 20, dump.append_string(modules[i].path));
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
}

BOOL write_image(HANDLE file, const image& dump) {
    if (dump.failed()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
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

// For dumps from a fatal-signal filter: the facts and the image's memory,
// made when the first filter was installed; one dump at a time uses them.
const dump_facts* prepared_facts = nullptr;
uint8_t* prepared_memory = nullptr;
size_t prepared_capacity = 0;
std::atomic<bool> prepared_in_use(false);

}  // namespace

void qv_posix::prepare_minidump() {
    const dump_facts* facts = new dump_facts(gather_facts());  // lives until exit
    const size_t capacity = image_capacity(*facts);
    void* memory = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    prepared_memory = static_cast<uint8_t*>(memory);
    prepared_capacity = capacity;
    prepared_facts = facts;
}

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

    if (!qv_posix::in_fatal_signal()) {
        const dump_facts facts = gather_facts();
        std::vector<uint8_t> memory(image_capacity(facts));
        image dump(memory.data(), memory.size());
        build_dump(dump, facts, *context, thread_id, pointers);
        return write_image(file, dump);
    }
    if (prepared_facts == nullptr || prepared_in_use.exchange(true)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    image dump(prepared_memory, prepared_capacity);
    build_dump(dump, *prepared_facts, *context, thread_id, pointers);
    const BOOL written = write_image(file, dump);
    prepared_in_use.store(false);
    return written;
}
