// The preview mode's picture: bitmap 1053 painted into the preview window.
#pragma once

#include <windows.h>

constexpr int kPreviewBitmap = 1053;

// WM_PAINT of the preview window: the picture at (0, 0), unscaled, clipped to the client area.
void PaintPreview(HWND window, HINSTANCE instance);
