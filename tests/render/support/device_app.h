// A framework with a small windowed device on the real layer (SDL2 offscreen in the tests,
// Direct3D over OpenGL), for engine code that needs a device: textures register with it and
// are told of its loss and reset. One per process, made on first use and kept to the end, as
// the saver keeps its one device.
#pragma once

#include "render/app_framework.h"

#include "platform/d3d9/d3d9_testing.h"

#include <windows.h>

namespace rh::test {

class DeviceApp : public AppFramework {
public:
    static constexpr int kWidth = 256;
    static constexpr int kHeight = 192;

    // The process's device app; null (every time) when no device could be made.
    static DeviceApp* Get() {
        static DeviceApp* app = [] {
            auto* made = new DeviceApp;
            if (!made->Open()) {
                delete made;
                return static_cast<DeviceApp*>(nullptr);
            }
            return made;
        }();
        return app;
    }

    // Loses the device as a full-screen window losing the focus does, lets a frame see the
    // loss, ends it and lets the next frame reset: every device resource is told lost, then
    // restored. True when the device works again.
    bool LoseAndReset() {
        rh::d3d9::testing::ForceDeviceLoss(g_device, true);
        if (!CheckDevice()) return false;
        rh::d3d9::testing::ForceDeviceLoss(g_device, false);
        return CheckDevice() && g_device->TestCooperativeLevel() == D3D_OK;
    }

    // Runs the window messages waiting for the window.
    static void PumpMessages() {
        MSG msg;
        for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
            if (msg.message == WM_QUIT) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (current_ != nullptr) return current_->MsgProc(hwnd, msg, wParam, lParam);
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }

    bool Open() {
        current_ = this;
        WNDCLASSA wc{};
        wc.lpfnWndProc = WindowProc;
        wc.lpszClassName = "EngineDeviceApp";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "engine device", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight,
                                nullptr, nullptr, nullptr, nullptr);
        if (hwnd_ == nullptr) return false;
        CurrentSettings().windowed = true;
        CurrentSettings().backBufferFormat = D3DFMT_X8R8G8B8;
        return Create(nullptr, hwnd_) && RecreateDevice(false) && g_device != nullptr;
    }

    static inline DeviceApp* current_ = nullptr;
    HWND hwnd_ = nullptr;
};

}  // namespace rh::test
