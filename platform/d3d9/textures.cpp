// 2D and cube textures and their surfaces.

#include "platform/d3d9/d3d9_local.h"

namespace rh::d3d9 {

HRESULT STDMETHODCALLTYPE Device::CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                                IDirect3DTexture9** texture, HANDLE*) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT STDMETHODCALLTYPE Device::CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                                    IDirect3DCubeTexture9** texture, HANDLE*) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

}  // namespace rh::d3d9
