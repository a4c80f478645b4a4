// A counting test double of IDirect3DDevice9 for the engine's device code: every method counts
// its calls, and each can be told which HRESULT to answer (S_OK unless told otherwise).
// Setters remember the last value they were given so tests can see what reached the device.
// The double lives on the test's stack or in a fixture: Release only counts down, never
// deletes, so a test can check that references balance.
#pragma once

#include <d3d9.h>

#include <array>
#include <cstring>
#include <map>
#include <utility>

namespace rh::test {

enum class DeviceCall {
    TestCooperativeLevel,
    GetDirect3D,
    GetDeviceCaps,
    GetDisplayMode,
    Reset,
    Present,
    SetGammaRamp,
    GetGammaRamp,
    BeginScene,
    EndScene,
    Clear,
    SetTransform,
    GetTransform,
    SetViewport,
    GetViewport,
    SetMaterial,
    GetMaterial,
    SetRenderState,
    GetRenderState,
    GetTexture,
    SetTexture,
    GetTextureStageState,
    SetTextureStageState,
    GetSamplerState,
    SetSamplerState,
    SetScissorRect,
    GetScissorRect,
    CreateVertexDeclaration,
    SetVertexDeclaration,
    GetVertexDeclaration,
    SetFVF,
    GetFVF,
    CreateVertexBuffer,
    CreateIndexBuffer,
    SetStreamSource,
    GetStreamSource,
    SetIndices,
    GetIndices,
    DrawPrimitive,
    DrawIndexedPrimitive,
    CreateQuery,
    CreateTexture,
    CreateCubeTexture,
    SetLight,
    GetLight,
    LightEnable,
    GetLightEnable,
    SetVertexShader,
    GetVertexShader,
    SetPixelShader,
    GetPixelShader,
    kCount
};

// A declaration made by the fake device; counts its own references like the device does and
// deletes itself on the last Release. `live` counts the declarations not yet deleted.
class FakeVertexDeclaration final : public IDirect3DVertexDeclaration9 {
public:
    FakeVertexDeclaration() { ++live; }
    ~FakeVertexDeclaration() { --live; }
    static inline int live = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        if (object != nullptr) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override {
        if (device != nullptr) *device = nullptr;
        return D3DERR_INVALIDCALL;
    }
    HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9*, UINT* count) override {
        if (count != nullptr) *count = 0;
        return D3D_OK;
    }
    ULONG refs = 1;
};

class FakeDevice : public IDirect3DDevice9 {
public:
    // The buffer and query makers hand out nothing: they answer D3DERR_NOTAVAILABLE unless
    // told otherwise (and even then give null).
    FakeDevice() {
        answers.fill(S_OK);
        for (DeviceCall call : {DeviceCall::CreateVertexBuffer, DeviceCall::CreateIndexBuffer, DeviceCall::CreateQuery,
                                 DeviceCall::CreateTexture, DeviceCall::CreateCubeTexture}) {
            answers[Index(call)] = D3DERR_NOTAVAILABLE;
        }
    }

    int Calls(DeviceCall call) const { return calls[Index(call)]; }
    int TotalCalls() const {
        int total = 0;
        for (int c : calls) total += c;
        return total;
    }
    void ResetCounts() { calls.fill(0); }
    // The answer of every later call of that method.
    void Answer(DeviceCall call, HRESULT hr) { answers[Index(call)] = hr; }

    // ---- IUnknown: counted references, never deleted ----
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDirect3DDevice9) {
            AddRef();
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    HRESULT STDMETHODCALLTYPE TestCooperativeLevel() override { return Count(DeviceCall::TestCooperativeLevel); }
    HRESULT STDMETHODCALLTYPE GetDirect3D(IDirect3D9** direct3d) override {
        if (direct3d != nullptr) *direct3d = nullptr;
        return Count(DeviceCall::GetDirect3D);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(D3DCAPS9* out) override {
        if (out != nullptr) *out = caps;
        return Count(DeviceCall::GetDeviceCaps);
    }
    HRESULT STDMETHODCALLTYPE GetDisplayMode(UINT, D3DDISPLAYMODE* mode) override {
        if (mode != nullptr) *mode = D3DDISPLAYMODE{};
        return Count(DeviceCall::GetDisplayMode);
    }
    HRESULT STDMETHODCALLTYPE Reset(D3DPRESENT_PARAMETERS* params) override {
        if (params != nullptr) lastReset = *params;
        return Count(DeviceCall::Reset);
    }
    HRESULT STDMETHODCALLTYPE Present(const RECT*, const RECT*, HWND, const void*) override {
        return Count(DeviceCall::Present);
    }
    void STDMETHODCALLTYPE SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP*) override { Count(DeviceCall::SetGammaRamp); }
    void STDMETHODCALLTYPE GetGammaRamp(UINT, D3DGAMMARAMP* ramp) override {
        if (ramp != nullptr) *ramp = D3DGAMMARAMP{};
        Count(DeviceCall::GetGammaRamp);
    }
    HRESULT STDMETHODCALLTYPE BeginScene() override { return Count(DeviceCall::BeginScene); }
    HRESULT STDMETHODCALLTYPE EndScene() override { return Count(DeviceCall::EndScene); }
    HRESULT STDMETHODCALLTYPE Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override {
        return Count(DeviceCall::Clear);
    }

    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override {
        if (matrix != nullptr) transforms[state] = *matrix;
        return Count(DeviceCall::SetTransform);
    }
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override {
        if (matrix != nullptr) *matrix = transforms[state];
        return Count(DeviceCall::GetTransform);
    }
    HRESULT STDMETHODCALLTYPE SetViewport(const D3DVIEWPORT9*) override { return Count(DeviceCall::SetViewport); }
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override {
        if (viewport != nullptr) *viewport = D3DVIEWPORT9{};
        return Count(DeviceCall::GetViewport);
    }
    HRESULT STDMETHODCALLTYPE SetMaterial(const D3DMATERIAL9* m) override {
        materialWasNull = m == nullptr;
        if (m != nullptr) material = *m;
        return Count(DeviceCall::SetMaterial);
    }
    HRESULT STDMETHODCALLTYPE GetMaterial(D3DMATERIAL9* m) override {
        if (m != nullptr) *m = material;
        return Count(DeviceCall::GetMaterial);
    }
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        renderStates[state] = value;
        return Count(DeviceCall::SetRenderState);
    }
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
        const HRESULT hr = Count(DeviceCall::GetRenderState);
        if (value != nullptr && hr == S_OK) *value = renderStates[state];
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override {
        if (texture != nullptr) *texture = textures[stage];
        return Count(DeviceCall::GetTexture);
    }
    HRESULT STDMETHODCALLTYPE SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override {
        textures[stage] = texture;
        return Count(DeviceCall::SetTexture);
    }
    HRESULT STDMETHODCALLTYPE GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override {
        if (value != nullptr) *value = stageStates[{stage, type}];
        return Count(DeviceCall::GetTextureStageState);
    }
    HRESULT STDMETHODCALLTYPE SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
        stageStates[{stage, type}] = value;
        return Count(DeviceCall::SetTextureStageState);
    }
    HRESULT STDMETHODCALLTYPE GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override {
        if (value != nullptr) *value = samplerStates[{sampler, type}];
        return Count(DeviceCall::GetSamplerState);
    }
    HRESULT STDMETHODCALLTYPE SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override {
        samplerStates[{sampler, type}] = value;
        return Count(DeviceCall::SetSamplerState);
    }

    HRESULT STDMETHODCALLTYPE SetScissorRect(const RECT*) override { return Count(DeviceCall::SetScissorRect); }
    HRESULT STDMETHODCALLTYPE GetScissorRect(RECT* rect) override {
        if (rect != nullptr) *rect = RECT{};
        return Count(DeviceCall::GetScissorRect);
    }

    // Makes a FakeVertexDeclaration the caller owns (one reference) unless told to fail.
    HRESULT STDMETHODCALLTYPE CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                                      IDirect3DVertexDeclaration9** declaration) override {
        const HRESULT hr = Count(DeviceCall::CreateVertexDeclaration);
        if (declaration == nullptr || elements == nullptr) return D3DERR_INVALIDCALL;
        *declaration = hr == S_OK ? new FakeVertexDeclaration : nullptr;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetVertexDeclaration(IDirect3DVertexDeclaration9*) override {
        return Count(DeviceCall::SetVertexDeclaration);
    }
    HRESULT STDMETHODCALLTYPE GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) override {
        if (declaration != nullptr) *declaration = nullptr;
        return Count(DeviceCall::GetVertexDeclaration);
    }
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD) override { return Count(DeviceCall::SetFVF); }
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override {
        if (fvf != nullptr) *fvf = 0;
        return Count(DeviceCall::GetFVF);
    }

    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** buffer,
                                                 HANDLE*) override {
        if (buffer != nullptr) *buffer = nullptr;
        return Count(DeviceCall::CreateVertexBuffer);
    }
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9** buffer,
                                                HANDLE*) override {
        if (buffer != nullptr) *buffer = nullptr;
        return Count(DeviceCall::CreateIndexBuffer);
    }
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT, IDirect3DVertexBuffer9*, UINT, UINT) override {
        return Count(DeviceCall::SetStreamSource);
    }
    HRESULT STDMETHODCALLTYPE GetStreamSource(UINT, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override {
        if (buffer != nullptr) *buffer = nullptr;
        if (offset != nullptr) *offset = 0;
        if (stride != nullptr) *stride = 0;
        return Count(DeviceCall::GetStreamSource);
    }
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9*) override { return Count(DeviceCall::SetIndices); }
    HRESULT STDMETHODCALLTYPE GetIndices(IDirect3DIndexBuffer9** buffer) override {
        if (buffer != nullptr) *buffer = nullptr;
        return Count(DeviceCall::GetIndices);
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override {
        return Count(DeviceCall::DrawPrimitive);
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override {
        return Count(DeviceCall::DrawIndexedPrimitive);
    }
    HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE, IDirect3DQuery9** query) override {
        if (query != nullptr) *query = nullptr;
        return Count(DeviceCall::CreateQuery);
    }
    HRESULT STDMETHODCALLTYPE CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9** texture,
                                            HANDLE*) override {
        if (texture != nullptr) *texture = nullptr;
        return Count(DeviceCall::CreateTexture);
    }
    HRESULT STDMETHODCALLTYPE CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9** texture,
                                                HANDLE*) override {
        if (texture != nullptr) *texture = nullptr;
        return Count(DeviceCall::CreateCubeTexture);
    }

    // Lights are remembered as given; GetLight and GetLightEnable answer them (an index never
    // set reads as a zero light, off).
    HRESULT STDMETHODCALLTYPE SetLight(DWORD index, const D3DLIGHT9* light) override {
        if (light != nullptr) lights[index] = *light;
        return Count(DeviceCall::SetLight);
    }
    HRESULT STDMETHODCALLTYPE GetLight(DWORD index, D3DLIGHT9* light) override {
        if (light != nullptr) *light = lights[index];
        return Count(DeviceCall::GetLight);
    }
    HRESULT STDMETHODCALLTYPE LightEnable(DWORD index, BOOL enable) override {
        lightEnabled[index] = enable;
        return Count(DeviceCall::LightEnable);
    }
    HRESULT STDMETHODCALLTYPE GetLightEnable(DWORD index, BOOL* enable) override {
        if (enable != nullptr) *enable = lightEnabled[index];
        return Count(DeviceCall::GetLightEnable);
    }
    HRESULT STDMETHODCALLTYPE SetVertexShader(IDirect3DVertexShader9* shader) override {
        vertexShader = shader;
        return Count(DeviceCall::SetVertexShader);
    }
    HRESULT STDMETHODCALLTYPE GetVertexShader(IDirect3DVertexShader9** shader) override {
        if (shader != nullptr) *shader = vertexShader;
        return Count(DeviceCall::GetVertexShader);
    }
    HRESULT STDMETHODCALLTYPE SetPixelShader(IDirect3DPixelShader9* shader) override {
        pixelShader = shader;
        return Count(DeviceCall::SetPixelShader);
    }
    HRESULT STDMETHODCALLTYPE GetPixelShader(IDirect3DPixelShader9** shader) override {
        if (shader != nullptr) *shader = pixelShader;
        return Count(DeviceCall::GetPixelShader);
    }

    ULONG refs = 1;
    D3DCAPS9 caps{};
    D3DPRESENT_PARAMETERS lastReset{};
    std::map<DWORD, DWORD> renderStates;
    std::map<std::pair<DWORD, DWORD>, DWORD> samplerStates;
    std::map<std::pair<DWORD, DWORD>, DWORD> stageStates;
    std::map<DWORD, IDirect3DBaseTexture9*> textures;
    std::map<DWORD, D3DMATRIX> transforms;
    D3DMATERIAL9 material{};
    bool materialWasNull = false;
    std::map<DWORD, D3DLIGHT9> lights;
    std::map<DWORD, BOOL> lightEnabled;
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;

private:
    static int Index(DeviceCall call) { return static_cast<int>(call); }
    HRESULT Count(DeviceCall call) {
        ++calls[Index(call)];
        return answers[Index(call)];
    }

    std::array<int, static_cast<int>(DeviceCall::kCount)> calls{};
    std::array<HRESULT, static_cast<int>(DeviceCall::kCount)> answers{};
};

// A Direct3D object with one adapter that shows one mode (the desktop, 800x600 at 60 Hz in
// X8R8G8B8), one HAL device type with A8R8G8B8/X8R8G8B8 back buffers, D24S8 depth and no
// multisampling, so the framework's enumeration and searches succeed; CreateDevice hands out
// the given FakeDevice (with a new reference) unless told to fail. Counted references, never
// deleted.
class FrameworkDirect3D : public IDirect3D9 {
public:
    explicit FrameworkDirect3D(FakeDevice* device) : device_(device) {
        caps.DeviceType = D3DDEVTYPE_HAL;
        caps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
        caps.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
        caps.MaxPointSize = 64.0f;
        caps.FVFCaps = D3DFVFCAPS_PSIZE | 8;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        if (object != nullptr) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    UINT STDMETHODCALLTYPE GetAdapterCount() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT, DWORD, D3DADAPTER_IDENTIFIER9* id) override {
        if (id != nullptr) *id = D3DADAPTER_IDENTIFIER9{};
        return D3D_OK;
    }
    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT adapter, D3DFORMAT format) override {
        return adapter == 0 && format == D3DFMT_X8R8G8B8 ? 1 : 0;
    }
    HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) override {
        if (adapter != 0 || format != D3DFMT_X8R8G8B8 || mode != 0 || out == nullptr) return D3DERR_INVALIDCALL;
        *out = desktop;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT, D3DDISPLAYMODE* mode) override {
        if (mode != nullptr) *mode = desktop;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBuffer,
                                              BOOL) override {
        const bool ok = type == D3DDEVTYPE_HAL && adapterFormat == D3DFMT_X8R8G8B8 &&
                        (backBuffer == D3DFMT_A8R8G8B8 || backBuffer == D3DFMT_X8R8G8B8);
        return ok ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE,
                                                D3DFORMAT check) override {
        return check == D3DFMT_D24S8 ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT, D3DDEVTYPE, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE type,
                                                         DWORD* levels) override {
        if (type != D3DMULTISAMPLE_NONE) return D3DERR_NOTAVAILABLE;
        if (levels != nullptr) *levels = 1;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT) override {
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT, D3DDEVTYPE type, D3DCAPS9* out) override {
        if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
        if (out != nullptr) *out = caps;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD behaviour, D3DPRESENT_PARAMETERS* params,
                                           IDirect3DDevice9** device) override {
        ++createCalls;
        lastBehaviour = behaviour;
        if (params != nullptr) lastParams = *params;
        if (device == nullptr) return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (createAnswer != D3D_OK) return createAnswer;
        device_->AddRef();
        *device = device_;
        return D3D_OK;
    }

    ULONG refs = 1;
    D3DCAPS9 caps{};
    D3DDISPLAYMODE desktop{800, 600, 60, D3DFMT_X8R8G8B8};
    HRESULT createAnswer = D3D_OK;
    int createCalls = 0;
    DWORD lastBehaviour = 0;
    D3DPRESENT_PARAMETERS lastParams{};

private:
    FakeDevice* device_;
};

}  // namespace rh::test
