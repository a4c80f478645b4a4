// Direct3D 9: the adapter object and the device, as far as the engine calls them, over our
// OpenGL layer (platform/d3d9). Methods answer D3D_OK or the documented error codes; invalid
// arguments give D3DERR_INVALIDCALL and never crash.
#pragma once

#include "d3d9caps.h"
#include "d3d9types.h"
#include "objbase.h"
#include "windows.h"

#define D3D_OK S_OK
#define D3DERR_WRONGTEXTUREFORMAT ((HRESULT)0x88760818L)
#define D3DERR_UNSUPPORTEDCOLOROPERATION ((HRESULT)0x88760819L)
#define D3DERR_CONFLICTINGRENDERSTATE ((HRESULT)0x88760821L)
#define D3DERR_DRIVERINTERNALERROR ((HRESULT)0x88760827L)
#define D3DERR_NOTFOUND ((HRESULT)0x88760866L)
#define D3DERR_MOREDATA ((HRESULT)0x88760867L)
#define D3DERR_DEVICELOST ((HRESULT)0x88760868L)
#define D3DERR_DEVICENOTRESET ((HRESULT)0x88760869L)
#define D3DERR_NOTAVAILABLE ((HRESULT)0x8876086AL)
#define D3DERR_INVALIDDEVICE ((HRESULT)0x8876086BL)
#define D3DERR_OUTOFVIDEOMEMORY ((HRESULT)0x8876017CL)
#define D3DERR_WASSTILLDRAWING ((HRESULT)0x8876021CL)

// {81BDCBCA-64D4-426D-AE8D-AD0147F4275C}
inline constexpr IID IID_IDirect3D9 = {
    0x81BDCBCA, 0x64D4, 0x426D, {0xAE, 0x8D, 0xAD, 0x01, 0x47, 0xF4, 0x27, 0x5C}};
// {D0223B96-BF7A-43FD-92BD-A43B0D82B9EB}
inline constexpr IID IID_IDirect3DDevice9 = {
    0xD0223B96, 0xBF7A, 0x43FD, {0x92, 0xBD, 0xA4, 0x3B, 0x0D, 0x82, 0xB9, 0xEB}};
// {DD13C59C-36FA-4098-A8FB-C7ED39DC8546}
inline constexpr IID IID_IDirect3DVertexDeclaration9 = {
    0xDD13C59C, 0x36FA, 0x4098, {0xA8, 0xFB, 0xC7, 0xED, 0x39, 0xDC, 0x85, 0x46}};

// {05EEC05D-8F7D-4362-B999-D1BAF357C704}
inline constexpr IID IID_IDirect3DResource9 = {
    0x05EEC05D, 0x8F7D, 0x4362, {0xB9, 0x99, 0xD1, 0xBA, 0xF3, 0x57, 0xC7, 0x04}};
// {B64BB1B5-FD70-4DF6-BF91-19D0A12455E3}
inline constexpr IID IID_IDirect3DVertexBuffer9 = {
    0xB64BB1B5, 0xFD70, 0x4DF6, {0xBF, 0x91, 0x19, 0xD0, 0xA1, 0x24, 0x55, 0xE3}};
// {7C9DD65E-D3F7-4529-ACEE-785830ACDE35}
inline constexpr IID IID_IDirect3DIndexBuffer9 = {
    0x7C9DD65E, 0xD3F7, 0x4529, {0xAC, 0xEE, 0x78, 0x58, 0x30, 0xAC, 0xDE, 0x35}};
// {D9771460-A695-4F26-BBD3-27B840B541CC}
inline constexpr IID IID_IDirect3DQuery9 = {
    0xD9771460, 0xA695, 0x4F26, {0xBB, 0xD3, 0x27, 0xB8, 0x40, 0xB5, 0x41, 0xCC}};
// {580CA87E-1D3C-4D54-991D-B7D3E3C298CE}
inline constexpr IID IID_IDirect3DBaseTexture9 = {
    0x580CA87E, 0x1D3C, 0x4D54, {0x99, 0x1D, 0xB7, 0xD3, 0xE3, 0xC2, 0x98, 0xCE}};
// {85C31227-3DE5-4F00-9B3A-F11AC38C18B5}
inline constexpr IID IID_IDirect3DTexture9 = {
    0x85C31227, 0x3DE5, 0x4F00, {0x9B, 0x3A, 0xF1, 0x1A, 0xC3, 0x8C, 0x18, 0xB5}};
// {FFF32F81-D953-473A-9223-93D652ABA93F}
inline constexpr IID IID_IDirect3DCubeTexture9 = {
    0xFFF32F81, 0xD953, 0x473A, {0x92, 0x23, 0x93, 0xD6, 0x52, 0xAB, 0xA9, 0x3F}};
// {0CFBAF3A-9FF6-429A-99B3-A2796AF8B89B}
inline constexpr IID IID_IDirect3DSurface9 = {
    0x0CFBAF3A, 0x9FF6, 0x429A, {0x99, 0xB3, 0xA2, 0x79, 0x6A, 0xF8, 0xB8, 0x9B}};

// {EFC5557E-6265-4613-8A94-43857889EB36}
inline constexpr IID IID_IDirect3DVertexShader9 = {
    0xEFC5557E, 0x6265, 0x4613, {0x8A, 0x94, 0x43, 0x85, 0x78, 0x89, 0xEB, 0x36}};
// {6D3BDBDC-5B02-4415-B852-CE5E8BCCB289}
inline constexpr IID IID_IDirect3DPixelShader9 = {
    0x6D3BDBDC, 0x5B02, 0x4415, {0xB8, 0x52, 0xCE, 0x5E, 0x8B, 0xCC, 0xB2, 0x89}};

struct IDirect3DDevice9;

// What a device's resources (buffers, textures, surfaces) share.
struct IDirect3DResource9 : public IUnknown {
    // The device that made it, with a new reference.
    virtual HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) = 0;
    virtual D3DRESOURCETYPE STDMETHODCALLTYPE GetType() = 0;
};

// One level of a texture, or one face's level of a cube texture. The surface holds a
// reference on its texture: it stays usable after the program released the texture.
// LockRect and UnlockRect behave as the texture's own for that level.
struct IDirect3DSurface9 : public IDirect3DResource9 {
    // The texture the surface belongs to, as the interface iid asks (E_NOINTERFACE when the
    // texture does not answer it), with a new reference.
    virtual HRESULT STDMETHODCALLTYPE GetContainer(REFIID iid, void** container) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRect() = 0;
};

// What SetTexture takes: a 2D or cube texture.
struct IDirect3DBaseTexture9 : public IDirect3DResource9 {
    virtual DWORD STDMETHODCALLTYPE GetLevelCount() = 0;
};

// A 2D texture of one or more levels, each half the size of the one before (at least 1).
// LockRect hands out a level's pixels in the format's Direct3D layout (A8R8G8B8 is the bytes
// B, G, R, A; 16-bit formats are little-endian words; DXT formats are 4x4 blocks, Pitch is
// one row of blocks) at rect (null: the whole level; DXT rectangles on block boundaries).
// The bytes are the level's as last written; what was written reaches drawing at UnlockRect.
// Flags: D3DLOCK_READONLY (nothing is uploaded), D3DLOCK_DISCARD for D3DUSAGE_DYNAMIC
// textures, D3DLOCK_NOSYSLOCK and D3DLOCK_NO_DIRTY_UPDATE (no effect). Lockable are managed
// and system-memory textures, and default-pool ones made with D3DUSAGE_DYNAMIC. One lock per
// level at a time; a second lock, a bad level or rectangle and UnlockRect without LockRect
// answer D3DERR_INVALIDCALL.
struct IDirect3DTexture9 : public IDirect3DBaseTexture9 {
    virtual HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    // The level's surface with a new reference.
    virtual HRESULT STDMETHODCALLTYPE GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRect(UINT level) = 0;
};

// Six square faces (D3DCUBEMAP_FACES), each with the same levels, locked as a 2D texture's.
struct IDirect3DCubeTexture9 : public IDirect3DBaseTexture9 {
    virtual HRESULT STDMETHODCALLTYPE GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level,
                                                        IDirect3DSurface9** surface) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked,
                                               const RECT* rect, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRect(D3DCUBEMAP_FACES face, UINT level) = 0;
};

// Vertex data for the streams. Lock hands out a pointer to sizeToLock bytes from
// offsetToLock (size 0: to the end of the buffer); the bytes are the buffer's as last written,
// and reach drawing at Unlock. Flags: D3DLOCK_READONLY (nothing is uploaded), and for a
// D3DUSAGE_DYNAMIC buffer D3DLOCK_DISCARD and D3DLOCK_NOOVERWRITE (others refuse them).
// Unlike Direct3D, DISCARD keeps the bytes outside the locked range: sub-allocated buffers
// rely on their neighbours. One lock at a time: a second Lock before Unlock, a range past the
// end, unknown flags and Unlock without Lock answer D3DERR_INVALIDCALL.
struct IDirect3DVertexBuffer9 : public IDirect3DResource9 {
    virtual HRESULT STDMETHODCALLTYPE Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* desc) = 0;
};

// 16- or 32-bit indices, locked as vertex buffers are.
struct IDirect3DIndexBuffer9 : public IDirect3DResource9 {
    virtual HRESULT STDMETHODCALLTYPE Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDesc(D3DINDEXBUFFER_DESC* desc) = 0;
};

// An occlusion query: the samples that passed the depth and stencil tests between
// Issue(D3DISSUE_BEGIN) and Issue(D3DISSUE_END). A second BEGIN restarts the bracket.
struct IDirect3DQuery9 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) = 0;
    virtual D3DQUERYTYPE STDMETHODCALLTYPE GetType() = 0;
    // The bytes GetData writes: 4 (a DWORD count).
    virtual DWORD STDMETHODCALLTYPE GetDataSize() = 0;
    virtual HRESULT STDMETHODCALLTYPE Issue(DWORD issueFlags) = 0;
    // S_OK and the count (when data is not null and size is at least 4) once the result is
    // there; S_FALSE while it is not, never waiting for it; D3DERR_INVALIDCALL before the
    // first END; D3DERR_DEVICELOST while the device is lost.
    virtual HRESULT STDMETHODCALLTYPE GetData(void* data, DWORD size, DWORD getDataFlags) = 0;
};

// Programmable vertex and pixel stages. While none is bound (SetVertexShader(NULL),
// SetPixelShader(NULL), the default) the device draws with its fixed-function pipeline.
struct IDirect3DVertexShader9 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) = 0;
};
struct IDirect3DPixelShader9 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) = 0;
};

// An immutable vertex layout made by IDirect3DDevice9::CreateVertexDeclaration.
struct IDirect3DVertexDeclaration9 : public IUnknown {
    // The device that made it, with a new reference.
    virtual HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) = 0;
    // With elements null, *count receives the number of elements including D3DDECL_END;
    // otherwise that many elements are copied out.
    virtual HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) = 0;
};

// The adapters, their display modes and formats, and device creation.
struct IDirect3D9 : public IUnknown {
    virtual UINT STDMETHODCALLTYPE GetAdapterCount() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT adapter, DWORD flags,
                                                           D3DADAPTER_IDENTIFIER9* identifier) = 0;
    // The display modes of one adapter format (0 for a format the adapter does not display).
    virtual UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT adapter, D3DFORMAT format) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode,
                                                       D3DDISPLAYMODE* out) = 0;
    // The mode the adapter shows now (the desktop's, while no full-screen device holds it).
    virtual HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
    // D3D_OK when a device of that type can show backBufferFormat on adapterFormat;
    // D3DERR_NOTAVAILABLE otherwise.
    virtual HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT adapter, D3DDEVTYPE type,
                                                      D3DFORMAT adapterFormat,
                                                      D3DFORMAT backBufferFormat,
                                                      BOOL windowed) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT adapter, D3DDEVTYPE type,
                                                        D3DFORMAT adapterFormat, DWORD usage,
                                                        D3DRESOURCETYPE resourceType,
                                                        D3DFORMAT checkFormat) = 0;
    // qualityLevels (may be null) receives the number of quality levels on success.
    virtual HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type,
                                                                 D3DFORMAT surfaceFormat,
                                                                 BOOL windowed,
                                                                 D3DMULTISAMPLE_TYPE multiSample,
                                                                 DWORD* qualityLevels) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type,
                                                             D3DFORMAT adapterFormat,
                                                             D3DFORMAT renderTargetFormat,
                                                             D3DFORMAT depthStencilFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
    // Makes a device drawing into focusWindow (or presentParameters->hDeviceWindow when set).
    // A full-screen device switches the display to the requested mode. presentParameters is
    // updated with the values chosen for zero fields (back-buffer size and format).
    virtual HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow,
                                                   DWORD behaviorFlags,
                                                   D3DPRESENT_PARAMETERS* presentParameters,
                                                   IDirect3DDevice9** device) = 0;
};

// A rendering device. States are stored as set (Get* answers them, never the driver) and
// applied when drawing; after creation and Reset every state has its Direct3D default.
struct IDirect3DDevice9 : public IUnknown {
    // D3D_OK; D3DERR_DEVICELOST while the device cannot draw (a full-screen device whose
    // window lost the focus or was minimised); D3DERR_DEVICENOTRESET once it can be reset.
    virtual HRESULT STDMETHODCALLTYPE TestCooperativeLevel() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9** direct3d) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9* caps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) = 0;
    // Rebuilds the back buffers from presentParameters and returns every state to its
    // default. Fails with D3DERR_INVALIDCALL while D3DPOOL_DEFAULT resources of the device
    // are still alive, and with D3DERR_DEVICELOST while the device is lost.
    virtual HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* presentParameters) = 0;
    // Shows the back buffer. Only null arguments are supported: the whole back buffer fills
    // the device window's client area, stretched when their sizes differ. D3DERR_DEVICELOST
    // while lost (nothing is shown).
    virtual HRESULT STDMETHODCALLTYPE Present(const RECT* sourceRect, const RECT* destRect,
                                              HWND destWindowOverride,
                                              const void* dirtyRegion) = 0;
    // Entry i of each channel maps frame-buffer value i/255 to ramp[i]/65535 on the display.
    virtual void STDMETHODCALLTYPE SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) = 0;
    virtual void STDMETHODCALLTYPE GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) = 0;

    virtual HRESULT STDMETHODCALLTYPE BeginScene() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndScene() = 0;
    // Clears the viewport (or the given rectangles intersected with it), and only inside the
    // scissor rectangle while D3DRS_SCISSORTESTENABLE is on. Write masks do not apply. A null
    // rects with a count clears the whole viewport; rects with a count of 0 clears nothing.
    virtual HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags,
                                            D3DCOLOR color, float z, DWORD stencil) = 0;

    virtual HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9* material) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9* material) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
    // stage is a sampler: 0..15, D3DDMAPSAMPLER or D3DVERTEXTEXTURESAMPLER0..3.
    // The texture bound to a stage, with a new reference (null when none).
    virtual HRESULT STDMETHODCALLTYPE GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) = 0;
    // The device keeps the bound texture alive until it is replaced, through a reference of
    // its own that the texture's AddRef/Release count does not show. Only a texture of this
    // device can be bound, and no D3DPOOL_SYSTEMMEM one (D3DERR_INVALIDCALL).
    virtual HRESULT STDMETHODCALLTYPE SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                                           DWORD* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                                           DWORD value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
    // The rectangle drawing and Clear keep to while D3DRS_SCISSORTESTENABLE is on, in
    // render-target pixels (right and bottom exclusive); the whole back buffer after creation
    // and Reset.
    virtual HRESULT STDMETHODCALLTYPE SetScissorRect(const RECT* rect) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScissorRect(RECT* rect) = 0;

    // Lights: a table indexed by any DWORD that grows as lights are set. D3DERR_INVALIDCALL
    // for a null light or an unknown type; Get* answer D3DERR_INVALIDCALL for an index never
    // set. LightEnable on an index never set first sets Direct3D's default light there
    // (directional, white diffuse, direction (0, 0, 1)). At most the caps' MaxActiveLights
    // are enabled at once: enabling one more answers D3DERR_INVALIDCALL and leaves it off.
    virtual HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT9* light) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLight(DWORD index, D3DLIGHT9* light) = 0;
    virtual HRESULT STDMETHODCALLTYPE LightEnable(DWORD index, BOOL enable) = 0;
    // *enable receives TRUE or FALSE.
    virtual HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD index, BOOL* enable) = 0;
    // Binds like SetTexture; null returns to the fixed-function pipeline. Get* give a new
    // reference (null when none is bound).
    virtual HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9* shader) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9** shader) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9* shader) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9** shader) = 0;

    // elements end with D3DDECL_END (at most MAXD3DDECLLENGTH before it).
    virtual HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                                              IDirect3DVertexDeclaration9** declaration) = 0;
    // Binds like SetTexture: the declaration's public count does not change.
    virtual HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) = 0;
    // Setting an FVF code replaces the declaration with the equivalent one.
    virtual HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) = 0;

    // length > 0 bytes. usage: D3DUSAGE_WRITEONLY, D3DUSAGE_DYNAMIC and the other documented
    // bits; pool D3DPOOL_DEFAULT, MANAGED or SYSTEMMEM. DEFAULT buffers must be released before
    // Reset; the others survive it. sharedHandle must be null.
    virtual HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                         IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) = 0;
    // format D3DFMT_INDEX16 or D3DFMT_INDEX32; otherwise as CreateVertexBuffer.
    virtual HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                        IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) = 0;
    // Streams 0..7. Binds like SetTexture. Vertex i of the stream starts at offset + i * stride.
    virtual HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                                      UINT stride) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset,
                                                      UINT* stride) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer9** buffer) = 0;
    // Draws primitiveCount primitives from the vertices from startVertex on. D3DERR_INVALIDCALL,
    // with nothing drawn, without a declaration or without a position in it, with a stream the
    // declaration reads unbound or of stride 0, for an unknown primitive type, a count of 0 or
    // above the caps' MaxPrimitiveCount, or when any element of a vertex would be read past
    // the end of its buffer. A lost device checks the draw, answers D3D_OK and draws nothing.
    virtual HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
    // Draws with the indices from startIndex on; index i names vertex baseVertexIndex + i.
    // minVertexIndex and numVertices are hints: the vertices checked against the streams are
    // those the drawn indices name. Refuses as DrawPrimitive does, and also without an index
    // buffer, when the indices run past its end or when one names a vertex below 0.
    virtual HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex,
                                                           UINT minVertexIndex, UINT numVertices, UINT startIndex,
                                                           UINT primitiveCount) = 0;
    // With query null, only whether the type is supported: D3D_OK or D3DERR_NOTAVAILABLE.
    // Only D3DQUERYTYPE_OCCLUSION is.
    virtual HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) = 0;

    // levels 0: the full chain down to 1 x 1. usage: 0 or D3DUSAGE_DYNAMIC (not with
    // MANAGED); render targets and depth textures are not offered (D3DERR_NOTAVAILABLE).
    // pool D3DPOOL_DEFAULT, MANAGED or SYSTEMMEM; the format one CheckDeviceFormat offers for
    // textures (DXT sizes need not be multiples of 4). Sizes from 1 to the caps'
    // MaxTextureWidth and MaxTextureHeight. Every byte starts 0.
    // DEFAULT textures must be released before Reset; the others survive it, with their
    // pixels. A SYSTEMMEM texture is never drawn: SetTexture refuses it. sharedHandle must
    // be null.
    virtual HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                                    D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture,
                                                    HANDLE* sharedHandle) = 0;
    // As CreateTexture with six faces of edgeLength x edgeLength.
    virtual HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage,
                                                        D3DFORMAT format, D3DPOOL pool,
                                                        IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) = 0;
};

typedef IDirect3D9* LPDIRECT3D9;
typedef IDirect3DDevice9* LPDIRECT3DDEVICE9;
typedef IDirect3DVertexDeclaration9* LPDIRECT3DVERTEXDECLARATION9;
typedef IDirect3DResource9* LPDIRECT3DRESOURCE9;
typedef IDirect3DVertexBuffer9* LPDIRECT3DVERTEXBUFFER9;
typedef IDirect3DIndexBuffer9* LPDIRECT3DINDEXBUFFER9;
typedef IDirect3DQuery9* LPDIRECT3DQUERY9;
typedef IDirect3DBaseTexture9* LPDIRECT3DBASETEXTURE9;
typedef IDirect3DTexture9* LPDIRECT3DTEXTURE9;
typedef IDirect3DCubeTexture9* LPDIRECT3DCUBETEXTURE9;
typedef IDirect3DSurface9* LPDIRECT3DSURFACE9;
typedef IDirect3DVertexShader9* LPDIRECT3DVERTEXSHADER9;
typedef IDirect3DPixelShader9* LPDIRECT3DPIXELSHADER9;

// The entry point of "d3d9.dll": null for an SDK version other than the 9.0c ones (31 and 32,
// each with or without the debug bit 0x80000000) or when OpenGL cannot be used. Programs
// reach it through LoadLibraryA("d3d9.dll") and GetProcAddress, which the layer answers
// itself.
IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion);
