// DirectInput8Create and the DirectInput object, which makes the system keyboard and mouse.

#include "platform/dinput8/dinput8_local.h"

namespace rh::dinput8 {
namespace {

class DirectInput final : public com::ComObject<IDirectInput8A, IID_IDirectInput8A> {
public:
    HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, IDirectInputDevice8A** device, LPUNKNOWN outer) override {
        if (device == nullptr) return DIERR_INVALIDPARAM;
        *device = nullptr;
        if (outer != nullptr) return DIERR_NOAGGREGATION;
        if (guid == GUID_SysKeyboard) {
            *device = new Device(DeviceKind::Keyboard);
        } else if (guid == GUID_SysMouse) {
            *device = new Device(DeviceKind::Mouse);
        } else {
            return DIERR_DEVICENOTREG;
        }
        return DI_OK;
    }
};

}  // namespace
}  // namespace rh::dinput8

HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out, LPUNKNOWN outer) {
    if (out == nullptr) return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (instance == nullptr) return DIERR_INVALIDPARAM;
    if (version > DIRECTINPUT_VERSION) return DIERR_OLDDIRECTINPUTVERSION;
    if (version < DIRECTINPUT_VERSION) return DIERR_BETADIRECTINPUTVERSION;
    if (outer != nullptr) return DIERR_NOAGGREGATION;
    if (iid != IID_IDirectInput8A) return DIERR_NOINTERFACE;
    rh::dinput8::WatchSdlInput();
    *out = static_cast<IDirectInput8A*>(new rh::dinput8::DirectInput());
    return DI_OK;
}
