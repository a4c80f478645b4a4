// Hooks for tests of painting, inside the layer only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace rh::win32 {

// What the window's surface holds now (what EndPaint showed): 0xAARRGGBB words, top row first.
// False for a handle that is not a window made by CreateWindowExA.
bool ReadWindowSurface(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height);

}  // namespace rh::win32
