// D3DX 9 mesh helpers the engine calls.
#pragma once

#include "d3d9types.h"
#include "d3dx9math.h"

// The smallest box around NumVertices points: the first at pFirstPosition, each next one
// dwStride bytes further on. NumVertices 0 gives min = max = (0, 0, 0). D3DERR_INVALIDCALL
// when pFirstPosition, pMin or pMax is null (the outputs are then untouched); S_OK otherwise.
HRESULT WINAPI D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                                      D3DXVECTOR3* pMin, D3DXVECTOR3* pMax);

// Room for the longest declaration and its end marker (MAXD3DDECLLENGTH + 1).
#define MAX_FVF_DECL_SIZE 65

// The vertex declaration equivalent to an FVF code, in the FVF's order, all in stream 0,
// ended by D3DDECL_END: position (XYZ, XYZW, XYZRHW as POSITIONT, or XYZB1-5 with blend
// weights and, with D3DFVF_LASTBETA_UBYTE4 / D3DFVF_LASTBETA_D3DCOLOR, the last beta as
// blend indices), normal, point size, diffuse (COLOR 0), specular (COLOR 1), then each texture
// coordinate set with its D3DFVF_TEXCOORDSIZE width. D3DERR_INVALIDCALL for a null
// pDeclarator or a code no declaration expresses (reserved bits, more than 8 texture sets,
// a LASTBETA flag without a blended position); pDeclarator[0] is then D3DDECL_END.
HRESULT WINAPI D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]);

// The FVF code of a declaration, the inverse of D3DXDeclaratorFromFVF. D3DERR_INVALIDCALL
// (and *pFVF 0) for a null argument and for a declaration no FVF can express: elements out of
// the FVF order or at other offsets than the packed FVF layout, more than one stream, a
// non-default method, or a type or usage without an FVF field.
HRESULT WINAPI D3DXFVFFromDeclarator(const D3DVERTEXELEMENT9* pDeclarator, DWORD* pFVF);
