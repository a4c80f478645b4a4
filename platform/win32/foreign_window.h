// Windows of other programs, named by their X window id: a host's window that the preview is
// made a child of. The layer talks to the display server over a connection of its own, so
// that nothing here depends on which toolkit opened the display first.
#pragma once

#include <windows.h>

#include <cstdint>

namespace rh::win32 {

// The X window id a handle stands for when it names no window of this process (the number a
// host passes on the command line); 0 for a live window or null.
uint32_t ForeignWindowId(HWND hwnd);

// The foreign window's size; false when it names no X window (or there is no display).
bool ForeignWindowSize(uint32_t xid, int* width, int* height);

// A new mapped X window inside parent at x, y with the size given; 0 when parent names no X
// window. While it lives, the parent is watched for its destruction.
uint32_t CreateForeignChild(uint32_t parent, int x, int y, int width, int height);

// Whether the display server has destroyed the window since it was watched (or it is gone).
bool ForeignWindowGone(uint32_t xid);

}  // namespace rh::win32
