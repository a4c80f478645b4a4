// The gamma ramp changes what a full-screen device shows, level by level through each
// channel's ramp (the top byte of an entry), and nothing else: not a windowed device's picture,
// not the back buffer, not after Reset.

#include "platform/d3d9/d3d9_testing.h"
#include "d3d9_draw_support.h"

#include <d3d9.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using d3d9_test::TestWindow;

// Red, green and blue of the grey-ish area: one level in each part of the ramps below.
constexpr int kLevels[3] = {64, 128, 200};
constexpr D3DCOLOR Xrgb(int r, int g, int b) { return 0xFF000000u | DWORD(r) << 16 | DWORD(g) << 8 | DWORD(b); }
constexpr D3DCOLOR kArea = Xrgb(kLevels[0], kLevels[1], kLevels[2]);

D3DGAMMARAMP RampOf(const std::function<int(int)>& level) {
    D3DGAMMARAMP ramp{};
    for (int i = 0; i < 256; ++i) {
        // The low byte is noise the display ignores: only the top byte is a level.
        auto entry = static_cast<WORD>((std::clamp(level(i), 0, 255) << 8) | ((i * 37) & 0xFF));
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = entry;
    }
    return ramp;
}

struct RampCase {
    const char* what;
    std::function<int(int)> level;
};

const RampCase kRamps[] = {
    {"identity (the saver's Gamma 0)", [](int i) { return i; }},
    {"brightening by half", [](int i) { return i * 3 / 2; }},
    {"entries 0-78 zero (the saver's Gamma -100)", [](int i) { return i <= 78 ? 0 : i; }},
};

class GammaTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        D3DDISPLAYMODE desktop{};
        ASSERT_EQ(d3d_->GetAdapterDisplayMode(0, &desktop), D3D_OK);
        window_ = std::make_unique<TestWindow>(static_cast<int>(desktop.Width), static_cast<int>(desktop.Height));
        ASSERT_NE(window_->hwnd(), nullptr);
    }
    void TearDown() override {
        if (device_ != nullptr) {
            EXPECT_EQ(device_->Release(), 0u);
        }
        window_.reset();
        if (d3d_ != nullptr) {
            EXPECT_EQ(d3d_->Release(), 0u);
        }
    }

    void Create(bool fullScreen) {
        pp_ = fullScreen ? d3d9_test::FullScreenParameters(d3d_) : d3d9_test::WindowedParameters();
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_->hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp_,
                                     &device_),
                  D3D_OK);
    }

    // Clears the back buffer to the area's colour, presents, and answers the colour shown in
    // a large area in the middle of the window (0x12345678 when it is not one colour).
    DWORD Shown() {
        EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, kArea, 1.0f, 0), D3D_OK);
        std::vector<DWORD> pixels;
        int width = 0;
        int height = 0;
        if (rh::d3d9::testing::PresentAndReadWindow(device_, &pixels, &width, &height) != D3D_OK) return 0x12345678;
        DWORD first = pixels[static_cast<size_t>(height / 4 * width + width / 4)] & 0xFFFFFF;
        for (int y = height / 4; y < height * 3 / 4; y += 7) {
            for (int x = width / 4; x < width * 3 / 4; x += 7) {
                if ((pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFF) != first) return 0x12345678;
            }
        }
        return first;
    }

    static DWORD Expected(const RampCase& ramp) {
        auto at = [&](int c) { return static_cast<DWORD>(std::clamp(ramp.level(kLevels[c]), 0, 255)); };
        return (at(0) << 16) | (at(1) << 8) | at(2);
    }

    IDirect3D9* d3d_ = nullptr;
    std::unique_ptr<TestWindow> window_;
    D3DPRESENT_PARAMETERS pp_{};
    IDirect3DDevice9* device_ = nullptr;
};

TEST_F(GammaTest, AFullScreenDeviceShowsEachLevelThroughItsRamp) {
    Create(true);
    for (const RampCase& ramp : kRamps) {
        D3DGAMMARAMP r = RampOf(ramp.level);
        device_->SetGammaRamp(0, 0, &r);
        EXPECT_EQ(Shown(), Expected(ramp)) << ramp.what;
        // The back buffer keeps what was drawn: the ramp is on the way to the display.
        std::vector<DWORD> back;
        ASSERT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, RECT{8, 8, 64, 64}, &back));
        EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, kArea, 1.0f, 0), D3D_OK);
        ASSERT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, RECT{8, 8, 64, 64}, &back));
        EXPECT_EQ(back[0] & 0xFFFFFF, kArea & 0xFFFFFF) << ramp.what;
    }
}

TEST_F(GammaTest, EachChannelHasItsOwnRamp) {
    Create(true);
    D3DGAMMARAMP r = RampOf([](int i) { return i; });
    for (int i = 0; i < 256; ++i) {
        r.red[i] = static_cast<WORD>((255 - i) << 8);  // inverted
        r.blue[i] = 0;
    }
    device_->SetGammaRamp(0, 0, &r);
    EXPECT_EQ(Shown(), DWORD((255 - kLevels[0]) << 16 | kLevels[1] << 8));
}

TEST_F(GammaTest, TheRampSurvivesResetAndDrawingAfterwardsIsUntouched) {
    Create(true);
    const RampCase& bright = kRamps[1];
    D3DGAMMARAMP r = RampOf(bright.level);
    device_->SetGammaRamp(0, 0, &r);
    EXPECT_EQ(Shown(), Expected(bright));
    ASSERT_EQ(device_->Reset(&pp_), D3D_OK);
    EXPECT_EQ(Shown(), Expected(bright)) << "after Reset";
    // The pass leaves nothing behind that a draw would pick up: the same quad, drawn before and
    // after a present through the ramp, lands where and as it should.
    const DWORD colour = Xrgb(10, 200, 30);
    const std::vector<d3d9_test::ScreenVertex> quad = {
        {40, 40, 0.5f, 1, colour}, {240, 40, 0.5f, 1, colour}, {40, 240, 0.5f, 1, colour}, {240, 240, 0.5f, 1, colour}};
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(sizeof(d3d9_test::ScreenVertex) * 4, D3DUSAGE_WRITEONLY, d3d9_test::kScreenFvf,
                                          D3DPOOL_MANAGED, &buffer, nullptr),
              D3D_OK);
    void* p = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, quad.data(), sizeof(d3d9_test::ScreenVertex) * 4);
    ASSERT_EQ(buffer->Unlock(), D3D_OK);
    for (const char* when : {"before", "after"}) {
        SCOPED_TRACE(when);
        EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
        EXPECT_EQ(device_->SetFVF(d3d9_test::kScreenFvf), D3D_OK);
        EXPECT_EQ(device_->SetStreamSource(0, buffer, 0, sizeof(d3d9_test::ScreenVertex)), D3D_OK);
        EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        std::vector<DWORD> back;
        ASSERT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, RECT{60, 60, 220, 220}, &back));
        EXPECT_EQ(std::count_if(back.begin(), back.end(),
                                [&](DWORD c) { return (c & 0xFFFFFF) == (colour & 0xFFFFFF); }),
                  static_cast<std::ptrdiff_t>(back.size()));
        ASSERT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, RECT{300, 300, 310, 310}, &back));
        EXPECT_EQ(back[0] & 0xFFFFFF, 0u) << "outside the quad";
        EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }
    device_->SetStreamSource(0, nullptr, 0, 0);
    EXPECT_EQ(buffer->Release(), 0u);
}

TEST_F(GammaTest, AWindowedDeviceIgnoresTheRampButKeepsIt) {
    Create(false);
    D3DGAMMARAMP r = RampOf(kRamps[1].level);
    device_->SetGammaRamp(0, 0, &r);
    EXPECT_EQ(Shown(), DWORD{kArea & 0xFFFFFF});
    D3DGAMMARAMP got{};
    device_->GetGammaRamp(0, &got);
    EXPECT_EQ(got.red[128], r.red[128]);
}

}  // namespace
