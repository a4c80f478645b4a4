// The enumeration over our real Direct3D layer: a desktop-mode request (the saver's first
// choice) must find both a full-screen and a windowed device on whatever display the tests
// run on.
#include "render/device_enumeration.h"

#include "render/format_facts.h"

#include <gtest/gtest.h>

namespace {

class DeviceEnumerationLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (d3d == nullptr) GTEST_SKIP() << "no OpenGL for the Direct3D layer here";
        enumeration.SetDirect3D(d3d);
    }
    void TearDown() override {
        enumeration.SetDirect3D(nullptr);
        if (d3d != nullptr) {
            EXPECT_EQ(d3d->Release(), 0u);
        }
    }

    IDirect3D9* d3d = nullptr;
    DeviceEnumeration enumeration;
};

TEST_F(DeviceEnumerationLayerTest, ListsTheDesktopModeOncePerFormat) {
    ASSERT_TRUE(enumeration.Enumerate());
    ASSERT_GE(enumeration.Adapters().count(), 1);
    D3DDISPLAYMODE desktop = {};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);

    AdapterInfo* adapter = enumeration.Adapters().first()->element;
    int x8 = 0;
    int r5 = 0;
    auto* node = adapter->displayModes.first();
    for (int32_t i = 0; i < adapter->displayModes.count(); ++i, node = node->next) {
        const D3DDISPLAYMODE& m = node->element;
        if (m.Width != desktop.Width || m.Height != desktop.Height ||
            m.RefreshRate != desktop.RefreshRate)
            continue;
        x8 += m.Format == D3DFMT_X8R8G8B8;
        r5 += m.Format == D3DFMT_R5G6B5;
    }
    EXPECT_EQ(x8, 1);
    EXPECT_EQ(r5, 1);
    ASSERT_EQ(adapter->devices.count(), 1) << "HAL only; SW and REF answer no caps";
    EXPECT_EQ(adapter->devices.first()->element->deviceType, D3DDEVTYPE_HAL);
}

TEST_F(DeviceEnumerationLayerTest, DesktopRequestFindsFullScreenAndWindowedSettings) {
    ASSERT_TRUE(enumeration.Enumerate());
    D3DDISPLAYMODE desktop = {};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    for (bool windowed : {false, true}) {
        DeviceSettings request;
        request.windowed = windowed;
        request.matchFlags = kMatchMultiSample;
        request.multiSampleType = D3DMULTISAMPLE_NONE;
        request.vertexProcessing = kHardwareVertexProcessing;
        ASSERT_TRUE(enumeration.FindBestSettings(request))
            << (windowed ? "windowed" : "full screen");
        EXPECT_EQ(request.adapter, 0u);
        EXPECT_EQ(request.deviceType, D3DDEVTYPE_HAL);
        EXPECT_EQ(request.backBufferFormat, D3DFMT_X8R8G8B8);
        EXPECT_EQ(request.displayMode.Width, desktop.Width);
        EXPECT_EQ(request.displayMode.Height, desktop.Height);
        EXPECT_EQ(request.displayMode.RefreshRate, desktop.RefreshRate);
        EXPECT_EQ(request.displayMode.Format, D3DFMT_X8R8G8B8);
        EXPECT_EQ(request.depthStencilFormat, D3DFMT_D24S8);
        EXPECT_EQ(request.multiSampleType, D3DMULTISAMPLE_NONE);
        EXPECT_EQ(request.multiSampleQuality, 0u);
        EXPECT_EQ(request.vertexProcessing, kHardwareVertexProcessing);
        EXPECT_EQ(request.presentInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
        EXPECT_NE(request.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT, 0u);
    }
}

}  // namespace
