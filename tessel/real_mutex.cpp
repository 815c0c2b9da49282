// The named system mutex of the support library.

#include "tessel/real_mutex.h"

#include "tessel/exception.h"
#include "tessel/text.h"

#include <cstring>

namespace tessel {

real_mutex::real_mutex(const std::string& name) : handle(nullptr) {
    // A present but null access list lets every user open the mutex.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;

    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);

    // Namespaces exist from NT 5 on; a name that names its own namespace
    // keeps it, older systems only know the bare name.
    std::string system_name = name;
    if (version.dwMajorVersion > 4) {
        if (!contains(system_name, "\\")) system_name.insert(0, "Global\\");
    } else {
        const size_t last = system_name.rfind('\\');
        if (last != std::string::npos) system_name.erase(0, last + 1);
    }

    handle = CreateMutexA(&attributes, FALSE, system_name.c_str());
    if (handle == nullptr) handle = OpenMutexA(MUTEX_MODIFY_STATE, FALSE, system_name.c_str());
    if (handle == nullptr) throw exception("OpenMutex returned 0x%08x", static_cast<unsigned>(GetLastError()));
}

real_mutex::~real_mutex() { CloseHandle(handle); }

bool real_mutex::try_acquire(DWORD timeout_milliseconds) {
    switch (WaitForSingleObject(handle, timeout_milliseconds)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            return true;
        case WAIT_TIMEOUT:
            return false;
        case WAIT_FAILED:
            throw exception("WaitForSingleObject returned 0x%08x", static_cast<unsigned>(GetLastError()));
        default:
            return true;
    }
}

void real_mutex::acquire() { try_acquire(INFINITE); }

void real_mutex::release() {
    if (!ReleaseMutex(handle)) throw exception("ReleaseMutex returned 0x%08x", static_cast<unsigned>(GetLastError()));
}

}  // namespace tessel
