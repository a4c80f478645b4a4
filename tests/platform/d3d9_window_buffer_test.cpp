// The back buffer drawn straight into the window's framebuffer: when the layer does so, and
// that a picture drawn there reads back and shows exactly as one drawn into a buffer of its own
// which Present copies; moves between the two (the window's size, the gamma ramp) keep the
// picture.

#include "tests/platform/d3d9_draw_support.h"

#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/sdl_window_local.h"

#include <d3d9.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using d3d9_test::DrawTest;
using d3d9_test::WindowedParameters;
using rh::d3d9::testing::BackBufferOnWindow;

class WindowBufferTest : public DrawTest {
protected:
    // Draws what tells the two kinds of back buffer apart if they differ: a clear whose alpha
    // is 0, a quad blended by the destination's alpha (1 for a format without alpha), a quad
    // under a stencil test that never passes (drawn when the format has no stencil), two
    // quads under the depth test (the nearer one wins where a depth buffer is), and one
    // near the top, which must stay at the top.
    void DrawScene(bool depth, bool stencil) {
        DWORD flags = D3DCLEAR_TARGET | (depth ? D3DCLEAR_ZBUFFER : 0) | (stencil ? D3DCLEAR_STENCIL : 0);
        ASSERT_EQ(device_->Clear(0, nullptr, flags, 0x00204060, 1.0f, 0), D3D_OK);
        ASSERT_EQ(device_->BeginScene(), D3D_OK);
        device_->SetRenderState(D3DRS_ZENABLE, FALSE);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTALPHA);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
        EXPECT_EQ(DrawScreenQuad(20, 10, 80, 40, 0.5f, 0x80C08040), D3D_OK);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);

        device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_NEVER);
        EXPECT_EQ(DrawScreenQuad(100, 60, 150, 110, 0.5f, 0xFFFF0000), D3D_OK);
        device_->SetRenderState(D3DRS_STENCILENABLE, FALSE);

        device_->SetRenderState(D3DRS_ZENABLE, depth ? D3DZB_TRUE : D3DZB_FALSE);
        device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
        EXPECT_EQ(DrawScreenQuad(10, 60, 70, 110, 0.25f, 0xFF00FF00), D3D_OK);
        EXPECT_EQ(DrawScreenQuad(40, 80, 95, 115, 0.75f, 0xFF0000FF), D3D_OK);
        ASSERT_EQ(device_->EndScene(), D3D_OK);
    }
    // The whole back buffer with its alpha, top row first.
    std::vector<DWORD> ReadWhole() {
        std::vector<DWORD> pixels;
        EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, RECT{0, 0, kWidth, kHeight}, &pixels));
        return pixels;
    }
    std::vector<DWORD> PresentAndShow() {
        std::vector<DWORD> shown;
        int width = 0;
        int height = 0;
        EXPECT_EQ(rh::d3d9::testing::PresentAndReadWindow(device_, &shown, &width, &height), D3D_OK);
        EXPECT_EQ(width, kWidth);
        EXPECT_EQ(height, kHeight);
        // The window's alpha is nobody's to see: compared by colour.
        for (DWORD& p : shown) p &= 0x00FFFFFF;
        return shown;
    }
    SDL_Window* Sdl() { return rh::win32::SdlWindowOf(window_->hwnd()); }
};

TEST_F(WindowBufferTest, DrawingOnTheWindowReadsBackAndShowsAsABufferOfItsOwn) {
    // Each depth format drawn twice: with DISCARD, on the window when it serves; with COPY
    // (Direct3D keeps the back buffer after Present) in a buffer of the layer's own.
    struct Case {
        const char* what;
        D3DFORMAT depth;
        bool onWindow;  // with DISCARD
    };
    const Case cases[] = {
        {"D24S8, as the window's", D3DFMT_D24S8, true},
        {"D24X8: the window's stencil is never used", D3DFMT_D24X8, true},
        {"no depth buffer: the window's is never used", D3DFMT_UNKNOWN, true},
        {"D16: less depth precision than the window's", D3DFMT_D16, false},
    };
    for (const Case& c : cases) {
        std::vector<DWORD> pictures[2];
        std::vector<DWORD> shown[2];
        for (int copy = 0; copy < 2; ++copy) {
            D3DPRESENT_PARAMETERS pp = WindowedParameters(c.depth);
            pp.SwapEffect = copy != 0 ? D3DSWAPEFFECT_COPY : D3DSWAPEFFECT_DISCARD;
            ASSERT_EQ(device_->Reset(&pp), D3D_OK) << c.what;
            EXPECT_EQ(BackBufferOnWindow(device_), copy == 0 && c.onWindow) << c.what << ", copy " << copy;
            DrawScene(c.depth != D3DFMT_UNKNOWN, c.depth == D3DFMT_D24S8);
            pictures[copy] = ReadWhole();
            shown[copy] = PresentAndShow();
        }
        ASSERT_EQ(pictures[0].size(), static_cast<size_t>(kWidth * kHeight)) << c.what;
        EXPECT_TRUE(pictures[0] == pictures[1]) << c.what << ": the back buffers differ";
        EXPECT_TRUE(shown[0] == shown[1]) << c.what << ": the windows differ";
        const auto at = [&](int x, int y) { return pictures[0][static_cast<size_t>(y * kWidth + x)]; };
        // Alpha reads 1 (X8R8G8B8), the destination's alpha counts as 1, the rows run top-down.
        EXPECT_EQ(at(0, 0), 0xFF204060u) << c.what;
        EXPECT_EQ(at(30, 20), 0xFFC08040u) << c.what << ": blended by the destination's alpha";
        EXPECT_EQ(at(30, kHeight - 3), 0xFF204060u) << c.what << ": the blended quad stays at the top";
        EXPECT_EQ(at(120, 80), c.depth == D3DFMT_D24S8 ? 0xFF204060u : 0xFFFF0000u) << c.what << ": stencil";
        EXPECT_EQ(at(60, 100), c.depth != D3DFMT_UNKNOWN ? 0xFF00FF00u : 0xFF0000FFu) << c.what << ": depth";
    }
}

TEST_F(WindowBufferTest, ABackBufferOfAnotherSizeThanTheWindowIsABufferOfItsOwn) {
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    pp.BackBufferWidth = kWidth / 2;
    pp.BackBufferHeight = kHeight / 2;
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_FALSE(BackBufferOnWindow(device_));
    pp = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    EXPECT_TRUE(BackBufferOnWindow(device_)) << "the window's size again";
}

TEST_F(WindowBufferTest, TheWindowChangingItsSizeMovesThePictureToABufferOfItsOwnAndBack) {
    ASSERT_TRUE(BackBufferOnWindow(device_));
    DrawScene(true, true);
    const std::vector<DWORD> before = ReadWhole();

    // The window shrinks: the frame drawn on it is kept and stretched onto the smaller window.
    SDL_SetWindowSize(Sdl(), kWidth / 2, kHeight / 2);
    std::vector<DWORD> shown;
    int w = 0;
    int h = 0;
    ASSERT_EQ(rh::d3d9::testing::PresentAndReadWindow(device_, &shown, &w, &h), D3D_OK);
    if (w != kWidth / 2) GTEST_SKIP() << "this video driver resizes windows later";
    EXPECT_FALSE(BackBufferOnWindow(device_));
    EXPECT_TRUE(ReadWhole() == before) << "the picture moved with the back buffer";
    ASSERT_EQ(shown.size(), static_cast<size_t>(w * h));
    EXPECT_EQ(shown[static_cast<size_t>(12 * w + 25)] & 0x00FFFFFF, 0x00C08040u) << "stretched";

    // Back to the back buffer's size: after the next Present it is the window again.
    SDL_SetWindowSize(Sdl(), kWidth, kHeight);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_TRUE(BackBufferOnWindow(device_));
    EXPECT_TRUE(ReadWhole() == before) << "the picture moved back";
}

TEST_F(WindowBufferTest, ARampThatChangesThePictureMovesItToABufferOfItsOwnUntilItIsIdentityAgain) {
    // A full-screen device on a window made at the desktop's size.
    D3DPRESENT_PARAMETERS pp = d3d9_test::FullScreenParameters(d3d_);
    ASSERT_EQ(device_->Release(), 0u);
    device_ = nullptr;
    window_ = std::make_unique<d3d9_test::TestWindow>(static_cast<int>(pp.BackBufferWidth),
                                                      static_cast<int>(pp.BackBufferHeight));
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_->hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                 &device_),
              D3D_OK);
    ASSERT_TRUE(BackBufferOnWindow(device_));
    const RECT whole{0, 0, static_cast<LONG>(pp.BackBufferWidth), static_cast<LONG>(pp.BackBufferHeight)};
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF204060, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(DrawScreenQuad(20, 10, 80, 40, 0.5f, 0xFFC08040), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    std::vector<DWORD> before;
    ASSERT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, whole, &before));

    D3DGAMMARAMP ramp{};
    D3DGAMMARAMP identity{};
    for (int i = 0; i < 256; ++i) {
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = static_cast<WORD>((255 - i) * 257);
        identity.red[i] = identity.green[i] = identity.blue[i] = static_cast<WORD>(i * 257);
    }
    device_->SetGammaRamp(0, 0, &ramp);
    EXPECT_FALSE(BackBufferOnWindow(device_)) << "the ramp needs a pass from a buffer of its own";
    std::vector<DWORD> after;
    ASSERT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, whole, &after));
    EXPECT_TRUE(after == before) << "the picture moved with the back buffer";
    std::vector<DWORD> shown;
    int w = 0;
    int h = 0;
    ASSERT_EQ(rh::d3d9::testing::PresentAndReadWindow(device_, &shown, &w, &h), D3D_OK);
    ASSERT_EQ(shown.size(), before.size());
    EXPECT_EQ(shown[static_cast<size_t>(20 * w + 30)] & 0x00FFFFFF, 0x003F7FBFu) << "shown through the ramp";
    EXPECT_FALSE(BackBufferOnWindow(device_));

    device_->SetGammaRamp(0, 0, &identity);
    ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_TRUE(BackBufferOnWindow(device_)) << "an identity ramp costs nothing again";
    ASSERT_TRUE(rh::d3d9::testing::ReadBackBuffer(device_, whole, &after));
    EXPECT_TRUE(after == before) << "the picture moved back";
}

}  // namespace
