#include "saver/preview.h"

#include <win32/gdi32.h>

void PaintPreview(HWND window, HINSTANCE instance) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr) return;
    RECT client{0, 0, 0, 0};
    GetClientRect(window, &client);
    // Loaded at every paint: the preview paints seldom, and nothing is held between paints.
    HBITMAP picture = LoadBitmapA(instance, MAKEINTRESOURCEA(kPreviewBitmap));
    HDC memory = picture != nullptr ? CreateCompatibleDC(dc) : nullptr;
    if (memory != nullptr) {
        SelectObject(memory, picture);
        BitBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, memory, 0, 0, SRCCOPY);
        DeleteDC(memory);
    }
    if (picture != nullptr) DeleteObject(picture);
    EndPaint(window, &paint);
}
