// The registry of the current user. Implemented in platform/win32: the
// registry is a text file, ${XDG_CONFIG_HOME:-$HOME/.config}/rimeholt/registry, in the registry
// editor's REGEDIT4 export layout (UTF-8), which a user may read and edit.
#pragma once

#include "win32/types.h"
#include "win32/kernel32.h"

RH_DECLARE_HANDLE(HKEY);
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

// Predefined keys are sign-extended 32-bit values, as on 64-bit Windows.
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))

#define KEY_READ 0x20019
#define KEY_WRITE 0x20006

#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4

// What RegCreateKeyExA did.
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L

// Opens the key subKey below `key` (HKEY_CURRENT_USER or an open key), creating it and the keys
// on the way when missing, whatever the access asked for. Backslashes separate the path's
// names; empty names (doubled, leading or trailing backslashes) are dropped, so "A\\B" is
// "A\B"; a null or empty subKey opens `key` itself. Names compare without regard to case and
// keep the case they were created with. The disposition (may be null) tells whether the key was
// created. The key's values are read from the file now; KEY_WRITE allows RegSetValueExA, whose
// changes reach the file at RegCloseKey. ERROR_ACCESS_DENIED when the key would have to be
// created, or KEY_WRITE is asked, and the file's folder cannot be written;
// ERROR_INVALID_HANDLE for an unknown key; ERROR_INVALID_PARAMETER for a null result or a
// name longer than 255 bytes. The class, options and security attributes are ignored.
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                            REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition);

// Reads the value `name` (null or empty: the key's default value) of a key opened for reading.
// The type (may be null) is the type it was stored with. dataSize holds the buffer's size and
// receives the value's size in bytes (a REG_SZ counts its terminator, as stored). Null data
// answers only the type and size; a buffer too small answers ERROR_MORE_DATA with the size
// needed and its bytes left undefined. ERROR_FILE_NOT_FOUND when there is no such value (the
// outputs are untouched); ERROR_ACCESS_DENIED for a key opened without KEY_READ;
// ERROR_INVALID_PARAMETER for data without a size or a non-null reserved.
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize);

// Stores dataSize bytes as the value `name` with the type given (never checked against the
// bytes; a REG_SZ should count its terminator). Seen at once through this handle; written to
// the file at RegCloseKey. ERROR_ACCESS_DENIED for a key opened without KEY_WRITE;
// ERROR_INVALID_PARAMETER for null data with a size.
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize);

// Writes the key's changes into the file (what other programs wrote meanwhile is kept) and
// closes the handle; a predefined key answers ERROR_SUCCESS. The handle is closed even when the
// file cannot be written, which answers ERROR_ACCESS_DENIED. ERROR_INVALID_HANDLE for a handle
// that names no open key.
LONG WINAPI RegCloseKey(HKEY key);
