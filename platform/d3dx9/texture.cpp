// The texture functions of D3DX: textures from pictures, normal maps and DDS saving.

#include <d3dx9tex.h>

HRESULT WINAPI D3DXCreateTexture(LPDIRECT3DDEVICE9, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                 LPDIRECT3DTEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXCreateCubeTexture(LPDIRECT3DDEVICE9, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                     LPDIRECT3DCUBETEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXCreateTextureFromFileExA(LPDIRECT3DDEVICE9, LPCSTR, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                            DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*,
                                            LPDIRECT3DTEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9, LPCVOID, UINT, UINT, UINT, UINT, DWORD,
                                                   D3DFORMAT, D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*,
                                                   PALETTEENTRY*, LPDIRECT3DTEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXCreateCubeTextureFromFileExA(LPDIRECT3DDEVICE9, LPCSTR, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                                DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*,
                                                LPDIRECT3DCUBETEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9, LPCVOID, UINT, UINT, UINT, DWORD,
                                                       D3DFORMAT, D3DPOOL, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*,
                                                       PALETTEENTRY*, LPDIRECT3DCUBETEXTURE9* texture) {
    if (texture != nullptr) *texture = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXLoadSurfaceFromFileA(LPDIRECT3DSURFACE9, const PALETTEENTRY*, const RECT*, LPCSTR, const RECT*,
                                        DWORD, D3DCOLOR, D3DXIMAGE_INFO*) {
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXLoadSurfaceFromFileInMemory(LPDIRECT3DSURFACE9, const PALETTEENTRY*, const RECT*, LPCVOID, UINT,
                                               const RECT*, DWORD, D3DCOLOR, D3DXIMAGE_INFO*) {
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXComputeNormalMap(LPDIRECT3DTEXTURE9, LPDIRECT3DTEXTURE9, const PALETTEENTRY*, DWORD, DWORD,
                                    FLOAT) {
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI D3DXSaveTextureToFileA(LPCSTR, D3DXIMAGE_FILEFORMAT, LPDIRECT3DBASETEXTURE9, const PALETTEENTRY*) {
    return D3DERR_NOTAVAILABLE;
}
