// D3DX 9 mesh helpers the engine calls.
#pragma once

#include "d3dx9math.h"

// The smallest box around NumVertices points: the first at pFirstPosition, each next one
// dwStride bytes further on. NumVertices 0 gives min = max = (0, 0, 0). D3DERR_INVALIDCALL
// when pFirstPosition, pMin or pMax is null (the outputs are then untouched); S_OK otherwise.
HRESULT WINAPI D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                                      D3DXVECTOR3* pMin, D3DXVECTOR3* pMax);
