// Shell: opening documents and addresses.
#pragma once

#include "win32/types.h"

#define SW_HIDE 0
#define SW_SHOWNORMAL 1

// "open" hands the file or address to the desktop (xdg-open) without waiting. Returns a value
// above 32 when the hand-over started, 31 or less on failure.
HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                               LPCSTR directory, INT showCommand);
