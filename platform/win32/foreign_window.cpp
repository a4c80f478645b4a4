#include "platform/win32/foreign_window.h"

#include "platform/win32/sdl_window_local.h"
#include "platform/win32/window_local.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <X11/Xlib.h>

#include <chrono>
#include <set>

namespace rh::win32 {
namespace {

Display* g_display = nullptr;
XErrorHandler g_previousHandler = nullptr;
int g_lastError = 0;

// Xlib has one error handler for every connection of the process. Errors about windows that no
// longer exist come from a host that closed its window while the preview still drew into it
// (through any toolkit's connection); they are expected and must not end the process, as
// Xlib's default handler would. Everything else goes where it went before.
int OnXError(Display* display, XErrorEvent* error) {
    g_lastError = error->error_code;
    if (error->error_code == BadWindow || error->error_code == BadDrawable || error->error_code == BadMatch) return 0;
    return g_previousHandler != nullptr ? g_previousHandler(display, error) : 0;
}

Display* Connection() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        g_display = XOpenDisplay(nullptr);
        if (g_display != nullptr) g_previousHandler = XSetErrorHandler(OnXError);
    }
    return g_display;
}

// Windows whose DestroyNotify arrived on our connection.
std::set<uint32_t>& Destroyed() {
    static std::set<uint32_t> destroyed;
    return destroyed;
}

bool Attributes(uint32_t xid, XWindowAttributes* attributes) {
    Display* d = Connection();
    if (d == nullptr || xid == 0) return false;
    XSync(d, False);
    g_lastError = 0;
    Status ok = XGetWindowAttributes(d, xid, attributes);
    XSync(d, False);
    return ok != 0 && g_lastError == 0;
}

}  // namespace

uint32_t ForeignWindowId(HWND hwnd) {
    if (hwnd == nullptr || LiveWindow(hwnd) != nullptr) return 0;
    auto number = reinterpret_cast<uintptr_t>(hwnd);
    // X window ids are 29-bit numbers; anything larger names none.
    return number <= 0x1FFFFFFFu ? static_cast<uint32_t>(number) : 0;
}

bool ForeignWindowSize(uint32_t xid, int* width, int* height) {
    XWindowAttributes a;
    if (!Attributes(xid, &a)) return false;
    *width = a.width;
    *height = a.height;
    return true;
}

uint32_t CreateForeignChild(uint32_t parent, int x, int y, int width, int height) {
    XWindowAttributes a;
    if (!Attributes(parent, &a)) return 0;
    Display* d = Connection();
    g_lastError = 0;
    XSelectInput(d, parent, StructureNotifyMask);
    Window child = XCreateSimpleWindow(d, parent, x, y, static_cast<unsigned>(width > 0 ? width : 1),
                                       static_cast<unsigned>(height > 0 ? height : 1), 0, 0, 0);
    XMapWindow(d, child);
    XSync(d, False);
    if (g_lastError != 0) return 0;
    Destroyed().erase(parent);
    return static_cast<uint32_t>(child);
}

bool ForeignWindowGone(uint32_t xid) {
    Display* d = Connection();
    if (d == nullptr) return true;
    while (XPending(d) > 0) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == DestroyNotify) Destroyed().insert(static_cast<uint32_t>(e.xdestroywindow.window));
    }
    return Destroyed().count(xid) != 0;
}

void AwaitWindowSize(SDL_Window* window, int width, int height) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window == nullptr || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    // SDL's requests may still sit in its connection's buffer.
    XFlush(info.info.x11.display);
    const uint32_t xid = static_cast<uint32_t>(info.info.x11.window);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    int w = 0;
    int h = 0;
    while (ForeignWindowSize(xid, &w, &h) && (w != width || h != height) &&
           std::chrono::steady_clock::now() < deadline) {
        SDL_Delay(2);
    }
}

}  // namespace rh::win32
