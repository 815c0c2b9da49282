// Code page conversions over iconv, for the ANSI code pages and UTF-8, and
// the system's language. CP_ACP is 1252 unless QV_ACP names another code
// page. Wide strings are wchar_t (UTF-32 here). Implemented in text.cpp;
// GetSystemDefaultLangID in locale.cpp.
#pragma once

#include "platform/posix/types.h"

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define MAX_DEFAULTCHAR 2
#define MAX_LEADBYTES 12

typedef struct _cpinfo {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
} CPINFO, *LPCPINFO;

BOOL WINAPI GetCPInfo(UINT code_page, LPCPINFO info);
int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH input, int input_length, LPWSTR output,
                               int output_length);
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH input, int input_length, LPSTR output,
                               int output_length, LPCCH default_char, LPBOOL used_default_char);
UINT WINAPI GetACP();
LANGID WINAPI GetSystemDefaultLangID();
