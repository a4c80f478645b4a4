// Shared pieces of the Direct3D layer's tests: a window to draw into and a device on it.
#pragma once

#include <d3d9.h>
#include <windows.h>

#include <gtest/gtest.h>

namespace d3d9_test {

inline LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A visible popup window of the given client size at the origin, destroyed with the object.
class TestWindow {
public:
    TestWindow(int width, int height) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = TestWindowProc;
        wc.lpszClassName = "D3D9Test";
        RegisterClassA(&wc);  // already registered by an earlier window: fine
        hwnd_ = CreateWindowExA(0, "D3D9Test", "d3d9 test", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                nullptr, nullptr, nullptr);
    }
    ~TestWindow() {
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

// Windowed, back buffer from the window, D24S8, no vsync: what a test usually wants.
inline D3DPRESENT_PARAMETERS WindowedParameters(D3DFORMAT depth = D3DFMT_D24S8) {
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.EnableAutoDepthStencil = depth != D3DFMT_UNKNOWN;
    pp.AutoDepthStencilFormat = depth;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return pp;
}

// The full-screen parameters for the desktop mode of adapter 0.
inline D3DPRESENT_PARAMETERS FullScreenParameters(IDirect3D9* d3d) {
    D3DDISPLAYMODE desktop{};
    d3d->GetAdapterDisplayMode(0, &desktop);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    pp.Windowed = FALSE;
    pp.BackBufferWidth = desktop.Width;
    pp.BackBufferHeight = desktop.Height;
    pp.BackBufferFormat = desktop.Format;
    pp.FullScreen_RefreshRateInHz = desktop.RefreshRate;
    return pp;
}

// The reference count an object has now (AddRef then Release).
inline ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

}  // namespace d3d9_test
