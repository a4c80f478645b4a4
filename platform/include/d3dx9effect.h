// D3DX 9 effects over GLSL: the effect compiler, effect pools and effects. The effect language
// (the effect-file structure with GLSL code blocks) is described in d3dx9effect.md beside this
// header. Compiled effects are the layer's own versioned binary (never a driver's program
// binary); D3DXCreateEffect takes only such binaries and checks them completely first.
#pragma once

#include "d3d9.h"
#include "d3dx9math.h"
#include "d3dx9mesh.h"

#ifndef D3DXERR_INVALIDDATA
#define D3DXERR_INVALIDDATA ((HRESULT)0x88760B59L)
#endif

// A name and a definition (null: empty) predefined for the preprocessor; an array of them
// ends with an entry whose Name is null.
struct D3DXMACRO {
    LPCSTR Name;
    LPCSTR Definition;
};
typedef D3DXMACRO* LPD3DXMACRO;

// No include handler exists here: callers pass null.
struct ID3DXInclude;
typedef ID3DXInclude* LPD3DXINCLUDE;

// A parameter, technique, pass or annotation of an effect. Only handles the effect (or its
// pool) handed out are accepted; anything else answers D3DERR_INVALIDCALL and is never read.
typedef const char* D3DXHANDLE;

typedef enum _D3DXPARAMETER_CLASS {
    D3DXPC_SCALAR = 0,
    D3DXPC_VECTOR = 1,
    D3DXPC_MATRIX_ROWS = 2,
    D3DXPC_MATRIX_COLUMNS = 3,
    D3DXPC_OBJECT = 4,
    D3DXPC_STRUCT = 5,
    D3DXPC_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_CLASS;

typedef enum _D3DXPARAMETER_TYPE {
    D3DXPT_VOID = 0,
    D3DXPT_BOOL = 1,
    D3DXPT_INT = 2,
    D3DXPT_FLOAT = 3,
    D3DXPT_STRING = 4,
    D3DXPT_TEXTURE = 5,
    D3DXPT_TEXTURE1D = 6,
    D3DXPT_TEXTURE2D = 7,
    D3DXPT_TEXTURE3D = 8,
    D3DXPT_TEXTURECUBE = 9,
    D3DXPT_SAMPLER = 10,
    D3DXPT_SAMPLER1D = 11,
    D3DXPT_SAMPLER2D = 12,
    D3DXPT_SAMPLER3D = 13,
    D3DXPT_SAMPLERCUBE = 14,
    D3DXPT_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_TYPE;

// D3DXPARAMETER_DESC::Flags.
#define D3DX_PARAMETER_SHARED (1 << 0)
#define D3DX_PARAMETER_ANNOTATION (1 << 2)

// ID3DXEffect::Begin flags: the effect saves and restores no device state (the only mode here:
// End restores nothing whatever the flags).
#define D3DXFX_DONOTSAVESTATE (1 << 0)
#define D3DXFX_DONOTSAVESHADERSTATE (1 << 1)
#define D3DXFX_DONOTSAVESAMPLERSTATE (1 << 2)

struct D3DXPARAMETER_DESC {
    LPCSTR Name;
    LPCSTR Semantic;  // null when the parameter has none
    D3DXPARAMETER_CLASS Class;
    D3DXPARAMETER_TYPE Type;
    UINT Rows;
    UINT Columns;
    UINT Elements;
    UINT Annotations;
    UINT StructMembers;
    DWORD Flags;
    UINT Bytes;
};

struct D3DXTECHNIQUE_DESC {
    LPCSTR Name;
    UINT Passes;
    UINT Annotations;
};

// {B8A2E3C7-5D1F-4C0A-9E61-3A7D2F0B4C15}: our own identifiers for the effect interfaces.
inline constexpr IID IID_ID3DXEffectCompiler = {
    0xB8A2E3C7, 0x5D1F, 0x4C0A, {0x9E, 0x61, 0x3A, 0x7D, 0x2F, 0x0B, 0x4C, 0x15}};
inline constexpr IID IID_ID3DXEffectPool = {
    0xB8A2E3C8, 0x5D1F, 0x4C0A, {0x9E, 0x61, 0x3A, 0x7D, 0x2F, 0x0B, 0x4C, 0x15}};
inline constexpr IID IID_ID3DXEffect = {
    0xB8A2E3C9, 0x5D1F, 0x4C0A, {0x9E, 0x61, 0x3A, 0x7D, 0x2F, 0x0B, 0x4C, 0x15}};

// An effect source, preprocessed and parsed when it was made.
struct ID3DXEffectCompiler : public IUnknown {
    // flags 0. The compiled binary in *effect (may be null to only check); on failure
    // D3DXERR_INVALIDDATA and the messages ("line N: ...") in *errors when it is not null.
    virtual HRESULT STDMETHODCALLTYPE CompileEffect(DWORD flags, ID3DXBuffer** effect, ID3DXBuffer** errors) = 0;
};
typedef ID3DXEffectCompiler* LPD3DXEFFECTCOMPILER;

// Holds the shared parameters of the effects made with it: one value per name for all of
// them, and one handle, valid in each of them.
struct ID3DXEffectPool : public IUnknown {};
typedef ID3DXEffectPool* LPD3DXEFFECTPOOL;

// A compiled effect on a device. Techniques whose passes did not compile or link with the
// driver are invalid: FindNextValidTechnique skips them and SetTechnique refuses them.
struct ID3DXEffect : public IUnknown {
    // The first valid technique after technique (null: from the first); *next is null (and
    // the result D3D_OK) when none follows.
    virtual HRESULT STDMETHODCALLTYPE FindNextValidTechnique(D3DXHANDLE technique, D3DXHANDLE* next) = 0;
    virtual D3DXHANDLE STDMETHODCALLTYPE GetTechniqueByName(LPCSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTechniqueDesc(D3DXHANDLE technique, D3DXTECHNIQUE_DESC* desc) = 0;
    // Annotation index of a parameter, technique or pass; null past the last.
    virtual D3DXHANDLE STDMETHODCALLTYPE GetAnnotation(D3DXHANDLE object, UINT index) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParameterDesc(D3DXHANDLE parameter, D3DXPARAMETER_DESC* desc) = 0;
    // parent must be null (no structures); null for an unknown name. A shared parameter's
    // handle is its pool's.
    virtual D3DXHANDLE STDMETHODCALLTYPE GetParameterByName(D3DXHANDLE parent, LPCSTR name) = 0;
    // Of an int or bool parameter or annotation.
    virtual HRESULT STDMETHODCALLTYPE GetInt(D3DXHANDLE parameter, INT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFloat(D3DXHANDLE parameter, FLOAT* value) = 0;
    // Values set before Pass take effect in that pass. The setters take parameters whose type
    // holds the value: SetMatrix a float4x4, SetVector float to float4 (the first components),
    // SetFloat a float, SetBool a bool (or int), SetTexture a texture.
    virtual HRESULT STDMETHODCALLTYPE SetMatrix(D3DXHANDLE parameter, const D3DXMATRIX* matrix) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVector(D3DXHANDLE parameter, const D3DXVECTOR4* vector) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFloat(D3DXHANDLE parameter, FLOAT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBool(D3DXHANDLE parameter, BOOL value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInt(D3DXHANDLE parameter, INT value) = 0;
    // The effect holds a reference on the texture while it is set.
    virtual HRESULT STDMETHODCALLTYPE SetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9* texture) = 0;
    // A valid technique of this effect.
    virtual HRESULT STDMETHODCALLTYPE SetTechnique(D3DXHANDLE technique) = 0;
    virtual D3DXHANDLE STDMETHODCALLTYPE GetCurrentTechnique() = 0;
    // Starts the current technique; *passes gets its pass count. Nothing is saved (End
    // restores nothing).
    virtual HRESULT STDMETHODCALLTYPE Begin(UINT* passes, DWORD flags) = 0;
    // Between Begin and End: sets the pass's states through the device's Set* calls, its
    // textures and sampler states, binds its program and uploads the parameters.
    virtual HRESULT STDMETHODCALLTYPE Pass(UINT pass) = 0;
    virtual HRESULT STDMETHODCALLTYPE End() = 0;
    // The GL objects survive a device reset: nothing to release or remake.
    virtual HRESULT STDMETHODCALLTYPE OnLostDevice() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnResetDevice() = 0;
};
typedef ID3DXEffect* LPD3DXEFFECT;

// Preprocesses and parses source (srcDataLen bytes) with the macros (may be null); include
// must be null and flags 0. On failure D3DXERR_INVALIDDATA with the messages in *errors (when
// not null); D3DERR_INVALIDCALL for bad arguments.
HRESULT WINAPI D3DXCreateEffectCompiler(LPCSTR srcData, UINT srcDataLen, const D3DXMACRO* defines,
                                        LPD3DXINCLUDE include, DWORD flags, LPD3DXEFFECTCOMPILER* compiler,
                                        LPD3DXBUFFER* errors);

HRESULT WINAPI D3DXCreateEffectPool(LPD3DXEFFECTPOOL* pool);

// Makes an effect from a binary of ID3DXEffectCompiler::CompileEffect (srcDataLen bytes);
// defines and include must be null, flags 0; pool may be null. A damaged or foreign binary
// answers D3DXERR_INVALIDDATA with a message in *errors. Each pass is then compiled and
// linked by the driver; a pass that fails makes its technique invalid and puts the driver's
// log into *errors, and the effect is still made. A shared parameter whose type differs from
// the pool's of that name fails the effect (D3DXERR_INVALIDDATA).
HRESULT WINAPI D3DXCreateEffect(LPDIRECT3DDEVICE9 device, LPCVOID srcData, UINT srcDataLen,
                                const D3DXMACRO* defines, LPD3DXINCLUDE include, DWORD flags,
                                LPD3DXEFFECTPOOL pool, LPD3DXEFFECT* effect, LPD3DXBUFFER* errors);
