// What only the matrix functions and their tests share. Private to platform/d3dx9.
#pragma once

#include <d3dx9math.h>

namespace rh::d3dx9 {

// D3DXMatrixInverse's arithmetic for any matrix, without its shorter way for translations
// (which gives the same bits); null, with *pDeterminant set when asked, for a singular one.
D3DXMATRIX* GeneralMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM);

}  // namespace rh::d3dx9
