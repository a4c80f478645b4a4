// What the sources of platform/d3d9 share: the adapter object, the device and the vertex
// declaration. Engine code sees only d3d9.h.
#pragma once

#include "platform/com/com_object.h"
#include "platform/d3d9/back_buffer.h"
#include "platform/d3d9/buffers.h"
#include "platform/d3d9/device_child.h"
#include "platform/d3d9/device_state.h"
#include "platform/d3d9/gamma_pass.h"
#include "platform/d3d9/gl_state.h"
#include "platform/d3d9/programs.h"
#include "platform/d3d9/shaders.h"
#include "platform/d3d9/vertex_input.h"

#include <d3d9.h>

#include <map>
#include <string>
#include <vector>

struct SDL_Window;
union SDL_Event;

namespace rh::d3d9 {

// What the OpenGL implementation offers, probed once per process on a hidden window.
struct GlLimits {
    bool usable = false;  // a 2.1 compatibility context came up and every entry point loaded
    std::string vendor, renderer, version;
    int maxTextureSize = 0;
    int max3dTextureSize = 0;
    int maxTextureUnits = 0;
    int maxLights = 0;
    int maxClipPlanes = 0;
    float maxPointSize = 1.0f;
    float maxAnisotropy = 1.0f;
    bool halfFloatVertices = false;  // GL 3.0 or GL_ARB_half_float_vertex: FLOAT16 elements
    bool s3tc = false;               // GL_EXT_texture_compression_s3tc: DXT blocks as they are
    bool textureSwizzle = false;     // GL 3.3 or ARB/EXT_texture_swizzle: GL_TEXTURE_SWIZZLE_A
    bool mirrorClamp = false;        // GL_MIRROR_CLAMP_TO_EDGE: D3DTADDRESS_MIRRORONCE
};
// The GL attributes of every device: a 2.1 compatibility context, double-buffered RGBA8 with
// a 24-bit depth and an 8-bit stencil buffer (enough for D16, D24X8 and D24S8). On most
// drivers the window's pixel format is chosen when the window is made, so they are set before
// any window is made after Direct3DCreate9, and stay set.
void SetDeviceGlAttributes();
// The process's one OpenGL driver probe (shared with the DirectX diagnostics) in Direct3D's terms.
const GlLimits& ProbeGl();

// A display mode without its format: the same list serves every adapter format.
struct ModeSize {
    UINT width = 0;
    UINT height = 0;
    UINT refresh = 0;
    auto operator<=>(const ModeSize&) const = default;
};

// One SDL display as Direct3D lists it.
struct Adapter {
    int display = 0;
    std::string name;
    ModeSize desktop;
    std::vector<ModeSize> modes;  // sorted, unique, the desktop mode among them
    D3DCAPS9 halCaps{};
};

// The display formats every adapter offers modes in (16-bit is rendered into RGBA8).
bool IsAdapterFormat(D3DFORMAT format);
// The format the desktop is in, as Direct3D reports it.
inline constexpr D3DFORMAT kDesktopFormat = D3DFMT_X8R8G8B8;

// Direct3D's capabilities of the HAL device on GL with these limits.
D3DCAPS9 BuildHalCaps(UINT adapter, const GlLimits& gl);
// The SDL displays as adapters, read now.
std::vector<Adapter> ReadAdapters(const GlLimits& gl);

class Direct3D9 final : public com::ComObject<IDirect3D9, IID_IDirect3D9> {
public:
    // Null when OpenGL cannot be used.
    static Direct3D9* Create();

    UINT STDMETHODCALLTYPE GetAdapterCount() override;
    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) override;
    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) override;
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                              D3DFORMAT backBufferFormat, BOOL windowed) override;
    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                                D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
    HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat,
                                                         BOOL windowed, D3DMULTISAMPLE_TYPE multiSample,
                                                         DWORD* qualityLevels) override;
    HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                     D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) override;
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                           D3DPRESENT_PARAMETERS* presentParameters, IDirect3DDevice9** device) override;

    // Null for an ordinal out of range.
    const Adapter* FindAdapter(UINT adapter) const;
    // The desktop mode of an adapter, in kDesktopFormat.
    D3DDISPLAYMODE DesktopMode(const Adapter& adapter) const;
    // Whether the adapter lists width x height at refresh (0: any) in its modes.
    bool HasMode(const Adapter& adapter, UINT width, UINT height, UINT refresh) const;
    const GlLimits& limits() const { return gl_; }

private:
    Direct3D9(const GlLimits& gl, std::vector<Adapter> adapters) : gl_(gl), adapters_(std::move(adapters)) {}

    const GlLimits& gl_;
    std::vector<Adapter> adapters_;
};

class VertexDeclaration;

class Query;
class TextureStore;
class VertexDeclaration;

class Device final : public com::ComObject<IDirect3DDevice9, IID_IDirect3DDevice9> {
public:
    // presentParameters were checked and completed (CompletePresentParameters); window is
    // the SDL window of hwnd, the window the device draws into.
    static HRESULT Create(Direct3D9* d3d, UINT adapter, HWND hwnd, SDL_Window* window, DWORD behavior,
                          const D3DPRESENT_PARAMETERS& presentParameters, Device** out);

    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override;
    HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9** direct3d) override;
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT STDMETHODCALLTYPE GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* presentParameters) override;
    HRESULT STDMETHODCALLTYPE Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                      const void* dirtyRegion) override;
    void STDMETHODCALLTYPE SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) override;
    void STDMETHODCALLTYPE GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) override;
    HRESULT STDMETHODCALLTYPE BeginScene() override;
    HRESULT STDMETHODCALLTYPE EndScene() override;
    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override;

    // State (device_state_methods.cpp).
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9* material) override;
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT STDMETHODCALLTYPE SetScissorRect(const RECT* rect) override;
    HRESULT STDMETHODCALLTYPE GetScissorRect(RECT* rect) override;

    // Vertex input (vertex_declaration.cpp).
    HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                                      IDirect3DVertexDeclaration9** declaration) override;
    HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT STDMETHODCALLTYPE GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) override;
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override;
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override;

    // Buffers (buffers.cpp), drawing (draw.cpp) and queries (query.cpp).
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                              UINT stride) override;
    HRESULT STDMETHODCALLTYPE GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset,
                                              UINT* stride) override;
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer9** buffer) override;
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                                   UINT numVertices, UINT startIndex, UINT primitiveCount) override;
    HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override;

    // Textures (textures.cpp).
    HRESULT STDMETHODCALLTYPE CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format,
                                                D3DPOOL pool, IDirect3DCubeTexture9** texture,
                                                HANDLE* sharedHandle) override;

    // Lights and shader bindings (lights.cpp).
    HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT STDMETHODCALLTYPE GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD index, BOOL enable) override;
    HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9** shader) override;
    HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9** shader) override;

    // ---- The layer's own ----
    // Also answers IID_IRhGlslDevice (glsl_device.h) with the device's GLSL services.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    // GLSL shaders (shaders.cpp): compiles text into a VertexShader or PixelShader; E_FAIL
    // with the driver's log appended to *log.
    HRESULT CreateGlslShader(bool vertex, const std::string& text, IUnknown** shader, std::string* log);
    // A shader going away: its GL object and the programs linked from it go too.
    void ForgetShader(GLuint name);
    ShaderProgramCache& shaderPrograms() { return shaderPrograms_; }
    // Moves on whenever a bound texture, a sampler state or a bound shader changes, so that an
    // effect pass that set them all can tell that they still hold what it set.
    uint64_t bindingsSerial() const { return bindingsSerial_; }
    // Makes the device's context current on its window (every GL-touching call does). False
    // once the window was destroyed: the device then draws and shows nothing.
    bool MakeCurrent();
    // Brings GL in line with the state before drawing (the draw calls' entry): the state
    // groups, and with a declaration bound, the program and its uniforms.
    void PrepareDraw();
    // D3DPOOL_DEFAULT resources alive; Reset fails while any are.
    void AddDefaultPoolResource() { ++defaultPoolResources_; }
    void RemoveDefaultPoolResource() { --defaultPoolResources_; }
    // Test hook: see d3d9_testing.h.
    void ForceLoss(bool lost);
    UINT drawCalls() const { return drawCalls_; }
    uint64_t trianglesDrawn() const { return trianglesDrawn_; }
    void ResetDrawCalls() {
        drawCalls_ = 0;
        trianglesDrawn_ = 0;
    }
    // Counts a draw that answered D3D_OK.
    void CountDraw(D3DPRIMITIVETYPE type, UINT primitiveCount) {
        ++drawCalls_;
        if (type == D3DPT_TRIANGLELIST || type == D3DPT_TRIANGLESTRIP || type == D3DPT_TRIANGLEFAN) {
            trianglesDrawn_ += primitiveCount;
        }
    }
    // Reads the back buffer's pixels (A8R8G8B8 words, top row first) of a rectangle.
    bool ReadBackBuffer(const RECT& rect, std::vector<DWORD>* pixels);
    // What Present showed in the window's client area: width x height words, top row first.
    struct WindowImage {
        int width = 0;
        int height = 0;
        std::vector<DWORD> pixels;
    };
    // Present with null arguments; with shown, also reads the client area it filled.
    HRESULT PresentToWindow(WindowImage* shown);
    // Whether the back buffer is the window's own framebuffer (test hook).
    bool BackBufferOnWindow() const { return backBuffer_.onWindow(); }
    const RenderTargetInfo& target() const { return target_; }
    DeviceState& state() { return state_; }
    GlCache& glCache() { return glCache_; }
    // Occlusion queries (query.cpp): one bracket open at a time. Begin restarts the query's
    // own open bracket and refuses while another query's is open.
    HRESULT BeginQuery(Query* query);
    HRESULT EndQuery(Query* query);
    // A query going away ends its open bracket.
    void ForgetQuery(Query* query);
    // Counts Resets: a bracket ended before the last one has no result.
    UINT resets() const { return resets_; }
    // Whether the device is lost or waits for Reset: it then draws and shows nothing.
    bool CannotDraw() const { return Lost() || needsReset_; }
    // The programs held and the programs dropped to keep the cache bounded (for tests).
    int programCount() const { return programs_.size(); }
    uint64_t programEvictions() const { return programs_.evictions(); }
    // Whether GL holds DXT textures as blocks (else as their decoding).
    bool s3tc() const;
    // Whether a texture can answer a fixed alpha of 1 whatever its stored alpha holds.
    bool textureSwizzle() const;

private:
    Device(Direct3D9* d3d, UINT adapter, HWND hwnd, SDL_Window* window, DWORD behavior);
    ~Device() override;

    // Display mode, swap interval, back buffer: the parts of creation Reset repeats.
    HRESULT ApplyPresentParameters(const D3DPRESENT_PARAMETERS& pp);
    // States to their defaults, bound objects released.
    void ResetState();
    void ReleaseBindings();
    bool Lost() const;
    // Whether the device window still lives (a program may destroy it before the device).
    bool WindowAlive() const;
    void LeaveFullScreen();
    static int OnSdlEvent(void* self, SDL_Event* event);

    void BindDeclaration(VertexDeclaration* declaration);
    VertexDeclaration* declaration() const;

    // Drawing (draw.cpp). Whether every stream the layout reads is bound and holds vertices
    // first..last, so GL reads only bytes of the buffers.
    bool StreamsHold(const DeclarationLayout& layout, int64_t first, int64_t last) const;
    // Whether every stream's attribute arrays can start baseVertex vertices on (GL takes no
    // offset below 0).
    bool ArraysCanStartAt(const DeclarationLayout& layout, int64_t baseVertex) const;
    // The checks every draw makes before the ranges: a declaration GL can read, a known
    // primitive type and a count within the caps. The vertices or indices drawn, else 0.
    uint64_t CheckDraw(D3DPRIMITIVETYPE type, UINT primitiveCount) const;
    // PrepareDraw with the context current.
    void ApplyDrawState();
    // The program, uniforms and depth range of the pending vertex-stage groups.
    void ApplyVertexStage(const DeclarationLayout& layout);
    void UploadUniforms(const PipelineKey& key, uint32_t groups);
    // The program key of the state with this layout (pipeline_key.cpp).
    PipelineKey BuildPipelineKey(const DeclarationLayout& layout) const;
    // The uniforms of the enabled lights in camera space.
    void UploadLights();
    // The textures bound to their units with their samplers' parameters (texture_stage.cpp).
    void ApplyTextures();
    // Whether a vertex and a pixel shader are bound: their program replaces the generated ones.
    bool ShadersBound() const;
    // The vertex stage with the bound shaders' program: program, depth range, the half-pixel
    // shift and the fog epilogue's uniforms. program_ stays null when the pair did not link.
    void ApplyShaderStage();
    // Points the program's attributes at the streams, vertex 0 at baseVertex.
    void BindStreams(const DeclarationLayout& layout, int64_t baseVertex);
    // The attribute locations the program drawn with reads.
    uint32_t AttribsRead() const;
    // Whether BindStreams' last arrays are still what it would set now.
    bool StreamsStillBound(const DeclarationLayout& layout, uint32_t reads, int64_t baseVertex) const;
    // Releases the stream and index bindings.
    void ReleaseStreams();
    // The i-th enabled light in index order (i below enabledLights_.size()).
    const D3DLIGHT9& EnabledLight(size_t i) const;
    // Empties the light table (creation and Reset).
    void ClearLights();
    // Whether object is one this device made (the only kind Direct3D's Set* can bind).
    bool OwnsObject(IUnknown* object) const;
    // Whether these parameters and the ramp let the back buffer be the window's framebuffer:
    // Direct3D keeps the back buffer after Present only with COPY, and a ramp that changes
    // what is shown needs a pass from a buffer of its own.
    bool WindowMayServe(const D3DPRESENT_PARAMETERS& pp) const;
    // After the back buffer moved between the window and an object: the target's GL bits and
    // the raster state that depends on them.
    void BackBufferMoved();
    // Moves the back buffer off the window (keeping its picture) when it may no longer be
    // drawn there; the caller made the context current.
    void LeaveWindowIfNeeded(bool force);
    // Reads w x h pixels at x, y (top-left origin) of the bound read framebuffer, which is
    // framebufferHeight pixels high, as A8R8G8B8 words, top row first.
    static void ReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLint framebufferHeight, std::vector<DWORD>* pixels);

    com::ComRef<Direct3D9> d3d_;
    UINT adapter_;
    HWND hwnd_;
    SDL_Window* window_;  // valid only while WindowAlive()
    // The window generation under which the window was last found alive (0: not yet).
    mutable uint64_t aliveGeneration_ = 0;
    uint32_t windowId_;   // SDL's id of window_, for its events
    void* context_ = nullptr;  // SDL_GLContext
    DWORD behavior_;
    D3DPRESENT_PARAMETERS pp_{};
    D3DCAPS9 caps_{};
    RenderTargetInfo target_;
    BackBuffer backBuffer_;
    // The window's default framebuffer as found at the last creation or Reset; its size is
    // the drawable size at the last Present.
    WindowFramebuffer windowFramebuffer_;
    DeviceState state_{};
    GlCache glCache_;
    // The device's bindings: private references, never the program's (see device_child.h).
    Binding<IDirect3DBaseTexture9> textures_[kSamplerCount];  // by SamplerSlot
    // The store of each bound texture, found once at SetTexture rather than at every draw.
    TextureStore* textureStores_[kSamplerCount] = {};
    // Moves on whenever textureStores_ changes.
    uint64_t texturesSerial_ = 1;
    uint64_t bindingsSerial_ = 1;  // see bindingsSerial()
    // ApplyTextures' last full pass: every bound texture complete in GL and bound to its unit,
    // under these serials (0: not so). While both stay and no sampler changed, a pass would
    // find nothing to do.
    struct TexturesSettled {
        uint64_t texturesSerial = 0;
        uint64_t cacheSerial = 0;
    };
    TexturesSettled texturesSettled_;
    Binding<IDirect3DVertexDeclaration9> declaration_;          // always a VertexDeclaration
    DWORD fvf_ = 0;
    std::map<DWORD, Binding<IDirect3DVertexDeclaration9>> fvfDeclarations_;  // bound while the device lives
    struct StreamSource {
        Binding<IDirect3DVertexBuffer9> buffer;  // always a VertexBuffer
        UINT offset = 0;
        UINT stride = 0;
    };
    StreamSource streams_[kStreamCount];
    // Moves on at every SetStreamSource and declaration change: BindStreams' record below
    // holds while it stays.
    uint64_t streamsSerial_ = 1;
    // What the attribute arrays were last pointed at: with the same declaration, streams,
    // attributes read and base vertex, and the GL cache's arrays untouched since, they are so
    // still. The buffers' GL names are kept too (a buffer may get its name after being bound).
    struct StreamsBound {
        uint64_t streamsSerial = 0;
        uint64_t attribSerial = 0;
        uint32_t reads = 0;
        int64_t baseVertex = 0;
        GLuint names[kStreamCount] = {};
    };
    StreamsBound streamsBound_;
    // The vertex range StreamsHold last found held, under streamsSerial.
    struct StreamsHeld {
        uint64_t streamsSerial = 0;
        int64_t first = 0;
        int64_t last = 0;
    };
    mutable StreamsHeld streamsHeld_;
    Binding<IDirect3DIndexBuffer9> indices_;  // always an IndexBuffer
    Binding<IDirect3DVertexShader9> vertexShader_;
    Binding<IDirect3DPixelShader9> pixelShader_;
    // The programs of shader pairs, the one drawn with (null while the generated programs
    // draw) and the services D3DX reaches.
    ShaderProgramCache shaderPrograms_;
    ShaderProgram* shaderProgram_ = nullptr;
    // The bound pair shaderProgram_ was found for: while both stay bound (and so alive) the
    // draws skip the casts and the cache's lookup.
    const void* shaderVertex_ = nullptr;
    const void* shaderPixel_ = nullptr;
    GlslServices glslServices_{this};
    // The light table by index, and the enabled indices in increasing order (at most the
    // caps' MaxActiveLights).
    struct LightSlot {
        D3DLIGHT9 light{};
        bool enabled = false;
    };
    std::map<DWORD, LightSlot> lights_;
    std::vector<DWORD> enabledLights_;
    // The generated programs, the one in use and its key, and the groups its uniforms miss.
    ProgramCache programs_;
    const Program* program_ = nullptr;
    PipelineKey programKey_;
    // The draw being prepared is a point list (its program writes the point size).
    bool drawingPoints_ = false;
    uint32_t vertexStageDirty_ = kDirtyAll;
    uint32_t textureStageDirty_ = kDirtyAll;  // likewise for the textures and samplers
    // The view matrix the light uniforms of the program in use were transformed by.
    bool lightsSent_ = false;
    D3DMATRIX lightsView_{};
    bool viewProjectionKnown_ = false;
    D3DMATRIX viewOfProduct_{}, projectionOfProduct_{}, viewProjection_{};  // view x projection and its factors
    bool occlusionQueries_ = false;  // GL counts samples passed
    Query* openQuery_ = nullptr;     // the query whose bracket is open
    // The GL query of the last bracket closed since the last Present (0: none): a Present
    // that copies nothing waits for it, so its result is there by the next frame, as it is
    // when the copy waits for the frame.
    GLuint queryToAwait_ = 0;
    UINT resets_ = 0;
    D3DGAMMARAMP gamma_{};
    bool gammaIdentity_ = true;  // gamma_ maps every level to itself
    GammaPass gammaPass_;
    bool inScene_ = false;
    // What the depth buffer holds as far as the layer can tell: depthValue_ in every sample,
    // since a Clear reached the whole target and no draw has written depth since. A Clear of
    // depth to that same value then changes nothing and is left out; on a tiled rasteriser a
    // clear after a frame's first draw is a pass over the whole buffer (the saver clears depth
    // again before its labels, over a scene that may have drawn nothing).
    bool depthUniform_ = false;
    float depthValue_ = 0.0f;
    bool fullScreen_ = false;  // the window was switched to a display mode
    // Loss: a full-screen device without focus or minimised is lost; once it could draw
    // again it waits for Reset.
    bool hasFocus_ = true;
    bool minimised_ = false;
    bool forcedLost_ = false;
    bool needsReset_ = false;
    int defaultPoolResources_ = 0;
    UINT drawCalls_ = 0;
    uint64_t trianglesDrawn_ = 0;
};

class VertexDeclaration final : public DeviceChild<IDirect3DVertexDeclaration9, IID_IDirect3DVertexDeclaration9> {
public:
    // elements end with D3DDECL_END and were validated; halfFloat: FLOAT16 types can be read.
    VertexDeclaration(IDirect3DDevice9* device, std::vector<D3DVERTEXELEMENT9> elements, DWORD fvf, bool halfFloat)
        : DeviceChild(device), elements_(std::move(elements)), fvf_(fvf), layout_(LayoutOf(elements_, halfFloat)) {}

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

    // The elements with the end marker.
    const std::vector<D3DVERTEXELEMENT9>& elements() const { return elements_; }
    // The equivalent FVF code, 0 when none expresses the layout.
    DWORD fvf() const { return fvf_; }
    const DeclarationLayout& layout() const { return layout_; }

private:
    std::vector<D3DVERTEXELEMENT9> elements_;
    DWORD fvf_;
    DeclarationLayout layout_;
};

// An occlusion query over a GL_SAMPLES_PASSED query object.
class Query final : public DeviceChild<IDirect3DQuery9, IID_IDirect3DQuery9> {
public:
    // name: a GL query object the query now owns.
    Query(Device* device, GLuint name) : DeviceChild(device), device_(device), name_(name) {}
    ~Query() override;

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    D3DQUERYTYPE STDMETHODCALLTYPE GetType() override { return D3DQUERYTYPE_OCCLUSION; }
    DWORD STDMETHODCALLTYPE GetDataSize() override { return sizeof(DWORD); }
    HRESULT STDMETHODCALLTYPE Issue(DWORD issueFlags) override;
    HRESULT STDMETHODCALLTYPE GetData(void* data, DWORD size, DWORD getDataFlags) override;

    GLuint name() const { return name_; }
    // The device's word that the bracket opened or closed.
    void Began() { state_ = State::kBegun; }
    void Ended(UINT resets) {
        state_ = State::kEnded;
        endedAt_ = resets;
        haveResult_ = false;
    }

private:
    enum class State { kNew, kBegun, kEnded };

    Device* device_;
    GLuint name_;
    State state_ = State::kNew;
    UINT endedAt_ = 0;  // the device's Reset count when the bracket closed
    bool haveResult_ = false;
    DWORD result_ = 0;
};

// Checks presentation parameters for a device on adapter drawing into window, filling the
// fields Direct3D fills (window size, desktop format, one back buffer). D3D_OK or
// D3DERR_INVALIDCALL (and pp unchanged).
HRESULT CompletePresentParameters(const Direct3D9& d3d, UINT adapter, SDL_Window* window, D3DPRESENT_PARAMETERS* pp);

}  // namespace rh::d3d9
