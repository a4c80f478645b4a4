// Reference counting of the objects a device makes (vertex declarations, buffers and queries
// now; textures and surfaces as they come) and the device's bindings of them, written once.
#pragma once

#include "platform/com/com_object.h"

#include <d3d9.h>

namespace rh::d3d9 {

// Direct3D keeps two counts on a device's object: the program's references (AddRef/Release,
// what the program sees) and the device's own bindings (the declaration, texture, buffer or
// surface in use), which the program never sees: binding leaves the public count alone. While
// the program holds a reference the object holds one on its device; the object is destroyed
// when both counts are zero. So a bound object outlives the program's last Release without
// keeping the device alive, and a device released with objects still bound frees them.
class DeviceObject {
public:
    DeviceObject(const DeviceObject&) = delete;
    DeviceObject& operator=(const DeviceObject&) = delete;

    // The device's bindings; Unbind may destroy the object. Used through Binding.
    void Bind() { ++bindings_; }
    void Unbind() {
        if (--bindings_ == 0 && refs_ == 0) delete this;
    }

    IDirect3DDevice9* device() const { return device_; }

protected:
    // Starts with one program reference, which holds one on device.
    explicit DeviceObject(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }
    virtual ~DeviceObject() = default;

    // Called when the program's references go from none to some (held true) and back: what
    // counts as alive for the device (D3DPOOL_DEFAULT resources blocking Reset) is what the
    // program holds, not what the device merely still has bound.
    virtual void ProgramHoldChanged(bool /*held*/) {}

    ULONG AddProgramReference() {
        if (refs_++ == 0) {
            device_->AddRef();
            ProgramHoldChanged(true);
        }
        return refs_;
    }
    ULONG ReleaseProgramReference() {
        if (refs_ == 0) return 0;  // a program's extra Release: nothing left to drop
        ULONG left = --refs_;
        if (left == 0) {
            IDirect3DDevice9* device = device_;
            ProgramHoldChanged(false);
            if (bindings_ == 0) delete this;
            device->Release();  // may destroy the device, which unbinds (and frees) this
        }
        return left;
    }

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

// The base of every object a device makes: Interface's IUnknown over DeviceObject's counts.
template <typename Interface, const IID&... Iids>
class DeviceChild : public Interface, public DeviceObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return rh::com::AnswerQueryInterface<Interface, Iids...>(this, iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddProgramReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseProgramReference(); }

protected:
    explicit DeviceChild(IDirect3DDevice9* device) : DeviceObject(device) {}
};

// The layer's object behind an interface pointer a program passed in; null for an object
// this layer did not make (a program's own COM object), which Direct3D's Set* cannot take.
inline DeviceObject* DeviceObjectOf(IUnknown* object) { return dynamic_cast<DeviceObject*>(object); }

// One binding of the device (a stage's texture, a stream's buffer, the declaration, the
// render target): holds a private reference on the bound object, never a program one.
template <typename Interface>
class Binding {
public:
    Binding() = default;
    ~Binding() { Set(nullptr); }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

    // Binds object, null or one DeviceObjectOf answers for (the caller checked); the
    // previous object is unbound, which may destroy it. False when object was bound already.
    bool Set(Interface* object) {
        if (object == bound_) return false;
        DeviceObject* next = object != nullptr ? DeviceObjectOf(object) : nullptr;
        if (next != nullptr) next->Bind();
        DeviceObject* previous = owner_;
        bound_ = object;
        owner_ = next;
        if (previous != nullptr) previous->Unbind();
        return true;
    }

    Interface* get() const { return bound_; }
    // What Get* hands the program: the bound object with a new program reference, or null.
    Interface* Share() const {
        if (bound_ != nullptr) bound_->AddRef();
        return bound_;
    }

private:
    Interface* bound_ = nullptr;
    DeviceObject* owner_ = nullptr;
};

}  // namespace rh::d3d9
