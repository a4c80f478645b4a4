// D3DX vector functions.
#include <d3dx9math.h>

#include <cmath>

FLOAT WINAPI D3DXVec3Dot(const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2) {
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z;
}

FLOAT WINAPI D3DXVec3Length(const D3DXVECTOR3* pV) {
    return std::sqrt(pV->x * pV->x + pV->y * pV->y + pV->z * pV->z);
}

D3DXVECTOR3* WINAPI D3DXVec3Cross(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2) {
    const D3DXVECTOR3 r(pV1->y * pV2->z - pV1->z * pV2->y,
                        pV1->z * pV2->x - pV1->x * pV2->z,
                        pV1->x * pV2->y - pV1->y * pV2->x);
    *pOut = r;
    return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV) {
    const FLOAT length = D3DXVec3Length(pV);
    if (length == 0.0f) {
        *pOut = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        return pOut;
    }
    const FLOAT inv = 1.0f / length;
    *pOut = D3DXVECTOR3(pV->x * inv, pV->y * inv, pV->z * inv);
    return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM) {
    const D3DXMATRIX& m = *pM;
    const FLOAT x = pV->x, y = pV->y, z = pV->z;
    const FLOAT w = x * m._14 + y * m._24 + z * m._34 + m._44;
    *pOut = D3DXVECTOR3((x * m._11 + y * m._21 + z * m._31 + m._41) / w,
                        (x * m._12 + y * m._22 + z * m._32 + m._42) / w,
                        (x * m._13 + y * m._23 + z * m._33 + m._43) / w);
    return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM) {
    const D3DXMATRIX& m = *pM;
    const FLOAT x = pV->x, y = pV->y, z = pV->z;
    *pOut = D3DXVECTOR3(x * m._11 + y * m._21 + z * m._31,
                        x * m._12 + y * m._22 + z * m._32,
                        x * m._13 + y * m._23 + z * m._33);
    return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV, const D3DXMATRIX* pM) {
    const D3DXMATRIX& m = *pM;
    const FLOAT x = pV->x, y = pV->y, z = pV->z, w = pV->w;
    *pOut = D3DXVECTOR4(x * m._11 + y * m._21 + z * m._31 + w * m._41,
                        x * m._12 + y * m._22 + z * m._32 + w * m._42,
                        x * m._13 + y * m._23 + z * m._33 + w * m._43,
                        x * m._14 + y * m._24 + z * m._34 + w * m._44);
    return pOut;
}
