// The one header business code includes for the Win32 API: the real SDK
// on Windows, our own POSIX implementation of the subset everywhere else.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <sddl.h>
#include <aclapi.h>
#include <dbghelp.h>
#else
#include "platform/posix/types.h"
#include "platform/posix/errors.h"
#include "platform/posix/files.h"
#include "platform/posix/memory.h"
#include "platform/posix/processes.h"
#include "platform/posix/sync.h"
#include "platform/posix/security.h"
#include "platform/posix/text.h"
#include "platform/posix/ui.h"
#include "platform/posix/resources.h"
#include "platform/posix/shell.h"
#include "platform/posix/registry.h"
#include "platform/posix/dumps.h"
#include "platform/posix/crt.h"
#endif
