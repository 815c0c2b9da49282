// Security attributes made from a descriptor's text form (SDDL), for the
// objects the launcher creates in folders others can write.
#pragma once

#include "platform/win32.h"

namespace tessel {

class security_attributes {
public:
    // get() is null when the text cannot be converted; the last error then
    // says why.
    explicit security_attributes(const char* text) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &descriptor_, nullptr))
            return;
        attributes_.nLength = sizeof(attributes_);
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    // Keeps the last error of the call the attributes were made for.
    ~security_attributes() {
        const DWORD error = GetLastError();
        LocalFree(descriptor_);
        SetLastError(error);
    }
    security_attributes(const security_attributes&) = delete;
    security_attributes& operator=(const security_attributes&) = delete;

    SECURITY_ATTRIBUTES* get() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace tessel
