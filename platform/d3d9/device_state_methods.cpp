// The device's Set*/Get* of plain-data state: validate, return early if unchanged, store, mark
// the dirty group. Get* answers from the stored state, never from GL.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/textures.h"

#include <cstring>

namespace rh::d3d9 {
namespace {

bool IsStageState(DWORD type) {
    switch (type) {
        case D3DTSS_COLOROP: case D3DTSS_COLORARG1: case D3DTSS_COLORARG2: case D3DTSS_ALPHAOP:
        case D3DTSS_ALPHAARG1: case D3DTSS_ALPHAARG2: case D3DTSS_BUMPENVMAT00: case D3DTSS_BUMPENVMAT01:
        case D3DTSS_BUMPENVMAT10: case D3DTSS_BUMPENVMAT11: case D3DTSS_TEXCOORDINDEX:
        case D3DTSS_BUMPENVLSCALE: case D3DTSS_BUMPENVLOFFSET: case D3DTSS_TEXTURETRANSFORMFLAGS:
        case D3DTSS_COLORARG0: case D3DTSS_ALPHAARG0: case D3DTSS_RESULTARG: case D3DTSS_CONSTANT:
            return true;
        default:
            return false;
    }
}

bool IsSamplerState(DWORD type) { return type >= D3DSAMP_ADDRESSU && type <= D3DSAMP_DMAPOFFSET; }

}  // namespace

HRESULT STDMETHODCALLTYPE Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (matrix == nullptr || !IsTransformState(state)) return D3DERR_INVALIDCALL;
    D3DMATRIX& stored = state_.transforms[state];
    if (std::memcmp(&stored, matrix, sizeof stored) == 0) return D3D_OK;
    stored = *matrix;
    state_.dirty |= kDirtyTransforms;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (matrix == nullptr || !IsTransformState(state)) return D3DERR_INVALIDCALL;
    *matrix = state_.transforms[state];
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetViewport(const D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) return D3DERR_INVALIDCALL;
    // Direct3D refuses a viewport reaching outside the render target.
    uint64_t right = uint64_t{viewport->X} + viewport->Width;
    uint64_t bottom = uint64_t{viewport->Y} + viewport->Height;
    if (right > target_.width || bottom > target_.height) return D3DERR_INVALIDCALL;
    if (std::memcmp(&state_.viewport, viewport, sizeof *viewport) == 0) return D3D_OK;
    state_.viewport = *viewport;
    state_.dirty |= kDirtyViewport;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) return D3DERR_INVALIDCALL;
    *viewport = state_.viewport;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetMaterial(const D3DMATERIAL9* material) {
    if (material == nullptr) return D3DERR_INVALIDCALL;
    if (std::memcmp(&state_.material, material, sizeof *material) == 0) return D3D_OK;
    state_.material = *material;
    state_.dirty |= kDirtyMaterial;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetMaterial(D3DMATERIAL9* material) {
    if (material == nullptr) return D3DERR_INVALIDCALL;
    *material = state_.material;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!IsRenderState(state)) return D3DERR_INVALIDCALL;
    DWORD& stored = state_.renderStates[state];
    if (stored == value) return D3D_OK;
    stored = value;
    state_.dirty |= DirtyGroupOfRenderState(state);
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (value == nullptr || !IsRenderState(state)) return D3DERR_INVALIDCALL;
    *value = state_.renderStates[state];
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    std::optional<DWORD> slot = SamplerSlot(stage);
    if (texture == nullptr || !slot) return D3DERR_INVALIDCALL;
    *texture = textures_[*slot].Share();
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    std::optional<DWORD> slot = SamplerSlot(stage);
    if (!slot) return D3DERR_INVALIDCALL;
    Binding<IDirect3DBaseTexture9>& bound = textures_[*slot];
    if (bound.get() == texture) return D3D_OK;
    if (texture != nullptr && !OwnsObject(texture)) return D3DERR_INVALIDCALL;
    // System memory is never drawn from (the caps leave out D3DDEVCAPS_TEXTURESYSTEMMEMORY).
    TextureStore* store = StoreOf(texture);
    if (store != nullptr && store->pool() == D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    // The binding is the device's private reference: the program's count stays as it was.
    bound.Set(texture);
    textureStores_[*slot] = store;
    ++texturesSerial_;
    ++bindingsSerial_;
    state_.dirty |= kDirtyTextures;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (value == nullptr || stage >= kStageCount || !IsStageState(type)) return D3DERR_INVALIDCALL;
    *value = state_.stageStates[stage][type];
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kStageCount || !IsStageState(type)) return D3DERR_INVALIDCALL;
    DWORD& stored = state_.stageStates[stage][type];
    if (stored == value) return D3D_OK;
    stored = value;
    state_.dirty |= kDirtyStages;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    std::optional<DWORD> slot = SamplerSlot(sampler);
    if (value == nullptr || !slot || !IsSamplerState(type)) return D3DERR_INVALIDCALL;
    *value = state_.samplerStates[*slot][type];
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    std::optional<DWORD> slot = SamplerSlot(sampler);
    if (!slot || !IsSamplerState(type)) return D3DERR_INVALIDCALL;
    DWORD& stored = state_.samplerStates[*slot][type];
    if (stored == value) return D3D_OK;
    stored = value;
    ++bindingsSerial_;
    state_.dirty |= kDirtySamplers;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::SetScissorRect(const RECT* rect) {
    if (rect == nullptr) return D3DERR_INVALIDCALL;
    RECT& stored = state_.scissorRect;
    if (std::memcmp(&stored, rect, sizeof stored) == 0) return D3D_OK;
    stored = *rect;
    state_.dirty |= kDirtyRaster;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::GetScissorRect(RECT* rect) {
    if (rect == nullptr) return D3DERR_INVALIDCALL;
    *rect = state_.scissorRect;
    return D3D_OK;
}

}  // namespace rh::d3d9
