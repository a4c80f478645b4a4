// Vertex and index buffers.

#include "platform/d3d9/d3d9_local.h"

namespace rh::d3d9 {

HRESULT STDMETHODCALLTYPE Device::CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9**, HANDLE*) {
    return D3DERR_INVALIDCALL;
}

HRESULT STDMETHODCALLTYPE Device::CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9**, HANDLE*) {
    return D3DERR_INVALIDCALL;
}

}  // namespace rh::d3d9
