// SDL events become what Windows delivers: queued input messages, and activation, focus,
// size, paint and close requests sent to the window procedures.

#include "platform/win32/sdl_window.h"

#include <SDL.h>

#include <csignal>
#include <vector>

namespace rh::win32 {
namespace {

// The window that last gained the keyboard focus: the target of key events SDL reports
// without a window.
HWND g_focus = nullptr;

// Set by the SIGHUP handler; the next pump turns it into what SDL_QUIT becomes.
volatile std::sig_atomic_t g_hangup = 0;

void OnHangup(int) { g_hangup = 1; }

// A host ending the program (SDL turns SIGTERM and SIGINT into SDL_QUIT; a closed terminal
// sends SIGHUP) asks every top-level window of ours to close, as Windows asks a program's
// windows when the session ends: each leaves its normal way, through WM_CLOSE.
void CloseTopLevelWindows() {
    std::vector<HWND> tops;
    for (SdlWindow* w : SdlWindows()) {
        if (w->parent() == nullptr) tops.push_back(w);
    }
    for (HWND hwnd : tops) {
        if (SdlWindowFromHandle(hwnd) != nullptr) SendMessageA(hwnd, WM_CLOSE, 0, 0);
    }
}

SdlWindow* WindowOfEvent(Uint32 windowId) {
    HWND hwnd = windowId != 0 ? WindowFromSdlWindow(SDL_GetWindowFromID(windowId)) : nullptr;
    return SdlWindowFromHandle(hwnd);
}

SdlWindow* KeyTarget(Uint32 windowId) {
    SdlWindow* w = WindowOfEvent(windowId);
    return w != nullptr ? w : SdlWindowFromHandle(g_focus);
}

WPARAM MouseKeys() {
    WPARAM mk = 0;
    if (KeyDown(VK_LBUTTON)) mk |= MK_LBUTTON;
    if (KeyDown(VK_RBUTTON)) mk |= MK_RBUTTON;
    if (KeyDown(VK_MBUTTON)) mk |= MK_MBUTTON;
    if (KeyDown(VK_XBUTTON1)) mk |= MK_XBUTTON1;
    if (KeyDown(VK_XBUTTON2)) mk |= MK_XBUTTON2;
    if (KeyDown(VK_SHIFT)) mk |= MK_SHIFT;
    if (KeyDown(VK_CONTROL)) mk |= MK_CONTROL;
    return mk;
}

void NoteClientPoint(SdlWindow* w, int x, int y) {
    RECT client = w->ClientScreenRect();
    NoteCursor(w, POINT{client.left + x, client.top + y});
}

void OnWindowEvent(const SDL_WindowEvent& e) {
    SdlWindow* w = WindowOfEvent(e.windowID);
    if (w == nullptr) return;
    switch (e.event) {
        case SDL_WINDOWEVENT_EXPOSED: w->Invalidate(); break;
        case SDL_WINDOWEVENT_MOVED: w->OnMoved(e.data1, e.data2); break;
        case SDL_WINDOWEVENT_RESIZED: w->OnResized(e.data1, e.data2, true); break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: w->OnResized(e.data1, e.data2, false); break;
        case SDL_WINDOWEVENT_MINIMIZED:
            if (!w->minimized()) w->OnMinimized();
            break;
        case SDL_WINDOWEVENT_MAXIMIZED: w->OnMaximized(); break;
        case SDL_WINDOWEVENT_RESTORED:
            if (w->minimized() || w->maximized()) w->OnRestored();
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            g_focus = w;
            w->OnFocus(true);
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            if (g_focus == w) g_focus = nullptr;
            w->OnFocus(false);
            break;
        case SDL_WINDOWEVENT_CLOSE: SendMessageA(w, WM_CLOSE, 0, 0); break;
        default: break;
    }
}

void OnKey(const SDL_KeyboardEvent& e) {
    SdlWindow* w = KeyTarget(e.windowID);
    KeyCodes key = KeyFromSdl(e.keysym.scancode, e.keysym.sym);
    bool down = e.type == SDL_KEYDOWN;
    if (key.vk == 0) return;
    NoteKey(key.vk, down);
    if (w == nullptr) return;
    bool alt = (e.keysym.mod & KMOD_ALT) != 0;
    bool ctrl = (e.keysym.mod & KMOD_CTRL) != 0;
    // Windows reports Alt combinations, Alt itself and F10 as system keys; Ctrl+Alt is AltGr,
    // which types characters, so it stays an ordinary key.
    bool system = ((alt || key.vk == VK_MENU) && !ctrl) || key.vk == VK_F10;
    UINT msg = system ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
    // Repeat count 1, scan code, extended bit, Alt held, previous state, transition.
    DWORD lParam = 1u | (static_cast<DWORD>(key.scan & 0xFF) << 16);
    if (key.extended) lParam |= 1u << 24;
    if (alt) lParam |= 1u << 29;
    if (!down || e.repeat != 0) lParam |= 1u << 30;
    if (!down) lParam |= 1u << 31;
    QueueMessage(w, msg, static_cast<WPARAM>(key.vk), static_cast<LPARAM>(lParam));
}

void OnText(const SDL_TextInputEvent& e) {
    SdlWindow* w = KeyTarget(e.windowID);
    if (w == nullptr) return;
    std::string typed = AnsiFromWide(WideFromUtf8(e.text));
    if (typed.empty() || AttachTypedText(w, typed)) return;
    // Text without a key of its own (an input method): characters only.
    for (char c : typed) QueueMessage(w, WM_CHAR, static_cast<unsigned char>(c), 1);
}

void OnMotion(const SDL_MouseMotionEvent& e) {
    SdlWindow* w = WindowOfEvent(e.windowID);
    if (w == nullptr) return;
    NoteClientPoint(w, e.x, e.y);
    QueueMouseMove(w, MouseKeys(), MAKELPARAM(e.x, e.y));
}

void OnButton(const SDL_MouseButtonEvent& e) {
    bool down = e.type == SDL_MOUSEBUTTONDOWN;
    int vk = 0;
    UINT msg = 0;
    WORD xbutton = 0;
    switch (e.button) {
        case SDL_BUTTON_LEFT: vk = VK_LBUTTON; msg = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
        case SDL_BUTTON_RIGHT: vk = VK_RBUTTON; msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
        case SDL_BUTTON_MIDDLE: vk = VK_MBUTTON; msg = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
        case SDL_BUTTON_X1: vk = VK_XBUTTON1; xbutton = XBUTTON1; break;
        case SDL_BUTTON_X2: vk = VK_XBUTTON2; xbutton = XBUTTON2; break;
        default: return;
    }
    if (xbutton != 0) msg = down ? WM_XBUTTONDOWN : WM_XBUTTONUP;
    NoteKey(vk, down);
    SdlWindow* w = WindowOfEvent(e.windowID);
    if (w == nullptr) return;
    NoteClientPoint(w, e.x, e.y);
    QueueMessage(w, msg, MAKEWPARAM(MouseKeys(), xbutton), MAKELPARAM(e.x, e.y));
}

void OnWheel(const SDL_MouseWheelEvent& e) {
    SdlWindow* w = KeyTarget(e.windowID);
    if (w == nullptr) return;
    int sign = e.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
    POINT at{};
    GetCursorPos(&at);
    // Positive is away from the user (vertical) and to the right (horizontal) in both systems.
    if (e.y != 0) {
        auto delta = static_cast<WORD>(static_cast<SHORT>(sign * e.y * WHEEL_DELTA));
        QueueMessage(w, WM_MOUSEWHEEL, MAKEWPARAM(MouseKeys(), delta), MAKELPARAM(at.x, at.y));
    }
    if (e.x != 0) {
        auto delta = static_cast<WORD>(static_cast<SHORT>(sign * e.x * WHEEL_DELTA));
        QueueMessage(w, WM_MOUSEHWHEEL, MAKEWPARAM(MouseKeys(), delta), MAKELPARAM(at.x, at.y));
    }
}

void Translate(const SDL_Event& e) {
    switch (e.type) {
        case SDL_WINDOWEVENT: OnWindowEvent(e.window); break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: OnKey(e.key); break;
        case SDL_TEXTINPUT: OnText(e.text); break;
        case SDL_MOUSEMOTION: OnMotion(e.motion); break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: OnButton(e.button); break;
        case SDL_MOUSEWHEEL: OnWheel(e.wheel); break;
        case SDL_QUIT: CloseTopLevelWindows(); break;
        default: break;
    }
}

}  // namespace

HWND FocusWindow() { return SdlWindowFromHandle(g_focus) != nullptr ? g_focus : nullptr; }

void PumpSdlEvents() {
    if (SDL_WasInit(SDL_INIT_EVENTS) == 0) return;
    SDL_PumpEvents();
    // Taken out first: a procedure that reads the queue while one of these is delivered must
    // not see the same event twice.
    std::vector<SDL_Event> events;
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) events.push_back(e);
    for (const SDL_Event& event : events) Translate(event);
    CheckForeignParents();
    if (g_hangup != 0) {
        g_hangup = 0;
        CloseTopLevelWindows();
    }
}

void CatchHangup() {
    // A disposition someone chose (nohup's SIG_IGN, a host's handler) is left alone, as SDL
    // leaves SIGINT's and SIGTERM's.
    struct sigaction old {};
    if (sigaction(SIGHUP, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) return;
    struct sigaction action {};
    action.sa_handler = &OnHangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
}

}  // namespace rh::win32
