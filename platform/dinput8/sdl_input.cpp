// The input hub: one SDL event watch turns keyboard, mouse and focus events into records for
// every acquired device, the moment SDL reads them.

#include "platform/dinput8/dinput8_local.h"

#include "platform/win32/sdl_window.h"

#include <mmsystem.h>

#include <SDL.h>

#include <algorithm>
#include <vector>

namespace rh::dinput8 {
namespace {

// Which window has the keyboard focus: a window id, none, or not yet known.
constexpr unsigned kNoWindow = 0;
constexpr unsigned kNotKnown = ~0u;

struct Hub {
    std::vector<Device*> devices;
    DWORD sequence = 0;
    unsigned focus = kNotKnown;
    bool watching = false;
};

Hub& TheHub() {
    static Hub hub;
    return hub;
}

template <typename Deliver>
void ToAcquired(DeviceKind kind, Deliver deliver) {
    for (Device* device : TheHub().devices) {
        if (device->kind() == kind && device->acquired()) deliver(device);
    }
}

void OnFocus(const SDL_WindowEvent& e) {
    Hub& hub = TheHub();
    if (e.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
        hub.focus = e.windowID;
        return;
    }
    if (e.event != SDL_WINDOWEVENT_FOCUS_LOST) return;
    if (hub.focus == e.windowID || hub.focus == kNotKnown) hub.focus = kNoWindow;
    for (Device* device : hub.devices) {
        if (device->foregroundWindow() == e.windowID) device->LoseAcquisition();
    }
}

void OnKey(const SDL_KeyboardEvent& e) {
    // DirectInput reports a held key once: the system's auto-repeat is not input.
    if (e.repeat != 0) return;
    DWORD dik = DikFromSdl(e.keysym.scancode);
    if (dik == 0) return;
    DWORD time = timeGetTime();
    DWORD sequence = NextSequence();
    bool down = e.type == SDL_KEYDOWN;
    ToAcquired(DeviceKind::Keyboard, [&](Device* d) { d->OnKey(dik, down, time, sequence); });
}

void OnMotion(const SDL_MouseMotionEvent& e) {
    if (e.xrel == 0 && e.yrel == 0) return;
    DWORD time = timeGetTime();
    DWORD sequence = NextSequence();
    ToAcquired(DeviceKind::Mouse, [&](Device* d) { d->OnMotion(e.xrel, e.yrel, time, sequence); });
}

void OnButton(const SDL_MouseButtonEvent& e) {
    DWORD button = 0;
    switch (e.button) {
        case SDL_BUTTON_LEFT: button = 0; break;
        case SDL_BUTTON_RIGHT: button = 1; break;
        case SDL_BUTTON_MIDDLE: button = 2; break;
        case SDL_BUTTON_X1: button = 3; break;
        default: return;
    }
    DWORD time = timeGetTime();
    DWORD sequence = NextSequence();
    bool down = e.type == SDL_MOUSEBUTTONDOWN;
    ToAcquired(DeviceKind::Mouse, [&](Device* d) { d->OnButton(button, down, time, sequence); });
}

void OnWheel(const SDL_MouseWheelEvent& e) {
    // Positive away from the user in both systems, WHEEL_DELTA per notch.
    LONG sign = e.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
    LONG dz = sign * e.y * WHEEL_DELTA;
    if (dz == 0) return;
    DWORD time = timeGetTime();
    DWORD sequence = NextSequence();
    ToAcquired(DeviceKind::Mouse, [&](Device* d) { d->OnWheel(dz, time, sequence); });
}

int OnSdlEvent(void*, SDL_Event* event) {
    switch (event->type) {
        case SDL_WINDOWEVENT:
        case SDL_KEYDOWN:
        case SDL_KEYUP:
        case SDL_MOUSEMOTION:
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
        case SDL_MOUSEWHEEL: break;
        default: return 0;
    }
    std::lock_guard<std::mutex> lock(InputLock());
    switch (event->type) {
        case SDL_WINDOWEVENT: OnFocus(event->window); break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: OnKey(event->key); break;
        case SDL_MOUSEMOTION: OnMotion(event->motion); break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: OnButton(event->button); break;
        case SDL_MOUSEWHEEL: OnWheel(event->wheel); break;
        default: break;
    }
    return 0;
}

}  // namespace

std::mutex& InputLock() {
    static std::mutex lock;
    return lock;
}

void WatchSdlInput() {
    std::lock_guard<std::mutex> lock(InputLock());
    if (TheHub().watching) return;
    TheHub().watching = true;
    // Never removed: the watch outlives every device and costs nothing without one.
    SDL_AddEventWatch(&OnSdlEvent, nullptr);
}

bool WindowHasFocus(unsigned windowId) {
    Hub& hub = TheHub();
    if (hub.focus != kNotKnown) return windowId != kNoWindow && hub.focus == windowId;
    SDL_Window* focused = SDL_WasInit(SDL_INIT_VIDEO) != 0 ? SDL_GetKeyboardFocus() : nullptr;
    return focused == nullptr || SDL_GetWindowID(focused) == windowId;
}

void AddDevice(Device* device) { TheHub().devices.push_back(device); }

void RemoveDevice(Device* device) {
    auto& devices = TheHub().devices;
    devices.erase(std::remove(devices.begin(), devices.end(), device), devices.end());
}

DWORD NextSequence() { return ++TheHub().sequence; }

DWORD DikFromSdl(int scancode) {
    win32::KeyCodes key = win32::KeyFromSdl(scancode, 0);
    if (key.vk == 0) return 0;
    // Windows reports NumLock with the extended bit and Pause without it; DirectInput names
    // them the other way round.
    if (key.vk == VK_NUMLOCK) return 0x45;
    if (key.vk == VK_PAUSE) return 0xC5;
    return static_cast<DWORD>(key.scan & 0x7F) + (key.extended ? 0x80 : 0);
}

namespace testing {

void InjectRecord(DeviceKind kind, DWORD offset, DWORD data, DWORD timeStamp) {
    std::lock_guard<std::mutex> lock(InputLock());
    DWORD sequence = NextSequence();
    ToAcquired(kind, [&](Device* d) { d->Record(offset, data, timeStamp, sequence); });
}

}  // namespace testing
}  // namespace rh::dinput8
