// Streams, indices and the draws.

#include "platform/d3d9/d3d9_local.h"

namespace rh::d3d9 {

HRESULT STDMETHODCALLTYPE Device::SetStreamSource(UINT, IDirect3DVertexBuffer9*, UINT, UINT) { return D3DERR_INVALIDCALL; }

HRESULT STDMETHODCALLTYPE Device::GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) { return D3DERR_INVALIDCALL; }

HRESULT STDMETHODCALLTYPE Device::SetIndices(IDirect3DIndexBuffer9*) { return D3DERR_INVALIDCALL; }

HRESULT STDMETHODCALLTYPE Device::GetIndices(IDirect3DIndexBuffer9**) { return D3DERR_INVALIDCALL; }

HRESULT STDMETHODCALLTYPE Device::DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) { return D3DERR_INVALIDCALL; }

HRESULT STDMETHODCALLTYPE Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) {
    return D3DERR_INVALIDCALL;
}

}  // namespace rh::d3d9
