// What the sources of platform/dinput8 share: the device object and the input hub that feeds
// every live device from SDL's events. Engine code sees only dinput.h.
#pragma once

#include "platform/com/com_object.h"
#include "platform/dinput8/dinput8_testing.h"

#include <dinput.h>

#include <array>
#include <deque>
#include <mutex>

namespace rh::dinput8 {

// The lock every device and the hub share: records are delivered from SDL event watches, which
// SDL may call on whichever thread pushes an event.
std::mutex& InputLock();

class Device final : public com::ComObject<IDirectInputDevice8A, IID_IDirectInputDevice8A> {
public:
    // Joins the hub's list of live devices.
    explicit Device(DeviceKind kind);

    HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) override;
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hwnd, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE SetProperty(REFGUID property, LPCDIPROPHEADER header) override;
    HRESULT STDMETHODCALLTYPE SetEventNotification(HANDLE event) override;
    HRESULT STDMETHODCALLTYPE Acquire() override;
    HRESULT STDMETHODCALLTYPE Unacquire() override;
    HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) override;
    HRESULT STDMETHODCALLTYPE GetDeviceData(DWORD objectSize, LPDIDEVICEOBJECTDATA records, LPDWORD inOut,
                                            DWORD flags) override;

    // ---- Input, delivered by the hub with InputLock held, only while acquired ---------------
    DeviceKind kind() const { return kind_; }
    bool acquired() const { return acquired_; }
    // The SDL window id foreground cooperation follows; 0 for background cooperation.
    unsigned foregroundWindow() const { return foreground_ ? windowId_ : 0; }

    void OnKey(DWORD dik, bool down, DWORD time, DWORD sequence);
    void OnMotion(LONG dx, LONG dy, DWORD time, DWORD sequence);
    void OnWheel(LONG dz, DWORD time, DWORD sequence);
    void OnButton(DWORD button, bool down, DWORD time, DWORD sequence);
    // A record with no change of state: what the test hook injects.
    void Record(DWORD offset, DWORD data, DWORD time, DWORD sequence);
    // The cooperative window lost the focus: a foreground device is unacquired and says so on
    // its next read.
    void LoseAcquisition();

private:
    ~Device() override;

    // DIERR_INPUTLOST once after a loss, then DIERR_NOTACQUIRED; DI_OK while acquired.
    HRESULT CheckAcquired();
    void Signal();

    const DeviceKind kind_;
    bool hasFormat_ = false;
    bool absoluteAxes_ = false;
    bool foreground_ = false;
    unsigned windowId_ = 0;
    bool acquired_ = false;
    bool lost_ = false;
    HANDLE event_ = nullptr;
    // The size DIPROP_BUFFERSIZE set; the buffer holds one record fewer.
    DWORD bufferSize_ = 0;
    std::deque<DIDEVICEOBJECTDATA> buffer_;
    bool overflowed_ = false;
    // Keyboard: a byte per DIK code. Mouse: the axes summed since the device was made, what
    // they moved since the last state read, and the buttons.
    std::array<BYTE, 256> keys_{};
    LONG axes_[3] = {0, 0, 0};
    LONG moved_[3] = {0, 0, 0};
    BYTE buttons_[4] = {0, 0, 0, 0};
};

// Starts feeding live devices from SDL's events (once per process; later calls do nothing).
void WatchSdlInput();
// Whether the window (an SDL window id) has the keyboard focus as far as the input read so far
// tells. Until SDL reports focus, every window counts as focused, as the Direct3D device
// assumes.
bool WindowHasFocus(unsigned windowId);
// Live devices join and leave the hub; called with InputLock held.
void AddDevice(Device* device);
void RemoveDevice(Device* device);
// The DIK code of an SDL scancode: the key's set-1 scan code, + 0x80 for the keys Windows
// reports as extended, with NumLock and Pause as DirectInput names them. 0 for keys without one.
DWORD DikFromSdl(int scancode);
// The next sequence number; called with InputLock held.
DWORD NextSequence();

// The DirectInput data formats' objects, compared field by field by SetDataFormat.
bool IsKeyboardFormat(const DIDATAFORMAT& format);
bool IsMouseFormat(const DIDATAFORMAT& format);

}  // namespace rh::dinput8
