// A case in the ANSI code page it names. The POSIX layer takes the code
// page from QV_ACP, which this sets for the case's lifetime; a Windows
// process has the one its manifest or its system gives it, so there the
// case holds only in a build made for that code page.
#pragma once

#include "platform/win32.h"

#include <cstdlib>
#include <optional>
#include <string>

class ansi_code_page {
public:
    explicit ansi_code_page(const char* code_page) : wanted_(std::strtoul(code_page, nullptr, 10)) {
#ifndef _WIN32
        if (const char* old = std::getenv("QV_ACP")) old_ = old;
        setenv("QV_ACP", code_page, 1);
#endif
    }
    ~ansi_code_page() {
#ifndef _WIN32
        if (old_)
            setenv("QV_ACP", old_->c_str(), 1);
        else
            unsetenv("QV_ACP");
#endif
    }
    ansi_code_page(const ansi_code_page&) = delete;
    ansi_code_page& operator=(const ansi_code_page&) = delete;

    // Whether the system now converts with that code page.
    bool in_effect() const { return GetACP() == wanted_; }

private:
    unsigned long wanted_;
    std::optional<std::string> old_;
};
