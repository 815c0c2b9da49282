// Message boxes: written to standard error in one parseable form, answered
// with IDOK. Implemented in ui.cpp.
#pragma once

#include "platform/posix/types.h"

#define MB_OK 0x00000000
#define MB_ICONERROR 0x00000010
#define IDOK 1

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
