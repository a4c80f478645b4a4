// File version information (version.dll).
#pragma once

#include "win32/types.h"

#define VS_FFI_SIGNATURE 0xFEEF04BDu

typedef struct tagVS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;
static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO is 13 DWORDs");

// Size of the file's version information block; 0 when the file has none or cannot be read.
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle);
// Copies the version information block into data (size bytes); FALSE when it has none.
BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
// Sub-block "\\" answers the VS_FIXEDFILEINFO inside the block.
BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);
