// Modules: the DLL search as the launcher's entry restricts it, and the
// debug help library that the crash dump writer loads from the system
// folder.

#include "tests/win32/contract.h"

namespace {

using contract::sentinel;

class modules : public contract::test {};

TEST_F(modules, default_directories_are_the_search_flags_alone) {
    SetLastError(sentinel);
    EXPECT_FALSE(SetDefaultDllDirectories(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(sentinel);
    EXPECT_FALSE(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | 0x1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    EXPECT_TRUE(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_TRUE(SetDllDirectoryW(L""));
    EXPECT_TRUE(SetDllDirectoryW(nullptr));
    // Back to what this program started with, near enough.
    EXPECT_TRUE(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
}

TEST_F(modules, the_debug_help_library_is_in_the_system_folder) {
    HMODULE library = LoadLibraryExA("dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(library, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(library, "MiniDumpWriteDump"), nullptr);
    EXPECT_TRUE(FreeLibrary(library));
}

}  // namespace
