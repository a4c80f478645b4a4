// Multimedia timer.
#pragma once

#include "windows.h"

// Milliseconds from an arbitrary start, wrapping after 2^32 ms as on Windows.
DWORD WINAPI timeGetTime(void);
