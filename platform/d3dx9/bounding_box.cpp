// D3DXComputeBoundingBox.
#include <d3dx9mesh.h>

#include <cstring>

HRESULT WINAPI D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                                      D3DXVECTOR3* pMin, D3DXVECTOR3* pMax) {
    if (pFirstPosition == nullptr || pMin == nullptr || pMax == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    if (NumVertices == 0) {
        *pMin = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        *pMax = *pMin;
        return S_OK;
    }
    // Vertex records need not keep the position aligned for a float read, so copy it out.
    const unsigned char* at = reinterpret_cast<const unsigned char*>(pFirstPosition);
    D3DXVECTOR3 lo;
    std::memcpy(&lo, at, sizeof lo);
    D3DXVECTOR3 hi = lo;
    for (DWORD i = 1; i < NumVertices; ++i) {
        at += dwStride;
        D3DXVECTOR3 p;
        std::memcpy(&p, at, sizeof p);
        if (p.x < lo.x) lo.x = p.x;
        if (p.y < lo.y) lo.y = p.y;
        if (p.z < lo.z) lo.z = p.z;
        if (p.x > hi.x) hi.x = p.x;
        if (p.y > hi.y) hi.y = p.y;
        if (p.z > hi.z) hi.z = p.z;
    }
    *pMin = lo;
    *pMax = hi;
    return S_OK;
}
