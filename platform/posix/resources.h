// String tables compiled from resources/launcher.rc. Implemented in
// resources.cpp.
#pragma once

#include "platform/posix/types.h"

int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int buffer_max);
