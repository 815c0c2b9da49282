// The POSIX layer's parser of registry hive files (the "Windows Registry
// Editor Version 5.00" text, in UTF-16LE, UTF-8 or the ANSI code page) on
// arbitrary bytes, followed by lookups in whatever tree it built.
//
// Properties checked beyond the sanitizers: a parse that fails names its
// fault, and every key of the tree is found again by its path.

#include "fuzz/fuzz_support.h"
#include "platform/posix/internal/reg_file.h"

#include <cstdint>
#include <string>

namespace {

using qv_posix::reg::key_node;

void visit(const key_node& root, const key_node& node, const std::wstring& path, int depth) {
    for (const auto& value : node.values) (void)value.second.size();
    for (const auto& subkey : node.subkeys) {
        const std::wstring child = path.empty() ? subkey.first : path + L"\\" + subkey.first;
        if (qv_posix::reg::find(root, child) != subkey.second.get()) fuzz::fail("a key is not found by its path");
        if (depth < 64) visit(root, *subkey.second, child, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv_posix::reg::hive hive;
    std::string fault;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!qv_posix::reg::parse(bytes, hive, fault)) {
        if (fault.empty()) fuzz::fail("a failed parse without a fault");
        return 0;
    }
    visit(hive.root, hive.root, std::wstring(), 0);
    qv_posix::reg::find(hive.root, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    return 0;
}
