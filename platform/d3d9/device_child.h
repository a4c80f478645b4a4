// Reference counting of the objects a device makes (vertex declarations now; buffers,
// textures, surfaces and queries as they come), written once.
#pragma once

#include "platform/com/com_object.h"

#include <d3d9.h>

namespace rh::d3d9 {

// Direct3D keeps two counts on a device's object: the program's references (AddRef/Release)
// and the device's own bindings (the declaration or texture in use). While the program holds
// a reference the object holds one on its device; the object is destroyed when both counts are
// zero. So a bound object outlives the program's last Release without keeping the device
// alive, and a device released with objects still bound frees them.
template <typename Interface, const IID&... Iids>
class DeviceChild : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return rh::com::AnswerQueryInterface<Interface, Iids...>(this, iid, object);
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        if (refs_++ == 0) device_->AddRef();
        return refs_;
    }

    ULONG STDMETHODCALLTYPE Release() override {
        if (refs_ == 0) return 0;  // a program's extra Release: nothing left to drop
        ULONG left = --refs_;
        if (left == 0) {
            IDirect3DDevice9* device = device_;
            if (bindings_ == 0) delete this;
            device->Release();  // may destroy the device, which unbinds (and frees) this
        }
        return left;
    }

    // The device's bindings; Unbind may destroy the object.
    void Bind() { ++bindings_; }
    void Unbind() {
        if (--bindings_ == 0 && refs_ == 0) delete this;
    }

    IDirect3DDevice9* device() const { return device_; }

protected:
    // Starts with one program reference, which holds one on device.
    explicit DeviceChild(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }
    virtual ~DeviceChild() = default;
    DeviceChild(const DeviceChild&) = delete;
    DeviceChild& operator=(const DeviceChild&) = delete;

    // IDirect3DResource9::GetDevice and friends: a new reference to the device.
    HRESULT ShareDevice(IDirect3DDevice9** out) {
        if (out == nullptr) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *out = device_;
        return D3D_OK;
    }

private:
    IDirect3DDevice9* device_;
    ULONG refs_ = 1;
    ULONG bindings_ = 0;
};

}  // namespace rh::d3d9
