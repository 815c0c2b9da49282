// Sets the layer's ANSI code page (QV_ACP) for the lifetime of a test.
#pragma once

#include <cstdlib>

class scoped_acp {
public:
    explicit scoped_acp(const char* code_page) { setenv("QV_ACP", code_page, 1); }
    ~scoped_acp() { unsetenv("QV_ACP"); }
    scoped_acp(const scoped_acp&) = delete;
    scoped_acp& operator=(const scoped_acp&) = delete;
};
