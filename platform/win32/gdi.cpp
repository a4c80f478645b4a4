// The paint cycle and bitmap copies of gdi32 over a window's SDL surface. The preview
// painted this way needs no Direct3D device and no GL context.

#include "platform/win32/dialogs_local.h"
#include "platform/win32/gdi_testing.h"
#include "platform/win32/sdl_window.h"

#include <win32/gdi32.h>

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <vector>

struct HBITMAP__ {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB, top row first
    HDC selectedInto = nullptr;
    bool deletePending = false;
};

struct HDC__ {
    // A window's paint context, or a memory context holding `bitmap`.
    rh::win32::SdlWindow* window = nullptr;
    HBITMAP bitmap = nullptr;
};

namespace rh::win32 {
namespace {

std::unordered_set<const void*>& LiveObjects() {
    static std::unordered_set<const void*> objects;
    return objects;
}

HDC LiveDc(HDC dc) { return dc != nullptr && LiveObjects().count(dc) != 0 ? dc : nullptr; }
HBITMAP LiveBitmap(HGDIOBJ o) {
    auto* b = static_cast<HBITMAP>(o);
    return b != nullptr && LiveObjects().count(b) != 0 ? b : nullptr;
}

void FreeBitmap(HBITMAP b) {
    LiveObjects().erase(b);
    delete b;
}

// The window's surface, software-drawn whatever GL the window may also carry.
SDL_Surface* WindowSurface(SdlWindow* w) {
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    return w != nullptr ? SDL_GetWindowSurface(w->sdl()) : nullptr;
}

}  // namespace

bool ReadWindowSurface(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height) {
    SDL_Surface* s = WindowSurface(SdlWindowFromHandle(hwnd));
    if (s == nullptr) return false;
    *width = s->w;
    *height = s->h;
    pixels->assign(static_cast<size_t>(s->w) * s->h, 0);
    SDL_ConvertPixels(s->w, s->h, s->format->format, s->pixels, s->pitch, SDL_PIXELFORMAT_ARGB8888,
                      pixels->data(), s->w * 4);
    return true;
}

}  // namespace rh::win32

using rh::win32::LiveBitmap;
using rh::win32::LiveDc;
using rh::win32::LiveObjects;

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    rh::win32::SdlWindow* w = rh::win32::SdlWindowFromHandle(hwnd);
    if (w == nullptr || paint == nullptr) return nullptr;
    w->Validate();
    auto* dc = new HDC__{w, nullptr};
    LiveObjects().insert(dc);
    RECT r = w->ScreenRect();
    *paint = PAINTSTRUCT{};
    paint->hdc = dc;
    paint->rcPaint = RECT{0, 0, r.right - r.left, r.bottom - r.top};
    return dc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint == nullptr) return FALSE;
    HDC dc = LiveDc(paint->hdc);
    rh::win32::SdlWindow* w = rh::win32::SdlWindowFromHandle(hwnd);
    if (dc == nullptr || w == nullptr || dc->window != w) return FALSE;
    SDL_UpdateWindowSurface(w->sdl());
    LiveObjects().erase(dc);
    delete dc;
    return TRUE;
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR name) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    GdkPixbuf* pixbuf = rh::win32::LoadBitmapResource(instance, LOWORD(name));
    if (pixbuf == nullptr) return nullptr;
    auto* b = new HBITMAP__;
    b->width = gdk_pixbuf_get_width(pixbuf);
    b->height = gdk_pixbuf_get_height(pixbuf);
    b->pixels.resize(static_cast<size_t>(b->width) * b->height);
    const guchar* data = gdk_pixbuf_get_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    for (int y = 0; y < b->height; ++y) {
        const guchar* row = data + static_cast<size_t>(y) * stride;
        for (int x = 0; x < b->width; ++x) {
            const guchar* p = row + x * channels;
            // A screen bitmap has no alpha: what Windows shows is the colour alone.
            b->pixels[static_cast<size_t>(y) * b->width + x] =
                0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
    }
    g_object_unref(pixbuf);
    LiveObjects().insert(b);
    return b;
}

HDC WINAPI CreateCompatibleDC(HDC dc) {
    if (dc != nullptr && LiveDc(dc) == nullptr) return nullptr;
    auto* memory = new HDC__{};
    LiveObjects().insert(memory);
    return memory;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    HDC d = LiveDc(dc);
    HBITMAP b = LiveBitmap(object);
    if (d == nullptr || b == nullptr || d->window != nullptr) return nullptr;
    if (b->selectedInto != nullptr && b->selectedInto != d) return nullptr;  // one context at a time
    HBITMAP previous = d->bitmap;
    if (previous != nullptr && previous != b) previous->selectedInto = nullptr;
    d->bitmap = b;
    b->selectedInto = d;
    return previous;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy,
                   DWORD rop) {
    HDC d = LiveDc(dest);
    HDC s = LiveDc(source);
    if (d == nullptr || s == nullptr || rop != SRCCOPY || s->bitmap == nullptr || d->window == nullptr) {
        return FALSE;
    }
    SDL_Surface* surface = rh::win32::WindowSurface(d->window);
    if (surface == nullptr) return FALSE;
    const HBITMAP__& b = *s->bitmap;
    // Clip the source rectangle to the bitmap and the target to the surface, together.
    if (sx < 0) { x -= sx; width += sx; sx = 0; }
    if (sy < 0) { y -= sy; height += sy; sy = 0; }
    if (x < 0) { sx -= x; width += x; x = 0; }
    if (y < 0) { sy -= y; height += y; y = 0; }
    width = std::min({width, b.width - sx, surface->w - x});
    height = std::min({height, b.height - sy, surface->h - y});
    if (width <= 0 || height <= 0) return TRUE;
    if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
    SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_ARGB8888,
                      b.pixels.data() + static_cast<size_t>(sy) * b.width + sx, b.width * 4,
                      surface->format->format,
                      static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch +
                          x * surface->format->BytesPerPixel,
                      surface->pitch);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    return TRUE;
}

BOOL WINAPI DeleteDC(HDC dc) {
    HDC d = LiveDc(dc);
    if (d == nullptr || d->window != nullptr) return FALSE;
    if (HBITMAP b = d->bitmap) {
        b->selectedInto = nullptr;
        if (b->deletePending) rh::win32::FreeBitmap(b);
    }
    LiveObjects().erase(d);
    delete d;
    return TRUE;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    HBITMAP b = LiveBitmap(object);
    if (b == nullptr) return FALSE;
    if (b->selectedInto != nullptr) {
        // Windows refuses; the bitmap is freed with its context so that nothing leaks.
        b->deletePending = true;
        return FALSE;
    }
    rh::win32::FreeBitmap(b);
    return TRUE;
}
