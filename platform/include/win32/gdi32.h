// Windows painting: the paint cycle of a window made by CreateWindowExA, bitmaps from the
// module's resources and copying them into the window.
//
// Painting goes into the window's own pixel surface (no Direct3D device, no OpenGL), which is
// shown when EndPaint returns. A device context is the window's paint context or a memory
// context holding one bitmap; nothing is scaled, and copies are clipped to the client area.
#pragma once

// Not part of <windows.h> here: engine code has names of its own that gdi32 also uses
// (DeleteObject), so only the code that paints includes this header.
#include <windows.h>

RH_DECLARE_HANDLE(HDC);
RH_DECLARE_HANDLE(HBITMAP);
typedef void* HGDIOBJ;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

#define SRCCOPY 0x00CC0020

// Starts painting a window made by CreateWindowExA: validates it (no further WM_PAINT until
// it is invalidated again) and answers its paint context, rcPaint the whole client area. Null
// for an invalid window, a dialog or a control.
HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint);
// Shows what was painted and ends the paint context.
BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* paint);

// The RT_BITMAP resource (a device-independent bitmap, 1 to 32 bits) as a bitmap; null when
// it is missing or cannot be decoded. DeleteObject frees it.
HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR name);
// A memory context that holds no bitmap yet (null: the screen); DeleteDC frees it.
HDC WINAPI CreateCompatibleDC(HDC dc);
// Puts a bitmap into a memory context and answers the one it held before (null at first);
// null for anything else.
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
// Copies width x height pixels from (sx, sy) of source to (x, y) of dest, unscaled, clipped
// to both; only SRCCOPY. FALSE for an invalid context or operation.
BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy,
                   DWORD rop);
BOOL WINAPI DeleteDC(HDC dc);
// Frees a bitmap; a bitmap still selected into a context stays until that context is deleted,
// as Windows refuses to delete it (FALSE).
BOOL WINAPI DeleteObject(HGDIOBJ object);
