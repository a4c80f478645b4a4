// A keyboard or mouse device: format, cooperation, acquisition, the record buffer and the
// immediate state.

#include "platform/dinput8/dinput8_local.h"

#include "platform/win32/sdl_window_local.h"
#include "platform/win32/win32_local.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace rh::dinput8 {
namespace {

// DirectInput lowers a larger request to what it can hold.
constexpr DWORD kMaxBufferSize = 1 << 16;

constexpr DWORD kCooperationFlags = DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_BACKGROUND;

// Bit 7 of a key or button byte: down.
constexpr BYTE kDown = 0x80;

// The DIK code of every key SDL reports as held now, for the state a keyboard starts from.
void ReadHeldKeys(std::array<BYTE, 256>& keys) {
    keys.fill(0);
    int count = 0;
    const Uint8* held = SDL_GetKeyboardState(&count);
    for (int scancode = 0; held != nullptr && scancode < count; ++scancode) {
        if (held[scancode] == 0) continue;
        DWORD dik = DikFromSdl(scancode);
        if (dik != 0) keys[dik] = kDown;
    }
}

}  // namespace

Device::Device(DeviceKind kind) : kind_(kind) {
    std::lock_guard<std::mutex> lock(InputLock());
    AddDevice(this);
}

Device::~Device() {
    std::lock_guard<std::mutex> lock(InputLock());
    RemoveDevice(this);
}

HRESULT STDMETHODCALLTYPE Device::SetDataFormat(LPCDIDATAFORMAT format) {
    if (format == nullptr) return DIERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(InputLock());
    if (acquired_) return DIERR_ACQUIRED;
    bool fits = kind_ == DeviceKind::Keyboard ? IsKeyboardFormat(*format) : IsMouseFormat(*format);
    if (!fits) return DIERR_INVALIDPARAM;
    hasFormat_ = true;
    absoluteAxes_ = format->dwFlags == DIDF_ABSAXIS;
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetCooperativeLevel(HWND hwnd, DWORD flags) {
    bool exclusive = (flags & DISCL_EXCLUSIVE) != 0;
    bool foreground = (flags & DISCL_FOREGROUND) != 0;
    if ((flags & ~kCooperationFlags) != 0 || exclusive == ((flags & DISCL_NONEXCLUSIVE) != 0) ||
        foreground == ((flags & DISCL_BACKGROUND) != 0)) {
        return DIERR_INVALIDPARAM;
    }
    // Windows keeps exclusive background access to the keyboard for itself.
    if (kind_ == DeviceKind::Keyboard && exclusive && !foreground) return DIERR_UNSUPPORTED;
    SDL_Window* window = win32::SdlWindowOf(hwnd);
    // Only nonexclusive background access works without a window of the program.
    if (window == nullptr && (hwnd != nullptr || exclusive || foreground)) return E_HANDLE;
    std::lock_guard<std::mutex> lock(InputLock());
    foreground_ = foreground;
    windowId_ = window != nullptr ? SDL_GetWindowID(window) : 0;
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetProperty(REFGUID property, LPCDIPROPHEADER header) {
    if (header == nullptr || header->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    if (property != DIPROP_BUFFERSIZE) return DIERR_UNSUPPORTED;
    // The buffer belongs to the whole device.
    if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE || header->dwObj != 0) {
        return DIERR_INVALIDPARAM;
    }
    std::lock_guard<std::mutex> lock(InputLock());
    if (acquired_) return DIERR_ACQUIRED;
    bufferSize_ = std::min(reinterpret_cast<const DIPROPDWORD*>(header)->dwData, kMaxBufferSize);
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetEventNotification(HANDLE event) {
    std::lock_guard<std::mutex> lock(InputLock());
    if (acquired_) return DIERR_ACQUIRED;
    if (event == nullptr) {
        event_ = nullptr;
        return DI_OK;
    }
    if (event_ != nullptr) return DIERR_HANDLEEXISTS;
    if (!win32::IsOpenEvent(event)) return DIERR_INVALIDPARAM;
    event_ = event;
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE Device::Acquire() {
    std::lock_guard<std::mutex> lock(InputLock());
    if (!hasFormat_) return DIERR_INVALIDPARAM;
    if (acquired_) return DI_NOEFFECT;
    if (foreground_ && !WindowHasFocus(windowId_)) return DIERR_OTHERAPPHASPRIO;
    acquired_ = true;
    lost_ = false;
    buffer_.clear();
    overflowed_ = false;
    std::fill(std::begin(moved_), std::end(moved_), 0);
    if (kind_ == DeviceKind::Keyboard) {
        ReadHeldKeys(keys_);
    } else {
        Uint32 held = SDL_GetMouseState(nullptr, nullptr);
        const Uint32 masks[4] = {SDL_BUTTON_LMASK, SDL_BUTTON_RMASK, SDL_BUTTON_MMASK, SDL_BUTTON_X1MASK};
        for (int i = 0; i < 4; ++i) buttons_[i] = (held & masks[i]) != 0 ? kDown : 0;
    }
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE Device::Unacquire() {
    std::lock_guard<std::mutex> lock(InputLock());
    if (!acquired_) return DI_NOEFFECT;
    acquired_ = false;
    return DI_OK;
}

HRESULT Device::CheckAcquired() {
    if (acquired_) return DI_OK;
    if (lost_) {
        lost_ = false;
        return DIERR_INPUTLOST;
    }
    return DIERR_NOTACQUIRED;
}

HRESULT STDMETHODCALLTYPE Device::GetDeviceState(DWORD size, LPVOID data) {
    if (data == nullptr) return DIERR_INVALIDPARAM;
    std::lock_guard<std::mutex> lock(InputLock());
    if (!hasFormat_) return DIERR_INVALIDPARAM;
    DWORD expected = kind_ == DeviceKind::Keyboard ? 256 : sizeof(DIMOUSESTATE);
    if (size != expected) return DIERR_INVALIDPARAM;
    if (HRESULT hr = CheckAcquired(); hr != DI_OK) return hr;
    if (kind_ == DeviceKind::Keyboard) {
        std::memcpy(data, keys_.data(), keys_.size());
        return DI_OK;
    }
    DIMOUSESTATE state{};
    const LONG* axes = absoluteAxes_ ? axes_ : moved_;
    state.lX = axes[0];
    state.lY = axes[1];
    state.lZ = axes[2];
    std::memcpy(state.rgbButtons, buttons_, sizeof buttons_);
    std::memcpy(data, &state, sizeof state);
    std::fill(std::begin(moved_), std::end(moved_), 0);
    return DI_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetDeviceData(DWORD objectSize, LPDIDEVICEOBJECTDATA records, LPDWORD inOut,
                                                DWORD flags) {
    if (objectSize != sizeof(DIDEVICEOBJECTDATA) || inOut == nullptr || (flags & ~DWORD(DIGDD_PEEK)) != 0) {
        return DIERR_INVALIDPARAM;
    }
    std::lock_guard<std::mutex> lock(InputLock());
    if (!hasFormat_) return DIERR_INVALIDPARAM;
    if (bufferSize_ == 0) return DIERR_NOTBUFFERED;
    if (HRESULT hr = CheckAcquired(); hr != DI_OK) return hr;
    size_t count = std::min<size_t>(*inOut, buffer_.size());
    if (records != nullptr) std::copy_n(buffer_.begin(), count, records);
    *inOut = static_cast<DWORD>(count);
    HRESULT result = overflowed_ ? DI_BUFFEROVERFLOW : DI_OK;
    if ((flags & DIGDD_PEEK) == 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
        overflowed_ = false;
    }
    return result;
}

// ---- Input ---------------------------------------------------------------------------------

void Device::Signal() {
    if (event_ != nullptr) SetEvent(event_);
}

void Device::Record(DWORD offset, DWORD data, DWORD time, DWORD sequence) {
    if (bufferSize_ > 0) {
        // DirectInput's buffer holds one record fewer than its size; once full, new records are
        // lost and the next read says so.
        if (buffer_.size() + 1 < bufferSize_) {
            buffer_.push_back(DIDEVICEOBJECTDATA{offset, data, time, sequence, 0});
        } else {
            overflowed_ = true;
        }
    }
    Signal();
}

void Device::OnKey(DWORD dik, bool down, DWORD time, DWORD sequence) {
    keys_[dik & 0xFF] = down ? kDown : 0;
    Record(dik & 0xFF, down ? kDown : 0, time, sequence);
}

void Device::OnMotion(LONG dx, LONG dy, DWORD time, DWORD sequence) {
    const LONG delta[2] = {dx, dy};
    const DWORD offsets[2] = {DIMOFS_X, DIMOFS_Y};
    for (int axis = 0; axis < 2; ++axis) {
        if (delta[axis] == 0) continue;
        // Summed in unsigned arithmetic: the absolute axes wrap rather than overflow.
        axes_[axis] = static_cast<LONG>(static_cast<DWORD>(axes_[axis]) + static_cast<DWORD>(delta[axis]));
        moved_[axis] = static_cast<LONG>(static_cast<DWORD>(moved_[axis]) + static_cast<DWORD>(delta[axis]));
        Record(offsets[axis], static_cast<DWORD>(absoluteAxes_ ? axes_[axis] : delta[axis]), time, sequence);
    }
}

void Device::OnWheel(LONG dz, DWORD time, DWORD sequence) {
    if (dz == 0) return;
    axes_[2] = static_cast<LONG>(static_cast<DWORD>(axes_[2]) + static_cast<DWORD>(dz));
    moved_[2] = static_cast<LONG>(static_cast<DWORD>(moved_[2]) + static_cast<DWORD>(dz));
    Record(DIMOFS_Z, static_cast<DWORD>(absoluteAxes_ ? axes_[2] : dz), time, sequence);
}

void Device::OnButton(DWORD button, bool down, DWORD time, DWORD sequence) {
    if (button > 3) return;
    buttons_[button] = down ? kDown : 0;
    Record(DIMOFS_BUTTON0 + button, down ? kDown : 0, time, sequence);
}

void Device::LoseAcquisition() {
    if (!acquired_ || !foreground_) return;
    acquired_ = false;
    lost_ = true;
    // DirectInput signals the loss of acquisition like new data.
    Signal();
}

}  // namespace rh::dinput8
