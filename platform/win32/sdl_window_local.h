// The seam between the Windows family and the other SDL-backed families of the layer (the
// Direct3D device, DirectInput): which SDL window stands behind a window handle, and the
// pump that turns SDL events into queued window messages.
#pragma once

#include <windows.h>

struct SDL_Window;

namespace rh::win32 {

// The SDL window behind a window made by CreateWindowExA. Every such window is an SDL window
// made with SDL_WINDOW_OPENGL, so a GL context can be created on it. Null for dialogs and
// their controls, for stale handles and for null.
SDL_Window* SdlWindowOf(HWND hwnd);

// The window made by CreateWindowExA whose SDL window this is, or null (null, or an SDL
// window the layer did not make for a window handle).
HWND WindowFromSdlWindow(SDL_Window* window);

// SDL_PumpEvents, then every pending SDL event becomes what Windows would deliver for it:
// input is queued as messages for PeekMessageA/GetMessageA; activation, focus, size and close
// requests are sent to the window procedures before this returns, as Windows sends them.
// PeekMessageA and GetMessageA call it themselves. Every pending event is taken from SDL's
// queue (SDL_QUIT is dropped: a program ends through its windows); a family that needs the raw
// events watches them with SDL_AddEventWatch. UI thread only.
void PumpSdlEvents();

// Asks SDL for the GL pixel format and context every window of the layer carries and the
// Direct3D device's context uses: OpenGL 2.1 compatibility, double-buffered, RGBA8 (alpha bits
// as given), depth 24, stencil 8. The window's format and the context's must match (EGL is
// strict about that), so windows and devices both set it through here.
void SetGlPixelFormat(int alphaBits);

// SDL's video, timer and events subsystems, started once and kept for the whole run. False
// when no video driver can be opened (CreateWindowExA then fails).
bool EnsureSdlVideo();

}  // namespace rh::win32
