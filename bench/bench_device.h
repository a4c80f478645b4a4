// A window and a windowed Direct3D device of our layer for the benchmarks that measure drawing:
// SDL offscreen (unless the caller chose a driver), presenting immediately, with a D24S8 depth
// buffer when asked. The members stay null when something could not be made.
#pragma once

#include <d3d9.h>
#include <windows.h>

#include <cstdlib>

namespace bench {

inline LRESULT CALLBACK BenchWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

struct BenchDevice {
    IDirect3D9* d3d = nullptr;
    HWND hwnd = nullptr;
    IDirect3DDevice9* device = nullptr;

    BenchDevice(const char* className, int width, int height, bool depth) {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        WNDCLASSA wc{};
        wc.lpfnWndProc = BenchWindowProc;
        wc.lpszClassName = className;
        RegisterClassA(&wc);
        hwnd = CreateWindowExA(0, className, "bench", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                               nullptr, nullptr);
        if (d3d == nullptr || hwnd == nullptr) return;
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.EnableAutoDepthStencil = depth ? TRUE : FALSE;
        pp.AutoDepthStencilFormat = depth ? D3DFMT_D24S8 : D3DFMT_UNKNOWN;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        if (d3d->CreateDevice(0, D3DDEVTYPE_HAL, hwnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device) != D3D_OK) {
            device = nullptr;
        }
    }
    ~BenchDevice() {
        if (device != nullptr) device->Release();
        if (hwnd != nullptr) DestroyWindow(hwnd);
        if (d3d != nullptr) d3d->Release();
    }
    BenchDevice(const BenchDevice&) = delete;
    BenchDevice& operator=(const BenchDevice&) = delete;
};

}  // namespace bench
