// An AppFramework on the real layer for engine tests that draw: a popup window of the asked
// size with a windowed device on it (offscreen through SDL unless a test picks X11), the
// framework's reset opened to the test, and read-back helpers. Drawing set-up matches what the
// saver does before geometry: no lighting, depth test, a projection of x and y in pixels.
#pragma once

#include "render/app_framework.h"
#include "render/state_cache.h"

#include "platform/d3d9/d3d9_testing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace rh::test {

struct Rgb {
    int r, g, b;
};

class LayerApp : public AppFramework {
public:
    LayerApp() { current_ = this; }
    ~LayerApp() override {
        ReleaseDevice();
        if (window_ != nullptr) DestroyWindow(window_);
        UnregisterClassA("LayerApp", nullptr);
        current_ = nullptr;
    }

    // The window, Create, then a windowed device from the windowed settings Create found.
    bool Open(int width, int height) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &WindowProc;
        wc.lpszClassName = "LayerApp";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, wc.lpszClassName, "layer app", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                  nullptr, nullptr, nullptr, nullptr);
        if (window_ == nullptr || !Create(nullptr, window_)) return false;
        DeviceSettings request = WindowedSettings();
        request.presentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        SetDeviceSettings(request);
        return RecreateDevice(false) && g_device != nullptr;
    }

    // Lost, reset and restored as the framework does it at the start of a frame.
    bool ResetNow() { return Reset(); }
    int width() const { return static_cast<int>(PresentParams().BackBufferWidth); }
    int height() const { return static_cast<int>(PresentParams().BackBufferHeight); }

    void PumpMessages() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    // Clears to black, turns lighting off (without lights it would make every vertex black),
    // enables the depth test and sets a projection of x and y in back-buffer pixels (y down)
    // with z passed through; view and world are the identity.
    void StartFrame() {
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        StateCache::SetRenderState(D3DRS_LIGHTING, FALSE);
        StateCache::SetRenderState(D3DRS_ZENABLE, TRUE);
        StateCache::SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        float projection[16] = {2.0f / width(), 0, 0, 0, 0, -2.0f / height(), 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        StateCache::SetTransform(D3DTS_PROJECTION, projection);
        StateCache::SetTransform(D3DTS_VIEW, identity);
        StateCache::SetTransform(D3DTS_WORLD, identity);
    }

    // The whole back buffer as 0xAARRGGBB words, top row first (read before Present).
    std::vector<DWORD> ReadFrame() {
        std::vector<DWORD> pixels;
        EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(g_device, RECT{0, 0, width(), height()}, &pixels));
        return pixels;
    }

    // The average colour of a rectangle of the back buffer; {-1, -1, -1} when it cannot be read.
    static Rgb Average(const RECT& rect) {
        std::vector<DWORD> pixels;
        if (!rh::d3d9::testing::ReadBackBuffer(g_device, rect, &pixels) || pixels.empty()) return {-1, -1, -1};
        int64_t sum[3] = {0, 0, 0};
        for (DWORD p : pixels) {
            sum[0] += (p >> 16) & 0xFF;
            sum[1] += (p >> 8) & 0xFF;
            sum[2] += p & 0xFF;
        }
        const int64_t n = static_cast<int64_t>(pixels.size());
        return {static_cast<int>(sum[0] / n), static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n)};
    }

    // References the program holds on the device: 1 for the framework and one per live object
    // the device made (buffers, queries, declarations).
    static ULONG DeviceReferences() {
        g_device->AddRef();
        return g_device->Release();
    }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (current_ != nullptr) return current_->MsgProc(hwnd, msg, wParam, lParam);
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }

    static inline LayerApp* current_ = nullptr;
    HWND window_ = nullptr;
};

}  // namespace rh::test
