// keybd_event and SendInput: keys typed by the program itself. They go into SDL's event queue
// as the keyboard's own events would, so the message queue and DirectInput cannot tell them
// from typed keys; nothing leaves the process.

#include "platform/win32/sdl_window.h"

#include <windows.h>

#include <SDL.h>

namespace {

bool InjectKey(WORD virtualKey, bool up) {
    if (SDL_WasInit(SDL_INIT_EVENTS) == 0) return false;
    auto scancode = static_cast<SDL_Scancode>(rh::win32::SdlScancodeFromVk(virtualKey));
    if (scancode == SDL_SCANCODE_UNKNOWN) return false;
    SDL_Event event{};
    event.type = up ? SDL_KEYUP : SDL_KEYDOWN;
    event.key.timestamp = SDL_GetTicks();
    // The key goes where the keyboard's would: the window with the keyboard focus.
    SDL_Window* focus = rh::win32::SdlWindowOf(rh::win32::FocusWindow());
    if (focus == nullptr && SDL_WasInit(SDL_INIT_VIDEO) != 0) focus = SDL_GetKeyboardFocus();
    event.key.windowID = focus != nullptr ? SDL_GetWindowID(focus) : 0;
    event.key.state = up ? SDL_RELEASED : SDL_PRESSED;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
    event.key.keysym.mod = static_cast<Uint16>(SDL_GetModState());
    // SDL hands pushed events to its watchers (DirectInput's) at once, then queues them for
    // the message pump.
    return SDL_PushEvent(&event) == 1;
}

}  // namespace

void WINAPI keybd_event(BYTE virtualKey, BYTE, DWORD flags, ULONG_PTR) {
    InjectKey(virtualKey, (flags & KEYEVENTF_KEYUP) != 0);
}

UINT WINAPI SendInput(UINT count, LPINPUT inputs, int size) {
    if (size != static_cast<int>(sizeof(INPUT)) || inputs == nullptr) return 0;
    UINT sent = 0;
    for (; sent < count; ++sent) {
        const INPUT& input = inputs[sent];
        if (input.type != INPUT_KEYBOARD || !InjectKey(input.ki.wVk, (input.ki.dwFlags & KEYEVENTF_KEYUP) != 0)) break;
    }
    return sent;
}
