// Modules: the debug help library that the crash dump writer loads from
// the system folder.

#include "tests/win32/contract.h"

namespace {

class modules : public contract::test {};

TEST_F(modules, the_debug_help_library_is_in_the_system_folder) {
    HMODULE library = LoadLibraryExA("dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(library, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(library, "MiniDumpWriteDump"), nullptr);
    EXPECT_TRUE(FreeLibrary(library));
}

}  // namespace
