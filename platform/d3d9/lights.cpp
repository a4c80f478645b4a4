// The device's light table and its shader bindings. Lights are plain data like the other
// states: SetLight stores, LightEnable switches, and the apply path reads the enabled ones in
// index order when it builds the program key and its uniforms.

#include "platform/d3d9/d3d9_local.h"

#include <algorithm>
#include <cstring>

namespace rh::d3d9 {
namespace {

bool KnownLightType(D3DLIGHTTYPE type) {
    return type == D3DLIGHT_POINT || type == D3DLIGHT_SPOT || type == D3DLIGHT_DIRECTIONAL;
}

// What LightEnable puts at an index never set.
D3DLIGHT9 DefaultLight() {
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
    light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    return light;
}

}  // namespace

HRESULT STDMETHODCALLTYPE Device::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (light == nullptr || !KnownLightType(light->Type)) return D3DERR_INVALIDCALL;
    // A negative range has no meaning for the lights that use it; NaN and infinite values are
    // kept as given (Get answers them) and made harmless when they are sent to GL.
    if (light->Type != D3DLIGHT_DIRECTIONAL && light->Range < 0.0f) return D3DERR_INVALIDCALL;
    auto [it, added] = lights_.try_emplace(index);
    LightSlot& slot = it->second;
    if (!added && std::memcmp(&slot.light, light, sizeof *light) == 0) return D3D_OK;
    slot.light = *light;
    // An enabled light changed after it was sent is sent again (its type may change the code).
    if (slot.enabled) state_.dirty |= kDirtyLighting;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetLight(DWORD index, D3DLIGHT9* light) {
    auto it = lights_.find(index);
    if (light == nullptr || it == lights_.end()) return D3DERR_INVALIDCALL;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::LightEnable(DWORD index, BOOL enable) {
    auto [it, added] = lights_.try_emplace(index);
    LightSlot& slot = it->second;
    if (added) slot.light = DefaultLight();
    bool on = enable != FALSE;
    if (slot.enabled == on) return D3D_OK;
    if (on) {
        if (enabledLights_.size() >= caps_.MaxActiveLights) return D3DERR_INVALIDCALL;
        enabledLights_.insert(std::lower_bound(enabledLights_.begin(), enabledLights_.end(), index), index);
    } else {
        enabledLights_.erase(std::find(enabledLights_.begin(), enabledLights_.end(), index));
    }
    slot.enabled = on;
    state_.dirty |= kDirtyLighting;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetLightEnable(DWORD index, BOOL* enable) {
    auto it = lights_.find(index);
    if (enable == nullptr || it == lights_.end()) return D3DERR_INVALIDCALL;
    *enable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

const D3DLIGHT9& Device::EnabledLight(size_t i) const { return lights_.at(enabledLights_[i]).light; }

void Device::ClearLights() {
    lights_.clear();
    enabledLights_.clear();
}

// ---- Shaders ----

HRESULT STDMETHODCALLTYPE Device::SetVertexShader(IDirect3DVertexShader9* shader) {
    // Effects set their shaders at every pass: the bound one was checked when it was bound.
    if (shader == vertexShader_.get()) return D3D_OK;
    if (shader != nullptr && !OwnsObject(shader)) return D3DERR_INVALIDCALL;
    if (vertexShader_.Set(shader)) state_.dirty |= kDirtyVertexInput;
    ++bindingsSerial_;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetVertexShader(IDirect3DVertexShader9** shader) {
    if (shader == nullptr) return D3DERR_INVALIDCALL;
    *shader = vertexShader_.Share();
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetPixelShader(IDirect3DPixelShader9* shader) {
    if (shader == pixelShader_.get()) return D3D_OK;
    if (shader != nullptr && !OwnsObject(shader)) return D3DERR_INVALIDCALL;
    if (pixelShader_.Set(shader)) state_.dirty |= kDirtyStages;
    ++bindingsSerial_;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetPixelShader(IDirect3DPixelShader9** shader) {
    if (shader == nullptr) return D3DERR_INVALIDCALL;
    *shader = pixelShader_.Share();
    return D3D_OK;
}

}  // namespace rh::d3d9
