// The crash dump writer over the debug help library's MiniDumpWriteDump,
// which is loaded at run time, never linked.

#include "config/crash_dump.h"

#include "config/app_paths.h"
#include "platform/native_path.h"
#include "tessel/format.h"
#include "tessel/unicode/unicode.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace config {
namespace {

typedef BOOL(WINAPI* minidump_write_dump_function)(HANDLE process, DWORD process_id, HANDLE file,
                                                   MINIDUMP_TYPE dump_type,
                                                   PMINIDUMP_EXCEPTION_INFORMATION exception_information,
                                                   PMINIDUMP_USER_STREAM_INFORMATION user_streams,
                                                   PMINIDUMP_CALLBACK_INFORMATION callback);

std::string dump_file_path;
HMODULE debug_help_library = nullptr;
minidump_write_dump_function minidump_write_dump = nullptr;
MINIDUMP_TYPE dump_type = MiniDumpNormal;
LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = nullptr;
bool exit_routine_registered = false;

// The thread that is writing the dump, 0 while none is. Threads that fail at
// the same moment take turns instead of writing the one file together; no
// lock object, since the filter may run on a thread that failed inside one.
std::atomic<DWORD> dumping_thread(0);

void write_dump(EXCEPTION_POINTERS* exception_pointers) {
    const DWORD thread = GetCurrentThreadId();
    DWORD idle = 0;
    while (!dumping_thread.compare_exchange_weak(idle, thread)) {
        if (idle == thread) return;  // failed again while writing its own dump
        idle = 0;
        std::this_thread::yield();
    }
    const HANDLE file = CreateFileA(dump_file_path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        MINIDUMP_EXCEPTION_INFORMATION exception_information;
        exception_information.ThreadId = thread;
        exception_information.ExceptionPointers = exception_pointers;
        exception_information.ClientPointers = FALSE;
        minidump_write_dump(GetCurrentProcess(), GetCurrentProcessId(), file, dump_type, &exception_information,
                            nullptr, nullptr);
        CloseHandle(file);
    }
    dumping_thread.store(0);
}

}  // namespace

void install_crash_dump_writer() {
    const std::wstring dump_folder = get_user_data_folder() + L"Dumps";
    boost::filesystem::create_directories(boost::filesystem::path(platform::native_path(dump_folder)));
    const std::wstring prefix = dump_folder + L"\\" + get_module_file_name();
    if (install_dump_filter(tessel::unicode::to_narrow(prefix, CP_ACP, true)) && !exit_routine_registered) {
        std::atexit(remove_dump_filter);
        exit_routine_registered = true;
    }
}

bool install_dump_filter(const std::string& prefix) {
    if (debug_help_library == nullptr) {
        // From the system folder alone, never a copy planted beside the program.
        debug_help_library = LoadLibraryExA("dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (debug_help_library != nullptr) {
            // Through the one function type that matches every other.
            minidump_write_dump = reinterpret_cast<minidump_write_dump_function>(
                reinterpret_cast<void (*)()>(GetProcAddress(debug_help_library, "MiniDumpWriteDump")));
            // 64 bits, so that the name stays right past 2038.
            dump_file_path = tessel::format("%s.%I64d.dmp", prefix.c_str(), static_cast<long long>(std::time(nullptr)));
            dump_type = MiniDumpNormal;
            previous_filter = SetUnhandledExceptionFilter(dump_filter);
        }
    }
    return minidump_write_dump != nullptr;
}

LONG WINAPI dump_filter(EXCEPTION_POINTERS* exception_pointers) {
    if (minidump_write_dump != nullptr) write_dump(exception_pointers);
    if (previous_filter != nullptr) return previous_filter(exception_pointers);
    return EXCEPTION_CONTINUE_SEARCH;
}

void remove_dump_filter() {
    SetUnhandledExceptionFilter(previous_filter);
    if (debug_help_library != nullptr) FreeLibrary(debug_help_library);
}

}  // namespace config
