// Conformance of the Direct3D 9 device: creation, default states, Set/Get, Reset, loss,
// scenes, Clear read back from the back buffer, Present into the window, reference counts and
// vertex declarations.

#include "tests/platform/d3d9_test_support.h"

#include "platform/d3d9/d3d9_testing.h"
#include "platform/d3d9/device_child.h"
#include "platform/win32/sdl_window_local.h"

#include <d3d9.h>
#include <d3dx9mesh.h>
#include <windows.h>

#include <SDL.h>
#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using d3d9_test::RefCount;
using d3d9_test::TestWindow;
using d3d9_test::WindowedParameters;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

DWORD Bits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool IsIdentity(const D3DMATRIX& m) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (m.m[r][c] != (r == c ? 1.0f : 0.0f)) return false;
        }
    }
    return true;
}

// A program's own COM object posing as a texture: no device of the layer made it.
class ForeignTexture : public IDirect3DBaseTexture9 {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9**) override { return D3DERR_INVALIDCALL; }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD STDMETHODCALLTYPE GetLevelCount() override { return 1; }
    ULONG refs = 1;
};

// A texture made on the device the way the layer's textures are (counted as a device object),
// without storage; it reports its destruction. Stands in until the layer makes textures.
class StandInTexture final : public rh::d3d9::DeviceChild<IDirect3DBaseTexture9> {
public:
    StandInTexture(IDirect3DDevice9* device, bool* destroyed) : DeviceChild(device), destroyed_(destroyed) {}
    ~StandInTexture() override { *destroyed_ = true; }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD STDMETHODCALLTYPE GetLevelCount() override { return 1; }

private:
    bool* destroyed_;
};

// Whether every channel of a and b differs by at most tolerance.
bool Close(DWORD a, DWORD b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d < -tolerance || d > tolerance) return false;
    }
    return true;
}

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        window_ = std::make_unique<TestWindow>(kWidth, kHeight);
        ASSERT_NE(window_->hwnd(), nullptr);
        pp_ = WindowedParameters();
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_->hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp_,
                                     &device_),
                  D3D_OK);
    }
    void TearDown() override {
        if (device_ != nullptr) {
            EXPECT_EQ(device_->Release(), 0u) << "the device outlived its last reference";
        }
        window_.reset();
        if (d3d_ != nullptr) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }

    // The colour of every pixel of rect, or 0x12345678 when they differ (beyond a tolerance of
    // one step per channel) or the read fails.
    DWORD SolidColour(RECT rect) {
        std::vector<DWORD> pixels;
        if (!rh::d3d9::testing::ReadBackBuffer(device_, rect, &pixels) || pixels.empty()) return 0x12345678;
        for (DWORD p : pixels) {
            if (!Close(p, pixels[0], 1)) return 0x12345678;
        }
        return pixels[0] & 0x00FFFFFF;
    }

    IDirect3D9* d3d_ = nullptr;
    std::unique_ptr<TestWindow> window_;
    D3DPRESENT_PARAMETERS pp_{};
    IDirect3DDevice9* device_ = nullptr;
};

TEST_F(DeviceTest, WindowedCreationFillsTheBackBufferFromTheWindow) {
    EXPECT_EQ(pp_.BackBufferWidth, static_cast<UINT>(kWidth));
    EXPECT_EQ(pp_.BackBufferHeight, static_cast<UINT>(kHeight));
    EXPECT_EQ(pp_.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(pp_.BackBufferCount, 1u);
    D3DVIEWPORT9 vp{};
    ASSERT_EQ(device_->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.X, 0u);
    EXPECT_EQ(vp.Y, 0u);
    EXPECT_EQ(vp.Width, static_cast<DWORD>(kWidth));
    EXPECT_EQ(vp.Height, static_cast<DWORD>(kHeight));
    EXPECT_EQ(vp.MinZ, 0.0f);
    EXPECT_EQ(vp.MaxZ, 1.0f);
    D3DDISPLAYMODE mode{}, desktop{};
    ASSERT_EQ(device_->GetDisplayMode(0, &mode), D3D_OK);
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(std::memcmp(&mode, &desktop, sizeof mode), 0);
    D3DCAPS9 caps{}, adapterCaps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    ASSERT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &adapterCaps), D3D_OK);
    EXPECT_EQ(std::memcmp(&caps, &adapterCaps, sizeof caps), 0);
}

TEST_F(DeviceTest, CreationRefusesWhatTheAdapterDoesNotOffer) {
    struct Case {
        const char* what;
        D3DDEVTYPE type;
        DWORD behaviour;
        void (*change)(D3DPRESENT_PARAMETERS&);
        HRESULT expected;
    };
    const DWORD hw = D3DCREATE_HARDWARE_VERTEXPROCESSING;
    const Case cases[] = {
        {"reference device", D3DDEVTYPE_REF, hw, [](D3DPRESENT_PARAMETERS&) {}, D3DERR_NOTAVAILABLE},
        {"no vertex processing", D3DDEVTYPE_HAL, 0, [](D3DPRESENT_PARAMETERS&) {}, D3DERR_INVALIDCALL},
        {"two vertex processings", D3DDEVTYPE_HAL, hw | D3DCREATE_SOFTWARE_VERTEXPROCESSING,
         [](D3DPRESENT_PARAMETERS&) {}, D3DERR_INVALIDCALL},
        {"pure device", D3DDEVTYPE_HAL, hw | D3DCREATE_PUREDEVICE, [](D3DPRESENT_PARAMETERS&) {}, D3DERR_INVALIDCALL},
        {"multisampling", D3DDEVTYPE_HAL, hw, [](D3DPRESENT_PARAMETERS& p) { p.MultiSampleType = D3DMULTISAMPLE_2_SAMPLES; },
         D3DERR_INVALIDCALL},
        {"32-bit depth", D3DDEVTYPE_HAL, hw, [](D3DPRESENT_PARAMETERS& p) { p.AutoDepthStencilFormat = D3DFMT_D32; },
         D3DERR_INVALIDCALL},
        {"windowed refresh rate", D3DDEVTYPE_HAL, hw, [](D3DPRESENT_PARAMETERS& p) { p.FullScreen_RefreshRateInHz = 60; },
         D3DERR_INVALIDCALL},
        {"interval two", D3DDEVTYPE_HAL, hw, [](D3DPRESENT_PARAMETERS& p) { p.PresentationInterval = D3DPRESENT_INTERVAL_TWO; },
         D3DERR_INVALIDCALL},
        {"no swap effect", D3DDEVTYPE_HAL, hw, [](D3DPRESENT_PARAMETERS& p) { p.SwapEffect = static_cast<D3DSWAPEFFECT>(0); },
         D3DERR_INVALIDCALL},
        {"full screen in no mode", D3DDEVTYPE_HAL, hw,
         [](D3DPRESENT_PARAMETERS& p) {
             p.Windowed = FALSE;
             p.BackBufferWidth = 123;
             p.BackBufferHeight = 45;
             p.BackBufferFormat = D3DFMT_X8R8G8B8;
         },
         D3DERR_INVALIDCALL},
        {"full screen 0x0", D3DDEVTYPE_HAL, hw,
         [](D3DPRESENT_PARAMETERS& p) {
             p.Windowed = FALSE;
             p.BackBufferFormat = D3DFMT_X8R8G8B8;
         },
         D3DERR_INVALIDCALL},
        {"full screen without height", D3DDEVTYPE_HAL, hw,
         [](D3DPRESENT_PARAMETERS& p) {
             p.Windowed = FALSE;
             p.BackBufferWidth = 640;
             p.BackBufferFormat = D3DFMT_X8R8G8B8;
         },
         D3DERR_INVALIDCALL},
        {"16-bit back buffer in a window", D3DDEVTYPE_HAL, hw,
         [](D3DPRESENT_PARAMETERS& p) { p.BackBufferFormat = D3DFMT_R5G6B5; }, D3DERR_INVALIDCALL},
    };
    TestWindow other(64, 64);
    ASSERT_NE(other.hwnd(), nullptr);
    IDirect3DDevice9* const sentinel = reinterpret_cast<IDirect3DDevice9*>(uintptr_t{0x5EB7});
    for (const Case& c : cases) {
        D3DPRESENT_PARAMETERS pp = WindowedParameters();
        c.change(pp);
        D3DPRESENT_PARAMETERS before = pp;
        IDirect3DDevice9* device = sentinel;
        EXPECT_EQ(d3d_->CreateDevice(0, c.type, other.hwnd(), c.behaviour, &pp, &device), c.expected) << c.what;
        EXPECT_EQ(device, sentinel) << c.what;
        EXPECT_EQ(std::memcmp(&pp, &before, sizeof pp), 0) << c.what << ": parameters changed by a failing call";
    }
}

TEST_F(DeviceTest, StatesStartAtTheDirect3DDefaults) {
    struct RenderCase {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const RenderCase renderCases[] = {
        {D3DRS_ZENABLE, D3DZB_TRUE},  // an automatic depth buffer was asked for
        {D3DRS_FILLMODE, D3DFILL_SOLID},
        {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_ALPHATESTENABLE, FALSE},
        {D3DRS_LASTPIXEL, TRUE},
        {D3DRS_SRCBLEND, D3DBLEND_ONE},
        {D3DRS_DESTBLEND, D3DBLEND_ZERO},
        {D3DRS_CULLMODE, D3DCULL_CCW},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
        {D3DRS_ALPHAREF, 0},
        {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
        {D3DRS_DITHERENABLE, FALSE},
        {D3DRS_ALPHABLENDENABLE, FALSE},
        {D3DRS_FOGENABLE, FALSE},
        {D3DRS_SPECULARENABLE, FALSE},
        {D3DRS_FOGCOLOR, 0},
        {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
        {D3DRS_FOGSTART, Bits(0.0f)},
        {D3DRS_FOGEND, Bits(1.0f)},
        {D3DRS_FOGDENSITY, Bits(1.0f)},
        {D3DRS_RANGEFOGENABLE, FALSE},
        {D3DRS_STENCILENABLE, FALSE},
        {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
        {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
        {D3DRS_STENCILMASK, 0xFFFFFFFF},
        {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF},
        {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
        {D3DRS_WRAP0, 0},
        {D3DRS_CLIPPING, TRUE},
        {D3DRS_LIGHTING, TRUE},
        {D3DRS_AMBIENT, 0},
        {D3DRS_FOGVERTEXMODE, D3DFOG_NONE},
        {D3DRS_COLORVERTEX, TRUE},
        {D3DRS_LOCALVIEWER, TRUE},
        {D3DRS_NORMALIZENORMALS, FALSE},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
        {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
        {D3DRS_CLIPPLANEENABLE, 0},
        {D3DRS_POINTSIZE, Bits(1.0f)},
        {D3DRS_POINTSIZE_MIN, Bits(1.0f)},
        {D3DRS_POINTSPRITEENABLE, FALSE},
        {D3DRS_POINTSCALEENABLE, FALSE},
        {D3DRS_POINTSCALE_A, Bits(1.0f)},
        {D3DRS_POINTSCALE_B, Bits(0.0f)},
        {D3DRS_POINTSCALE_C, Bits(0.0f)},
        {D3DRS_MULTISAMPLEANTIALIAS, TRUE},
        {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF},
        {D3DRS_COLORWRITEENABLE, 0x0000000F},
        {D3DRS_BLENDOP, D3DBLENDOP_ADD},
        {D3DRS_SCISSORTESTENABLE, FALSE},
        {D3DRS_SLOPESCALEDEPTHBIAS, 0},
        {D3DRS_DEPTHBIAS, 0},
        {D3DRS_TWOSIDEDSTENCILMODE, FALSE},
        {D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS},
        {D3DRS_BLENDFACTOR, 0xFFFFFFFF},
        {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
        {D3DRS_SRCBLENDALPHA, D3DBLEND_ONE},
        {D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO},
        {D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD},
    };
    for (const RenderCase& c : renderCases) {
        DWORD value = 0xDEADBEEF;
        ASSERT_EQ(device_->GetRenderState(c.state, &value), D3D_OK) << "render state " << c.state;
        EXPECT_EQ(value, c.value) << "render state " << c.state;
    }

    struct SamplerCase {
        D3DSAMPLERSTATETYPE type;
        DWORD value;
    };
    const SamplerCase samplerCases[] = {
        {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP}, {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP}, {D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP},
        {D3DSAMP_BORDERCOLOR, 0},             {D3DSAMP_MAGFILTER, D3DTEXF_POINT},   {D3DSAMP_MINFILTER, D3DTEXF_POINT},
        {D3DSAMP_MIPFILTER, D3DTEXF_NONE},    {D3DSAMP_MIPMAPLODBIAS, 0},           {D3DSAMP_MAXMIPLEVEL, 0},
        {D3DSAMP_MAXANISOTROPY, 1},           {D3DSAMP_SRGBTEXTURE, 0},
    };
    // The displacement-map and vertex-texture samplers are samplers like the others.
    for (DWORD sampler : {0u, 7u, 15u, DWORD{D3DDMAPSAMPLER}, DWORD{D3DVERTEXTEXTURESAMPLER0},
                          DWORD{D3DVERTEXTEXTURESAMPLER3}}) {
        for (const SamplerCase& c : samplerCases) {
            DWORD value = 0xDEADBEEF;
            ASSERT_EQ(device_->GetSamplerState(sampler, c.type, &value), D3D_OK);
            EXPECT_EQ(value, c.value) << "sampler " << sampler << " state " << c.type;
        }
    }

    struct StageCase {
        D3DTEXTURESTAGESTATETYPE type;
        DWORD stage0;
        DWORD later;  // stages 1..7; kStageIndex for TEXCOORDINDEX
    };
    constexpr DWORD kStageIndex = 0xFFFFFFFF;
    const StageCase stageCases[] = {
        {D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTOP_DISABLE},
        {D3DTSS_COLORARG1, D3DTA_TEXTURE, D3DTA_TEXTURE},
        {D3DTSS_COLORARG2, D3DTA_CURRENT, D3DTA_CURRENT},
        {D3DTSS_ALPHAOP, D3DTOP_SELECTARG1, D3DTOP_DISABLE},
        {D3DTSS_ALPHAARG1, D3DTA_TEXTURE, D3DTA_TEXTURE},
        {D3DTSS_ALPHAARG2, D3DTA_CURRENT, D3DTA_CURRENT},
        {D3DTSS_BUMPENVMAT00, 0, 0},
        {D3DTSS_TEXCOORDINDEX, 0, kStageIndex},
        {D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE, D3DTTFF_DISABLE},
        {D3DTSS_COLORARG0, D3DTA_CURRENT, D3DTA_CURRENT},
        {D3DTSS_ALPHAARG0, D3DTA_CURRENT, D3DTA_CURRENT},
        {D3DTSS_RESULTARG, D3DTA_CURRENT, D3DTA_CURRENT},
        {D3DTSS_CONSTANT, 0, 0},
    };
    for (DWORD stage = 0; stage < 8; ++stage) {
        for (const StageCase& c : stageCases) {
            DWORD expected = stage == 0 ? c.stage0 : (c.later == kStageIndex ? stage : c.later);
            DWORD value = 0xDEADBEEF;
            ASSERT_EQ(device_->GetTextureStageState(stage, c.type, &value), D3D_OK);
            EXPECT_EQ(value, expected) << "stage " << stage << " state " << c.type;
        }
    }

    for (D3DTRANSFORMSTATETYPE t : {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0, D3DTS_TEXTURE7, D3DTS_WORLD,
                                    D3DTS_WORLDMATRIX(255)}) {
        D3DMATRIX m{};
        ASSERT_EQ(device_->GetTransform(t, &m), D3D_OK) << t;
        EXPECT_TRUE(IsIdentity(m)) << "transform " << t;
    }
    D3DMATERIAL9 material;
    std::memset(&material, 0x5A, sizeof material);
    ASSERT_EQ(device_->GetMaterial(&material), D3D_OK);
    const D3DMATERIAL9 zero{};
    EXPECT_EQ(std::memcmp(&material, &zero, sizeof material), 0);
    for (DWORD stage : {0u, DWORD{D3DDMAPSAMPLER}, DWORD{D3DVERTEXTEXTURESAMPLER3}}) {
        IDirect3DBaseTexture9* texture = reinterpret_cast<IDirect3DBaseTexture9*>(uintptr_t{0x5EB7});
        ASSERT_EQ(device_->GetTexture(stage, &texture), D3D_OK) << stage;
        EXPECT_EQ(texture, nullptr) << stage;
    }

    // A real device starts D3DRS_POINTSIZE_MAX at its MaxPointSize, not at the documented 64.
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    DWORD pointSizeMax = 0;
    ASSERT_EQ(device_->GetRenderState(D3DRS_POINTSIZE_MAX, &pointSizeMax), D3D_OK);
    EXPECT_EQ(pointSizeMax, Bits(caps.MaxPointSize));

    RECT scissor{1, 2, 3, 4};
    ASSERT_EQ(device_->GetScissorRect(&scissor), D3D_OK);
    EXPECT_EQ(scissor.left, 0);
    EXPECT_EQ(scissor.top, 0);
    EXPECT_EQ(scissor.right, kWidth) << "the whole back buffer";
    EXPECT_EQ(scissor.bottom, kHeight);
}

TEST_F(DeviceTest, SetValuesReadBackAndInvalidOnesAreRefused) {
    ASSERT_EQ(device_->SetRenderState(D3DRS_FOGSTART, Bits(-500.0f)), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRS_TEXTUREFACTOR, 0x80FF0000), D3D_OK);
    ASSERT_EQ(device_->SetSamplerState(3, D3DSAMP_MINFILTER, D3DTEXF_LINEAR), D3D_OK);
    ASSERT_EQ(device_->SetSamplerState(D3DVERTEXTEXTURESAMPLER1, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC), D3D_OK);
    ASSERT_EQ(device_->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_ADD), D3D_OK);
    const RECT scissor{10, 20, 90, 70};
    ASSERT_EQ(device_->SetScissorRect(&scissor), D3D_OK);
    D3DMATRIX world{};
    for (int i = 0; i < 16; ++i) world.m[i / 4][i % 4] = static_cast<float>(i);
    ASSERT_EQ(device_->SetTransform(D3DTS_WORLD, &world), D3D_OK);
    D3DMATERIAL9 material{};
    material.Diffuse = {0.25f, 0.5f, 0.75f, 1.0f};
    material.Power = 12.0f;
    ASSERT_EQ(device_->SetMaterial(&material), D3D_OK);
    D3DVIEWPORT9 viewport{10, 20, 100, 50, 0.25f, 0.75f};
    ASSERT_EQ(device_->SetViewport(&viewport), D3D_OK);

    DWORD value = 0;
    EXPECT_EQ(device_->GetRenderState(D3DRS_FOGSTART, &value), D3D_OK);
    EXPECT_EQ(value, Bits(-500.0f));
    EXPECT_EQ(device_->GetRenderState(D3DRS_TEXTUREFACTOR, &value), D3D_OK);
    EXPECT_EQ(value, 0x80FF0000u);
    EXPECT_EQ(device_->GetSamplerState(3, D3DSAMP_MINFILTER, &value), D3D_OK);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(device_->GetSamplerState(D3DVERTEXTEXTURESAMPLER1, D3DSAMP_MINFILTER, &value), D3D_OK);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_ANISOTROPIC));
    EXPECT_EQ(device_->GetSamplerState(D3DVERTEXTEXTURESAMPLER2, D3DSAMP_MINFILTER, &value), D3D_OK);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_POINT)) << "each sampler has its own states";
    RECT gotScissor{};
    EXPECT_EQ(device_->GetScissorRect(&gotScissor), D3D_OK);
    EXPECT_EQ(std::memcmp(&gotScissor, &scissor, sizeof scissor), 0);
    EXPECT_EQ(device_->GetTextureStageState(2, D3DTSS_COLOROP, &value), D3D_OK);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTOP_ADD));
    D3DMATRIX m{};
    EXPECT_EQ(device_->GetTransform(D3DTS_WORLD, &m), D3D_OK);
    EXPECT_EQ(std::memcmp(&m, &world, sizeof m), 0);
    D3DMATERIAL9 gotMaterial{};
    EXPECT_EQ(device_->GetMaterial(&gotMaterial), D3D_OK);
    EXPECT_EQ(std::memcmp(&gotMaterial, &material, sizeof material), 0);
    D3DVIEWPORT9 gotViewport{};
    EXPECT_EQ(device_->GetViewport(&gotViewport), D3D_OK);
    EXPECT_EQ(std::memcmp(&gotViewport, &viewport, sizeof viewport), 0);

    // Invalid calls: the documented error, the stored state and the out-parameter untouched.
    const DWORD sentinel = 0x5EB7;
    struct Case {
        const char* what;
        HRESULT result;
    };
    DWORD out = sentinel;
    D3DVIEWPORT9 tooWide{100, 0, kWidth, 10, 0.0f, 1.0f};
    const Case cases[] = {
        {"render state 0", device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(0), 1)},
        {"render state 300", device_->GetRenderState(static_cast<D3DRENDERSTATETYPE>(300), &out)},
        {"null render state out", device_->GetRenderState(D3DRS_ZENABLE, nullptr)},
        {"sampler 16", device_->SetSamplerState(16, D3DSAMP_MINFILTER, 1)},
        {"sampler 255", device_->SetSamplerState(255, D3DSAMP_MINFILTER, 1)},
        {"sampler 261", device_->GetSamplerState(D3DVERTEXTEXTURESAMPLER3 + 1, D3DSAMP_MINFILTER, &out)},
        {"sampler state 14", device_->GetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(14), &out)},
        {"stage 8", device_->SetTextureStageState(8, D3DTSS_COLOROP, 1)},
        {"stage state 12", device_->GetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(12), &out)},
        {"transform 1", device_->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(1), &world)},
        {"transform 512", device_->GetTransform(static_cast<D3DTRANSFORMSTATETYPE>(512), &m)},
        {"null matrix", device_->SetTransform(D3DTS_VIEW, nullptr)},
        {"null material", device_->SetMaterial(nullptr)},
        {"null viewport", device_->GetViewport(nullptr)},
        {"viewport beyond the back buffer", device_->SetViewport(&tooWide)},
        {"texture stage 16", device_->SetTexture(16, nullptr)},
        {"texture stage 261", device_->SetTexture(D3DVERTEXTEXTURESAMPLER3 + 1, nullptr)},
        {"null scissor rectangle", device_->SetScissorRect(nullptr)},
        {"null scissor rectangle out", device_->GetScissorRect(nullptr)},
        {"null texture out", device_->GetTexture(0, nullptr)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, D3DERR_INVALIDCALL) << c.what;
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(device_->GetViewport(&gotViewport), D3D_OK);
    EXPECT_EQ(std::memcmp(&gotViewport, &viewport, sizeof viewport), 0) << "a refused viewport changed nothing";
}

TEST_F(DeviceTest, ResetReturnsEveryStateToItsDefault) {
    // Bound, then released by the program: only the device's binding keeps it.
    bool textureDestroyed = false;
    IDirect3DBaseTexture9* texture = new StandInTexture(device_, &textureDestroyed);
    ASSERT_EQ(device_->SetTexture(1, texture), D3D_OK);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_FALSE(textureDestroyed) << "the device still uses it";
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_POINTSIZE_MAX, Bits(8.0f));
    const RECT scissor{1, 2, 3, 4};
    device_->SetScissorRect(&scissor);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    D3DMATRIX view{};
    view._11 = 2.0f;
    device_->SetTransform(D3DTS_VIEW, &view);
    D3DVIEWPORT9 viewport{0, 0, 10, 10, 0.0f, 1.0f};
    device_->SetViewport(&viewport);
    device_->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);

    // A full-screen reset to no size is refused.
    D3DPRESENT_PARAMETERS zero = d3d9_test::FullScreenParameters(d3d_);
    zero.BackBufferWidth = zero.BackBufferHeight = 0;
    EXPECT_EQ(device_->Reset(&zero), D3DERR_INVALIDCALL);

    // Without a depth buffer this time, in a back buffer of its own size: depth testing starts
    // off, viewport and scissor rectangle cover the new back buffer.
    D3DPRESENT_PARAMETERS pp = WindowedParameters(D3DFMT_UNKNOWN);
    pp.BackBufferWidth = 100;
    pp.BackBufferHeight = 60;
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_TRUE(textureDestroyed) << "Reset released the bound texture";
    IDirect3DBaseTexture9* bound = texture;
    ASSERT_EQ(device_->GetTexture(1, &bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    EXPECT_EQ(RefCount(device_), 1u);
    DWORD value = 0;
    device_->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, static_cast<DWORD>(TRUE));
    device_->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DZB_FALSE));
    device_->GetSamplerState(0, D3DSAMP_MAGFILTER, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_POINT));
    device_->GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTOP_MODULATE));
    D3DMATRIX m{};
    device_->GetTransform(D3DTS_VIEW, &m);
    EXPECT_TRUE(IsIdentity(m));
    D3DCAPS9 caps{};
    device_->GetDeviceCaps(&caps);
    device_->GetRenderState(D3DRS_POINTSIZE_MAX, &value);
    EXPECT_EQ(value, Bits(caps.MaxPointSize));
    D3DVIEWPORT9 got{};
    device_->GetViewport(&got);
    EXPECT_EQ(got.Width, 100u);
    EXPECT_EQ(got.Height, 60u);
    RECT gotScissor{};
    device_->GetScissorRect(&gotScissor);
    EXPECT_EQ(gotScissor.left, 0);
    EXPECT_EQ(gotScissor.top, 0);
    EXPECT_EQ(gotScissor.right, 100);
    EXPECT_EQ(gotScissor.bottom, 60);
    device_->GetFVF(&value);
    EXPECT_EQ(value, 0u);
    IDirect3DVertexDeclaration9* declaration = reinterpret_cast<IDirect3DVertexDeclaration9*>(uintptr_t{1});
    device_->GetVertexDeclaration(&declaration);
    EXPECT_EQ(declaration, nullptr);
}

TEST_F(DeviceTest, ALostDeviceWaitsForResetAfterTheLossEnds) {
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    rh::d3d9::testing::ForceDeviceLoss(device_, true);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device_->Reset(&pp_), D3DERR_DEVICELOST);
    // Drawing calls go on succeeding while lost.
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device_->EndScene(), D3D_OK);

    rh::d3d9::testing::ForceDeviceLoss(device_, false);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    // A Reset that fails leaves the device waiting for one that succeeds.
    D3DPRESENT_PARAMETERS bad = pp_;
    bad.SwapEffect = static_cast<D3DSWAPEFFECT>(9);
    EXPECT_EQ(device_->Reset(&bad), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device_->Reset(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Reset(&pp_), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

// Sends the SDL window event the display server would send for the window.
void SendWindowEvent(HWND hwnd, Uint8 what) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = what;
    event.window.windowID = SDL_GetWindowID(rh::win32::SdlWindowOf(hwnd));
    ASSERT_NE(event.window.windowID, 0u);
    SDL_PushEvent(&event);
    SDL_FlushEvent(SDL_WINDOWEVENT);
}

TEST_F(DeviceTest, FocusLossLosesAFullScreenDeviceButNeverAWindowedOne) {
    SendWindowEvent(window_->hwnd(), SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK) << "windowed";
    SendWindowEvent(window_->hwnd(), SDL_WINDOWEVENT_FOCUS_GAINED);
    ASSERT_EQ(device_->Release(), 0u);
    device_ = nullptr;

    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    TestWindow full(static_cast<int>(desktop.Width), static_cast<int>(desktop.Height));
    ASSERT_NE(full.hwnd(), nullptr);
    D3DPRESENT_PARAMETERS pp = d3d9_test::FullScreenParameters(d3d_);
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, full.hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device_),
              D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(device_->GetDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Width, desktop.Width);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);

    SendWindowEvent(full.hwnd(), SDL_WINDOWEVENT_FOCUS_LOST);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    SendWindowEvent(full.hwnd(), SDL_WINDOWEVENT_MINIMIZED);
    SendWindowEvent(full.hwnd(), SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST) << "still minimised";
    SendWindowEvent(full.hwnd(), SDL_WINDOWEVENT_RESTORED);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(device_->Release(), 0u);
    device_ = nullptr;
}

TEST_F(DeviceTest, SixteenBitFullScreenDevicesShowTheirMode) {
    ASSERT_EQ(device_->Release(), 0u);
    device_ = nullptr;
    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    TestWindow full(static_cast<int>(desktop.Width), static_cast<int>(desktop.Height));
    ASSERT_NE(full.hwnd(), nullptr);
    for (D3DFORMAT format : {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5}) {
        D3DPRESENT_PARAMETERS pp = d3d9_test::FullScreenParameters(d3d_);
        pp.BackBufferFormat = format;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, full.hwnd(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device_),
                  D3D_OK)
            << format;
        D3DDISPLAYMODE mode{};
        ASSERT_EQ(device_->GetDisplayMode(0, &mode), D3D_OK);
        EXPECT_EQ(mode.Format, D3DFMT_R5G6B5) << "the adapter format of " << format;
        EXPECT_EQ(mode.Width, desktop.Width);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0), D3D_OK);
        EXPECT_EQ(SolidColour(RECT{16, 16, 256, 128}), 0x000000FFu) << format;
        EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        EXPECT_EQ(device_->Release(), 0u);
        device_ = nullptr;
    }
}

TEST_F(DeviceTest, ADeviceOutlivingItsWindowShowsNothingAndIsReleasedCleanly) {
    window_.reset();  // DestroyWindow before the device goes, as a program closing in a hurry does
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    EXPECT_NE(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Release(), 0u);
    device_ = nullptr;
}

TEST_F(DeviceTest, ScenesDoNotNest) {
    EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
}

TEST_F(DeviceTest, ClearFillsTheViewportOrItsRectanglesWhateverTheWriteStates) {
    // Write states of drawing do not stop Clear.
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device_->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
    rh::d3d9::testing::PrepareDraw(device_);

    const RECT left{8, 8, kWidth / 2 - 8, kHeight - 8};
    const RECT right{kWidth / 2 + 8, 8, kWidth - 8, kHeight - 8};
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFFFF0000, 1.0f, 0),
              D3D_OK);
    EXPECT_EQ(SolidColour(RECT{0, 0, kWidth, kHeight}), 0x00FF0000u);

    D3DVIEWPORT9 rightHalf{kWidth / 2, 0, kWidth / 2, kHeight, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&rightHalf), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    EXPECT_EQ(SolidColour(left), 0x00FF0000u);
    EXPECT_EQ(SolidColour(right), 0x0000FF00u);

    // A rectangle is cut to the viewport: the part over the left half stays red.
    const D3DRECT band{0, 0, kWidth, kHeight / 2};
    ASSERT_EQ(device_->Clear(1, &band, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), D3D_OK);
    EXPECT_EQ(SolidColour(RECT{kWidth / 2 + 8, 8, kWidth - 8, kHeight / 2 - 8}), 0x000000FFu);
    EXPECT_EQ(SolidColour(RECT{kWidth / 2 + 8, kHeight / 2 + 8, kWidth - 8, kHeight - 8}), 0x0000FF00u);
    EXPECT_EQ(SolidColour(left), 0x00FF0000u);

    // Two rectangles at once; then a rectangle pointer without a count changes nothing.
    D3DVIEWPORT9 whole{0, 0, kWidth, kHeight, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&whole), D3D_OK);
    const D3DRECT two[] = {{0, 0, kWidth / 2, kHeight}, {kWidth / 2, 0, kWidth, kHeight}};
    ASSERT_EQ(device_->Clear(2, two, D3DCLEAR_TARGET, 0xFF808080, 1.0f, 0), D3D_OK);
    EXPECT_EQ(SolidColour(RECT{0, 0, kWidth, kHeight}), 0x00808080u);
    ASSERT_EQ(device_->Clear(0, two, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
    EXPECT_EQ(SolidColour(RECT{0, 0, kWidth, kHeight}), 0x00808080u);

    // A count without rectangles clears the whole viewport.
    ASSERT_EQ(device_->SetViewport(&rightHalf), D3D_OK);
    ASSERT_EQ(device_->Clear(1, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    EXPECT_EQ(SolidColour(left), 0x00808080u);
    EXPECT_EQ(SolidColour(right), 0x0000FF00u);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(DeviceTest, ClearKeepsToTheScissorRectangleWhileTheTestIsOn) {
    // Quarter coordinates: the scissor rectangle is the middle, the cleared rectangle the
    // top-left quarter of the back buffer.
    constexpr LONG qx = kWidth / 4;
    constexpr LONG qy = kHeight / 4;
    const RECT scissor{qx, qy, 3 * qx, 3 * qy};
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device_->SetScissorRect(&scissor), D3D_OK);
    // The rectangle alone does nothing while the test is off.
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), D3D_OK);
    EXPECT_EQ(SolidColour(RECT{0, 0, kWidth, kHeight}), 0x000000FFu);

    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device_->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0), D3D_OK);
    const D3DRECT topLeft{0, 0, 2 * qx, 2 * qy};
    ASSERT_EQ(device_->Clear(1, &topLeft, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    // Drawing keeps to the same rectangle (GL counts its rows from the bottom).
    rh::d3d9::testing::PrepareDraw(device_);
    auto getIntegers = reinterpret_cast<void (*)(GLenum, GLint*)>(SDL_GL_GetProcAddress("glGetIntegerv"));
    ASSERT_NE(getIntegers, nullptr);
    GLint box[4] = {};
    getIntegers(GL_SCISSOR_BOX, box);
    EXPECT_EQ(box[0], qx);
    EXPECT_EQ(box[1], kHeight - 3 * qy);
    EXPECT_EQ(box[2], 2 * qx);
    EXPECT_EQ(box[3], 2 * qy);
    ASSERT_EQ(device_->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE), D3D_OK);

    struct Region {
        const char* what;
        RECT rect;
        DWORD colour;
    };
    const Region regions[] = {
        {"above the scissor rectangle", {0, 0, kWidth, qy - 2}, 0x00FFFFFFu},
        {"below it", {0, 3 * qy + 2, kWidth, kHeight}, 0x00FFFFFFu},
        {"left of it", {0, 0, qx - 2, kHeight}, 0x00FFFFFFu},
        {"right of it", {3 * qx + 2, 0, kWidth, kHeight}, 0x00FFFFFFu},
        {"the rectangle inside it", {qx + 2, qy + 2, 2 * qx - 2, 2 * qy - 2}, 0x00FF0000u},
        {"the rest of it", {2 * qx + 2, qy + 2, 3 * qx - 2, 3 * qy - 2}, 0x0000FF00u},
        {"its lower-left quarter", {qx + 2, 2 * qy + 2, 2 * qx - 2, 3 * qy - 2}, 0x0000FF00u},
    };
    for (const Region& r : regions) EXPECT_EQ(SolidColour(r.rect), r.colour) << r.what;
}

// The colour of every pixel of rect in a width-wide image, or 0x12345678 when one differs from
// the first by more than tolerance a channel.
DWORD SolidIn(const std::vector<DWORD>& image, int width, RECT rect, int tolerance) {
    DWORD first = image[static_cast<size_t>(rect.top) * width + rect.left];
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        for (LONG x = rect.left; x < rect.right; ++x) {
            if (!Close(image[static_cast<size_t>(y) * width + x], first, tolerance)) return 0x12345678;
        }
    }
    return first & 0x00FFFFFF;
}

// With RH_D3D9_TEST_IMAGES naming a directory, writes an image there as a binary PPM to look at.
void SaveImageIfAsked(const char* name, const std::vector<DWORD>& image, int width, int height) {
    const char* dir = std::getenv("RH_D3D9_TEST_IMAGES");
    if (dir == nullptr || *dir == '\0') return;
    std::string path = std::string(dir) + "/" + name + ".ppm";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    for (DWORD p : image) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, file);
    }
    std::fclose(file);
}

TEST_F(DeviceTest, PresentStretchesTheBackBufferOntoTheWholeClientArea) {
    struct Case {
        const char* what;
        UINT width;
        UINT height;
    };
    const Case cases[] = {
        {"same size", kWidth, kHeight},
        {"half size", kWidth / 2, kHeight / 2},
        {"twice the size", kWidth * 2, kHeight * 2},
        {"wider and shorter", kWidth * 5 / 2, kHeight * 3 / 4},
    };
    // One colour a quarter: top-left, top-right, bottom-left, bottom-right.
    const DWORD colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    for (const Case& c : cases) {
        D3DPRESENT_PARAMETERS pp = WindowedParameters();
        pp.BackBufferWidth = c.width;
        pp.BackBufferHeight = c.height;
        ASSERT_EQ(device_->Reset(&pp), D3D_OK) << c.what;
        const LONG w = static_cast<LONG>(c.width);
        const LONG h = static_cast<LONG>(c.height);
        for (int q = 0; q < 4; ++q) {
            const D3DRECT quarter{(q % 2) * w / 2, (q / 2) * h / 2, (q % 2 + 1) * w / 2, (q / 2 + 1) * h / 2};
            ASSERT_EQ(device_->Clear(1, &quarter, D3DCLEAR_TARGET, colours[q], 1.0f, 0), D3D_OK);
        }
        std::vector<DWORD> shown;
        int width = 0;
        int height = 0;
        ASSERT_EQ(rh::d3d9::testing::PresentAndReadWindow(device_, &shown, &width, &height), D3D_OK) << c.what;
        ASSERT_EQ(width, kWidth) << c.what << ": the client area is filled";
        ASSERT_EQ(height, kHeight) << c.what;
        SaveImageIfAsked(c.what, shown, width, height);
        // The middle half of each quarter of the window, away from the filtered seams.
        for (int q = 0; q < 4; ++q) {
            const LONG x0 = (q % 2) * kWidth / 2;
            const LONG y0 = (q / 2) * kHeight / 2;
            const RECT middle{x0 + kWidth / 8, y0 + kHeight / 8, x0 + 3 * kWidth / 8, y0 + 3 * kHeight / 8};
            EXPECT_EQ(SolidIn(shown, width, middle, 2), colours[q] & 0x00FFFFFF) << c.what << ", quarter " << q;
        }
    }
}

TEST_F(DeviceTest, ClearingABufferTheDeviceLacksIsRefused) {
    D3DPRESENT_PARAMETERS pp = WindowedParameters(D3DFMT_D24X8);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL) << "no stencil";
    pp = WindowedParameters(D3DFMT_UNKNOWN);
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL) << "no depth buffer";
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
}

TEST_F(DeviceTest, TheApplyPathRestoresDrawStatesAfterClear) {
    // Clear opens every write mask in GL; the next draw must get the program's masks back even
    // though the program set nothing in between. Checked with and without the GL cache.
    auto getBooleans = reinterpret_cast<void (*)(GLenum, GLboolean*)>(SDL_GL_GetProcAddress("glGetBooleanv"));
    auto isEnabled = reinterpret_cast<GLboolean (*)(GLenum)>(SDL_GL_GetProcAddress("glIsEnabled"));
    auto getIntegers = reinterpret_cast<void (*)(GLenum, GLint*)>(SDL_GL_GetProcAddress("glGetIntegerv"));
    ASSERT_NE(getBooleans, nullptr);
    for (bool bypass : {false, true}) {
        rh::d3d9::testing::BypassGlCache(bypass);
        device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0x1);  // red only
        device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
        rh::d3d9::testing::PrepareDraw(device_);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
        rh::d3d9::testing::PrepareDraw(device_);
        GLboolean mask[4] = {};
        getBooleans(GL_COLOR_WRITEMASK, mask);
        EXPECT_TRUE(mask[0]) << "bypass " << bypass;
        EXPECT_FALSE(mask[1] || mask[2] || mask[3]) << "bypass " << bypass;
        GLboolean depthMask = GL_TRUE;
        getBooleans(GL_DEPTH_WRITEMASK, &depthMask);
        EXPECT_FALSE(depthMask) << "bypass " << bypass;
        EXPECT_FALSE(isEnabled(GL_SCISSOR_TEST)) << "bypass " << bypass;
        EXPECT_TRUE(isEnabled(GL_CULL_FACE));
        GLint value = 0;
        getIntegers(GL_CULL_FACE_MODE, &value);
        EXPECT_EQ(value, GL_FRONT) << "D3DCULL_CW culls GL's clockwise front faces";
        getIntegers(GL_DEPTH_FUNC, &value);
        EXPECT_EQ(value, GL_GREATER);
        device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    }
    rh::d3d9::testing::BypassGlCache(false);
}

TEST_F(DeviceTest, ReferencesBalance) {
    EXPECT_EQ(RefCount(device_), 1u);
    EXPECT_EQ(RefCount(d3d_), 2u) << "the device holds its Direct3D object";
    IDirect3D9* parent = nullptr;
    ASSERT_EQ(device_->GetDirect3D(&parent), D3D_OK);
    EXPECT_EQ(parent, d3d_);
    EXPECT_EQ(parent->Release(), 2u);
    EXPECT_EQ(device_->GetDirect3D(nullptr), D3DERR_INVALIDCALL);

    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                                          D3DDECL_END()};
    IDirect3DVertexDeclaration9* declaration = nullptr;
    ASSERT_EQ(device_->CreateVertexDeclaration(elements, &declaration), D3D_OK);
    EXPECT_EQ(RefCount(device_), 2u) << "a declaration holds its device";
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(declaration->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device_);
    owner->Release();
    // Binding takes no public reference. Bound, then released by the program: the device
    // keeps using it but is not kept alive by it.
    ASSERT_EQ(device_->SetVertexDeclaration(declaration), D3D_OK);
    EXPECT_EQ(RefCount(declaration), 1u);
    EXPECT_EQ(declaration->Release(), 0u);
    EXPECT_EQ(RefCount(device_), 1u);
    IDirect3DVertexDeclaration9* bound = nullptr;
    ASSERT_EQ(device_->GetVertexDeclaration(&bound), D3D_OK);
    EXPECT_EQ(bound, declaration);
    EXPECT_EQ(RefCount(bound), 1u) << "Get* hands out a public reference";
    EXPECT_EQ(RefCount(device_), 2u);
    EXPECT_EQ(bound->Release(), 0u);
    EXPECT_EQ(RefCount(device_), 1u);
}

TEST_F(DeviceTest, BoundTexturesKeepTheirPublicCount) {
    bool destroyed = false;
    IDirect3DBaseTexture9* texture = new StandInTexture(device_, &destroyed);
    EXPECT_EQ(RefCount(device_), 2u) << "a texture holds its device";
    for (DWORD stage : {0u, 5u, DWORD{D3DDMAPSAMPLER}, DWORD{D3DVERTEXTEXTURESAMPLER2}}) {
        ASSERT_EQ(device_->SetTexture(stage, texture), D3D_OK) << stage;
        EXPECT_EQ(RefCount(texture), 1u) << "stage " << stage << ": binding takes no public reference";
        ASSERT_EQ(device_->SetTexture(stage, texture), D3D_OK) << stage;
        EXPECT_EQ(RefCount(texture), 1u) << "stage " << stage << ": nor does binding it again";
        IDirect3DBaseTexture9* got = nullptr;
        ASSERT_EQ(device_->GetTexture(stage, &got), D3D_OK);
        EXPECT_EQ(got, texture);
        EXPECT_EQ(RefCount(texture), 2u) << "stage " << stage << ": GetTexture hands out one";
        got->Release();
    }
    ASSERT_EQ(device_->SetTexture(0, nullptr), D3D_OK);
    EXPECT_EQ(RefCount(texture), 1u);

    // Objects the device did not make are refused and left alone.
    ForeignTexture foreign;
    EXPECT_EQ(device_->SetTexture(3, &foreign), D3DERR_INVALIDCALL);
    EXPECT_EQ(foreign.refs, 1u);
    TestWindow otherWindow(64, 64);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    IDirect3DDevice9* other = nullptr;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, otherWindow.hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &other),
              D3D_OK);
    EXPECT_EQ(other->SetTexture(3, texture), D3DERR_INVALIDCALL) << "a texture of another device";
    EXPECT_EQ(other->Release(), 0u);
    IDirect3DBaseTexture9* got = texture;
    ASSERT_EQ(device_->GetTexture(3, &got), D3D_OK);
    EXPECT_EQ(got, nullptr);

    // The program's last Release leaves the bound texture alive and lets the device go; the
    // device's last Release frees what it still binds.
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(RefCount(device_), 1u);
    EXPECT_EQ(device_->Release(), 0u);
    device_ = nullptr;
    EXPECT_TRUE(destroyed);
}

TEST_F(DeviceTest, FvfCodesAndDeclarationsAnswerEachOther) {
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    ASSERT_EQ(device_->SetFVF(fvf), D3D_OK);
    DWORD got = 0;
    ASSERT_EQ(device_->GetFVF(&got), D3D_OK);
    EXPECT_EQ(got, fvf);
    IDirect3DVertexDeclaration9* declaration = nullptr;
    ASSERT_EQ(device_->GetVertexDeclaration(&declaration), D3D_OK);
    ASSERT_NE(declaration, nullptr);
    UINT count = 0;
    ASSERT_EQ(declaration->GetDeclaration(nullptr, &count), D3D_OK);
    D3DVERTEXELEMENT9 expected[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(D3DXDeclaratorFromFVF(fvf, expected), D3D_OK);
    ASSERT_EQ(count, 5u);  // position, normal, colour, texture coordinates, end
    std::vector<D3DVERTEXELEMENT9> elements(count);
    ASSERT_EQ(declaration->GetDeclaration(elements.data(), &count), D3D_OK);
    EXPECT_EQ(std::memcmp(elements.data(), expected, count * sizeof(D3DVERTEXELEMENT9)), 0);
    declaration->Release();

    // The same code again binds the same declaration.
    ASSERT_EQ(device_->SetFVF(D3DFVF_XYZ), D3D_OK);
    ASSERT_EQ(device_->SetFVF(fvf), D3D_OK);
    IDirect3DVertexDeclaration9* again = nullptr;
    ASSERT_EQ(device_->GetVertexDeclaration(&again), D3D_OK);
    EXPECT_EQ(again, declaration);
    again->Release();

    struct Case {
        const char* what;
        std::vector<D3DVERTEXELEMENT9> elements;
        DWORD fvf;
    };
    const Case cases[] = {
        {"position and colour",
         {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, {0, 12, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
          D3DDECL_END()},
         D3DFVF_XYZ | D3DFVF_DIFFUSE},
        {"pre-transformed",
         {{0, 0, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_POSITIONT, 0}, {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
          D3DDECL_END()},
         D3DFVF_XYZRHW | D3DFVF_TEX1},
        {"with a tangent: no FVF",
         {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_TANGENT, 0},
          D3DDECL_END()},
         0},
    };
    for (const Case& c : cases) {
        IDirect3DVertexDeclaration9* made = nullptr;
        ASSERT_EQ(device_->CreateVertexDeclaration(c.elements.data(), &made), D3D_OK) << c.what;
        ASSERT_EQ(device_->SetVertexDeclaration(made), D3D_OK);
        EXPECT_EQ(device_->GetFVF(&got), D3D_OK);
        EXPECT_EQ(got, c.fvf) << c.what;
        made->Release();
    }

    // Refused: codes and element lists no declaration expresses; nothing is written.
    IDirect3DVertexDeclaration9* const sentinel = reinterpret_cast<IDirect3DVertexDeclaration9*>(uintptr_t{0x5EB7});
    IDirect3DVertexDeclaration9* refused = sentinel;
    EXPECT_EQ(device_->SetFVF(D3DFVF_XYZ | D3DFVF_LASTBETA_UBYTE4), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 badType[] = {{0, 0, 40, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    EXPECT_EQ(device_->CreateVertexDeclaration(badType, &refused), D3DERR_INVALIDCALL);
    const D3DVERTEXELEMENT9 twice[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                       {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    EXPECT_EQ(device_->CreateVertexDeclaration(twice, &refused), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexDeclaration(nullptr, &refused), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexDeclaration(badType, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(refused, sentinel);
    EXPECT_EQ(device_->GetFVF(nullptr), D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, GammaRampIsKept) {
    D3DGAMMARAMP ramp{};
    device_->GetGammaRamp(0, &ramp);
    EXPECT_EQ(ramp.red[0], 0);
    EXPECT_EQ(ramp.green[128], 128 * 257);
    EXPECT_EQ(ramp.blue[255], 65535);
    for (int i = 0; i < 256; ++i) ramp.red[i] = ramp.green[i] = ramp.blue[i] = static_cast<WORD>(std::min(65535, 200 + 256 * i));
    device_->SetGammaRamp(0, D3DSGR_CALIBRATE, &ramp);
    D3DGAMMARAMP got{};
    device_->GetGammaRamp(0, &got);
    EXPECT_EQ(std::memcmp(&got, &ramp, sizeof ramp), 0);
    device_->SetGammaRamp(0, 0, nullptr);  // ignored, as on Windows
}

}  // namespace
