// The seam between the Windows family and the other SDL-backed families of the layer (the
// Direct3D device, DirectInput): which SDL window stands behind a window handle, and the
// pump that turns SDL events into queued window messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct SDL_Window;

namespace rh::win32 {

// The SDL window behind a window made by CreateWindowExA. Every such window is an SDL window
// made with SDL_WINDOW_OPENGL, so a GL context can be created on it. Null for dialogs and
// their controls, for stale handles and for null.
SDL_Window* SdlWindowOf(HWND hwnd);

// A number that changes whenever a window dies or the SDL window behind a handle changes:
// while it stays the same, every SdlWindowOf answer seen under it still holds. (Windows
// coming into being leave it alone; nothing that was found stops being so then.)
uint64_t WindowGeneration();

// The window made by CreateWindowExA whose SDL window this is, or null (null, or an SDL
// window the layer did not make for a window handle).
HWND WindowFromSdlWindow(SDL_Window* window);

// SDL_PumpEvents, then every pending SDL event becomes what Windows would deliver for it:
// input is queued as messages for PeekMessageA/GetMessageA; activation, focus, size and close
// requests are sent to the window procedures before this returns, as Windows sends them.
// PeekMessageA and GetMessageA call it themselves. Every pending event is taken from SDL's
// queue; a family that needs the raw events watches them with SDL_AddEventWatch. SDL_QUIT
// (SIGTERM, SIGINT) and SIGHUP send WM_CLOSE to every top-level window: a program ends through
// its windows. UI thread only.
void PumpSdlEvents();

// Under X11 a size or full-screen change reaches the display server after SDL has recorded
// it, and a frame drawn meanwhile is cut to the window's old size (a loading picture drawn
// once and shown for a second stays cut). Waits, at most half a second, until the server's
// window has the size given. Other drivers change the size at once: returns at once.
void AwaitWindowSize(SDL_Window* window, int width, int height);

// Catches SIGHUP for PumpSdlEvents, unless its disposition was changed from the default.
// Called when SDL's events start (SDL catches SIGINT and SIGTERM then).
void CatchHangup();

// Asks SDL for the GL pixel format and context every window of the layer carries and the
// Direct3D device's context uses: OpenGL 2.1 compatibility, double-buffered, RGBA8 (alpha bits
// as given), depth 24, stencil 8. The window's format and the context's must match (EGL is
// strict about that), so windows and devices both set it through here.
void SetGlPixelFormat(int alphaBits);

// SDL's video, timer and events subsystems, started once and kept for the whole run, with the
// GL library loaded. False when no display can be opened (CreateWindowExA then fails), which is
// reported once on stderr. SDL's invisible drivers (offscreen, dummy) count as a display only
// when SDL_VIDEODRIVER asks for them: SDL would otherwise fall back to them silently.
bool EnsureSdlVideo();

// What the OpenGL driver offers, as a hidden window in the layer's GL pixel format finds it.
struct GlDriverFacts {
    bool hasContext = false;  // some context came up
    // The context version asked for that came up: 2.1 (compatibility), or 1.1 when only an
    // older context could be had. 0.0 without a context.
    int contextMajor = 0;
    int contextMinor = 0;
    // As the driver words them; empty when unknown.
    std::string vendor, renderer, version, shadingLanguageVersion, extensions;
    int maxTextureSize = 0;
    int max3dTextureSize = 0;
    int maxTextureUnits = 0;  // fixed-function texture units
    int maxLights = 0;
    int maxClipPlanes = 0;
    float maxPointSize = 1.0f;
    float maxAnisotropy = 1.0f;  // 1 without GL_EXT_texture_filter_anisotropic
};

// The process's one probe of the OpenGL driver, run on the first call (starting SDL's video
// with EnsureSdlVideo); later calls answer the same. Leaves the current context as it found it
// and the GL attributes at the layer's pixel format. Both the DirectX diagnostics and
// Direct3DCreate9 answer from it: loading a driver and making a context are the slow part of
// start-up.
const GlDriverFacts& ProbeGlDriver();

// Whether name is one of the blank-separated words of a GL_EXTENSIONS text.
bool HasGlExtension(const std::string& extensions, const char* name);

}  // namespace rh::win32
