// What D3DX's texture functions reach of the layer's surfaces beyond Direct3D's interface.
// Header-only: D3DX asks a surface for it through QueryInterface, so it needs no link to the
// device's library. Private to platform/.
#pragma once

#include <d3d9.h>

namespace rh::d3d9 {

// {1CA145F4-257E-4D4C-84D5-C266ACD4C4E0}: the layer's own, answered by its surfaces only.
inline constexpr IID kIidSurfaceAccess = {
    0x1CA145F4, 0x257E, 0x4D4C, {0x84, 0xD5, 0xC2, 0x66, 0xAC, 0xD4, 0xC4, 0xE0}};

struct SurfaceAccess : public IDirect3DSurface9 {
    // LockRect whatever the texture's pool and usage allow; UnlockRect ends it. D3DX fills
    // and reads textures the program cannot lock (D3DPOOL_DEFAULT without D3DUSAGE_DYNAMIC),
    // as Direct3D's own D3DX does through a copy in system memory.
    virtual HRESULT STDMETHODCALLTYPE LockAnyPool(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    // LockAnyPool of the whole level for a caller that writes every byte of it before
    // UnlockRect: what the level held before is not kept, and a level never written before
    // is not cleared first.
    virtual HRESULT STDMETHODCALLTYPE LockAnyPoolToOverwrite(D3DLOCKED_RECT* locked) = 0;
    // The whole level from the caller's rows, `pitch` bytes apart (at least the level's row):
    // what LockAnyPoolToOverwrite, a copy of every row and UnlockRect give. A level that
    // crosses to GL at once and keeps no copy there crosses straight from the caller's rows.
    virtual HRESULT STDMETHODCALLTYPE WriteWhole(const void* bits, UINT pitch) = 0;
};

}  // namespace rh::d3d9
