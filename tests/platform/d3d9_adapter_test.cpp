// Conformance of the Direct3D 9 object: creation by SDK version, the adapters' modes and the
// format checks agreeing with each other and with the device types offered, capabilities,
// result codes of invalid calls, and reaching Direct3DCreate9 through LoadLibraryA.

#include "tests/platform/d3d9_test_support.h"

#include <d3d9.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {


class Direct3DTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr) << "OpenGL 2.1 is needed (llvmpipe offers it offscreen)";
    }
    void TearDown() override {
        if (d3d_ != nullptr) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }
    IDirect3D9* d3d_ = nullptr;
};

TEST(Direct3DCreate9Test, OnlyThe9cSdkVersionsGiveAnObject) {
    constexpr UINT kDebug = 0x80000000u;  // set by the SDK's debug-information builds
    struct Case {
        UINT version;
        bool accepted;
    };
    const Case cases[] = {
        {31, true},           {32, true},           {kDebug | 31, true}, {kDebug | 32, true},
        {0, false},           {30, false},          {33, false},         {kDebug, false},
        {kDebug | 30, false}, {kDebug | 33, false}, {0x40000000u | 31, false},
    };
    for (const Case& c : cases) {
        IDirect3D9* d3d = Direct3DCreate9(c.version);
        EXPECT_EQ(d3d != nullptr, c.accepted) << "version 0x" << std::hex << c.version;
        if (d3d != nullptr) {
            EXPECT_EQ(d3d->Release(), 0u);
        }
    }
}

TEST_F(Direct3DTest, TheDesktopModeIsListedExactlyOncePerAdapterFormatAndNoModeIsEmpty) {
    ASSERT_GE(d3d_->GetAdapterCount(), 1u);
    for (UINT adapter = 0; adapter < d3d_->GetAdapterCount(); ++adapter) {
        D3DDISPLAYMODE desktop{};
        ASSERT_EQ(d3d_->GetAdapterDisplayMode(adapter, &desktop), D3D_OK);
        EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
        EXPECT_GT(desktop.RefreshRate, 0u);
        for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
            UINT count = d3d_->GetAdapterModeCount(adapter, format);
            ASSERT_GT(count, 0u) << "format " << format;
            int desktopSeen = 0;
            for (UINT i = 0; i < count; ++i) {
                D3DDISPLAYMODE mode{};
                ASSERT_EQ(d3d_->EnumAdapterModes(adapter, format, i, &mode), D3D_OK);
                EXPECT_EQ(mode.Format, format);
                EXPECT_TRUE(mode.Width > 0 && mode.Height > 0) << "no mode is without pixels: mode " << i;
                if (mode.Width == desktop.Width && mode.Height == desktop.Height && mode.RefreshRate == desktop.RefreshRate) {
                    ++desktopSeen;
                }
            }
            EXPECT_EQ(desktopSeen, 1) << "adapter " << adapter << " format " << format;
        }
        // Formats no display mode uses: no modes, and asking for one is refused.
        for (D3DFORMAT format : {D3DFMT_X1R5G5B5, D3DFMT_A2R10G10B10, D3DFMT_A8R8G8B8}) {
            EXPECT_EQ(d3d_->GetAdapterModeCount(adapter, format), 0u) << format;
            D3DDISPLAYMODE mode{1, 2, 3, D3DFMT_UNKNOWN};
            EXPECT_EQ(d3d_->EnumAdapterModes(adapter, format, 0, &mode), D3DERR_NOTAVAILABLE) << format;
            EXPECT_EQ(mode.Width, 1u);
        }
    }
}

TEST_F(Direct3DTest, DeviceTypesAndBackBufferFormatsFollowTheAdapterFormat) {
    struct Case {
        D3DDEVTYPE type;
        D3DFORMAT adapter;
        D3DFORMAT backBuffer;
        BOOL windowed;
        HRESULT expected;
    };
    const Case cases[] = {
        {D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, FALSE, D3D_OK},
        {D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE, D3D_OK},
        {D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE, D3D_OK},
        {D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE, D3D_OK},
        {D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, FALSE, D3DERR_NOTAVAILABLE},
        {D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A2R10G10B10, FALSE, D3DERR_NOTAVAILABLE},
        {D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, FALSE, D3D_OK},
        {D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, FALSE, D3D_OK},
        {D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_A1R5G5B5, FALSE, D3DERR_NOTAVAILABLE},
        {D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_R5G6B5, TRUE, D3DERR_NOTAVAILABLE},  // not the desktop's format
        {D3DDEVTYPE_HAL, D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5, FALSE, D3DERR_NOTAVAILABLE},
        {D3DDEVTYPE_HAL, D3DFMT_A2R10G10B10, D3DFMT_A2R10G10B10, FALSE, D3DERR_NOTAVAILABLE},
        {D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE, D3DERR_NOTAVAILABLE},
        {D3DDEVTYPE_SW, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE, D3DERR_NOTAVAILABLE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(d3d_->CheckDeviceType(0, c.type, c.adapter, c.backBuffer, c.windowed), c.expected)
            << "type " << c.type << " adapter " << c.adapter << " back buffer " << c.backBuffer << " windowed "
            << c.windowed;
    }
}

TEST_F(Direct3DTest, DepthFormatChecksAgree) {
    struct Case {
        D3DFORMAT depth;
        bool offered;
    };
    const Case cases[] = {{D3DFMT_D16, true},    {D3DFMT_D24X8, true},  {D3DFMT_D24S8, true},
                          {D3DFMT_D32, false},   {D3DFMT_D15S1, false}, {D3DFMT_D24X4S4, false},
                          {D3DFMT_D16_LOCKABLE, false}};
    struct Combo {
        D3DFORMAT adapter;
        D3DFORMAT backBuffer;
    };
    const Combo combos[] = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8},
                            {D3DFMT_R5G6B5, D3DFMT_R5G6B5}, {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5}};
    for (const Combo& combo : combos) {
        for (const Case& c : cases) {
            HRESULT expected = c.offered ? D3D_OK : D3DERR_NOTAVAILABLE;
            EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, combo.adapter, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                              c.depth),
                      expected)
                << "depth " << c.depth << " on " << combo.adapter;
            EXPECT_EQ(d3d_->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, combo.adapter, combo.backBuffer, c.depth), expected)
                << "depth " << c.depth << " with " << combo.backBuffer;
        }
    }
    // A colour format is no depth buffer.
    EXPECT_EQ(d3d_->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                      D3DFMT_X8R8G8B8),
              D3DERR_NOTAVAILABLE);
}

TEST_F(Direct3DTest, OnlySingleSampledBuffersAreOffered) {
    for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_D16, D3DFMT_D24S8}) {
        for (BOOL windowed : {FALSE, TRUE}) {
            DWORD levels = 0xBAD;
            EXPECT_EQ(d3d_->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, format, windowed, D3DMULTISAMPLE_NONE, &levels),
                      D3D_OK)
                << format;
            EXPECT_EQ(levels, 1u) << format;
            EXPECT_EQ(d3d_->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, format, windowed, D3DMULTISAMPLE_NONE, nullptr),
                      D3D_OK);
            for (int type = D3DMULTISAMPLE_NONMASKABLE; type <= D3DMULTISAMPLE_16_SAMPLES; ++type) {
                levels = 0xBAD;
                EXPECT_EQ(d3d_->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, format, windowed,
                                                           static_cast<D3DMULTISAMPLE_TYPE>(type), &levels),
                          D3DERR_NOTAVAILABLE)
                    << format << " type " << type;
                EXPECT_EQ(levels, 0xBADu) << "a failing call leaves the count alone";
            }
        }
    }
}

TEST_F(Direct3DTest, TheHalDeviceHasHardwareTransformAndPointSizesOnlyHalIsOffered) {
    D3DCAPS9 caps{};
    ASSERT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(caps.AdapterOrdinal, 0u);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_FALSE(caps.DevCaps & D3DDEVCAPS_PUREDEVICE);
    EXPECT_TRUE(caps.FVFCaps & D3DFVFCAPS_PSIZE);
    EXPECT_GT(caps.MaxPointSize, 1.0f);
    EXPECT_EQ(caps.PresentationIntervals & (D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE),
              static_cast<DWORD>(D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE));
    EXPECT_GE(caps.MaxTextureWidth, 2048u);
    EXPECT_GE(caps.MaxSimultaneousTextures, 2u);
    EXPECT_GE(caps.MaxActiveLights, 8u);

    for (D3DDEVTYPE type : {D3DDEVTYPE_REF, D3DDEVTYPE_SW}) {
        D3DCAPS9 other;
        std::memset(&other, 0x5A, sizeof other);
        EXPECT_EQ(d3d_->GetDeviceCaps(0, type, &other), D3DERR_NOTAVAILABLE) << type;
        EXPECT_EQ(other.DevCaps, 0x5A5A5A5Au) << "a failing call leaves the caps alone";
    }
}

TEST_F(Direct3DTest, InvalidArgumentsAreRefusedAndOutParametersKept) {
    const UINT bad = d3d_->GetAdapterCount();
    D3DADAPTER_IDENTIFIER9 identifier;
    std::memset(&identifier, 0x5A, sizeof identifier);
    D3DDISPLAYMODE mode{7, 7, 7, D3DFMT_UNKNOWN};
    D3DCAPS9 caps;
    std::memset(&caps, 0x5A, sizeof caps);

    EXPECT_EQ(d3d_->GetAdapterIdentifier(0, 0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->GetAdapterIdentifier(bad, 0, &identifier), D3DERR_INVALIDCALL);
    EXPECT_EQ(identifier.VendorId, 0x5A5A5A5Au);
    EXPECT_EQ(d3d_->GetAdapterModeCount(bad, D3DFMT_X8R8G8B8), 0u);
    EXPECT_EQ(d3d_->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->EnumAdapterModes(bad, D3DFMT_X8R8G8B8, 0, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->EnumAdapterModes(0, D3DFMT_X8R8G8B8, d3d_->GetAdapterModeCount(0, D3DFMT_X8R8G8B8), &mode),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->GetAdapterDisplayMode(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->GetAdapterDisplayMode(bad, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(mode.Width, 7u);
    EXPECT_EQ(d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->GetDeviceCaps(bad, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
    EXPECT_EQ(caps.DevCaps, 0x5A5A5A5Au);
    EXPECT_EQ(d3d_->CheckDeviceType(bad, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3DERR_INVALIDCALL);

    D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters();
    IDirect3DDevice9* const sentinel = reinterpret_cast<IDirect3DDevice9*>(uintptr_t{0x5EB7});
    IDirect3DDevice9* device = sentinel;
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, nullptr, &device),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device),
              D3DERR_INVALIDCALL)
        << "no window";
    EXPECT_EQ(device, sentinel);
}

TEST_F(Direct3DTest, AdapterIdentifierNamesTheRenderer) {
    D3DADAPTER_IDENTIFIER9 identifier{};
    ASSERT_EQ(d3d_->GetAdapterIdentifier(0, 0, &identifier), D3D_OK);
    EXPECT_GT(std::strlen(identifier.Description), 0u);
    EXPECT_LT(std::strlen(identifier.Description), sizeof identifier.Description);
}

TEST(Direct3DModuleTest, TheD3d9LibraryIsAnsweredByTheLayer) {
    for (const char* name : {"d3d9.dll", "D3D9.DLL", "d3d9", "C:\\WINDOWS\\system32\\D3d9.dll"}) {
        HMODULE module = LoadLibraryA(name);
        ASSERT_NE(module, nullptr) << name;
        FARPROC entry = GetProcAddress(module, "Direct3DCreate9");
        ASSERT_NE(entry, nullptr) << name;
        using CreateFn = IDirect3D9*(WINAPI*)(UINT);
        auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void (*)()>(entry));
        EXPECT_EQ(create, &Direct3DCreate9) << name;
        EXPECT_EQ(GetProcAddress(module, "Direct3DCreate9Ex"), nullptr) << "not exported";
        EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), nullptr) << "no ordinals";
        // Unloading the layer's own library changes nothing: the entry stays callable.
        EXPECT_TRUE(FreeLibrary(module));
        EXPECT_EQ(GetProcAddress(LoadLibraryA(name), "Direct3DCreate9"), entry);
    }
}

TEST(Direct3DModuleTest, OtherLibrariesComeFromDiskOrNotAtAll) {
    EXPECT_EQ(LoadLibraryA("no_such_library_anywhere.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "Direct3DCreate9"), nullptr);

    // A shared object every Linux system has stands in for the audio library.
    HMODULE math = LoadLibraryA("libm.so.6");
    ASSERT_NE(math, nullptr);
    using CosFn = double (*)(double);
    auto cosine = reinterpret_cast<CosFn>(reinterpret_cast<void (*)()>(GetProcAddress(math, "cos")));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetProcAddress(math, "no_such_function"), nullptr);
    EXPECT_TRUE(FreeLibrary(math));
    int local = 0;
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&local))) << "a handle LoadLibraryA never gave";
}

}  // namespace
