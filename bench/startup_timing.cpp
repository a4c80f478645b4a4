// The saver's start-up as users meet it, timed phase by phase: the graphics check, the
// Direct3D object, the full-screen window and device, the first Present; then full-screen
// Resets to the same parameters. Run by hand on a real display (under Xvfb: without
// SDL_VIDEODRIVER=offscreen), with /usr/bin/time -v for the peak memory. Prints milliseconds.

#include "saver/entry.h"

#include <d3d9.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

LRESULT CALLBACK TimingWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// The peak resident size so far, in MB (Linux's VmHWM).
double PeakMb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0.0;
    char line[256];
    double kb = 0.0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %lf kB", &kb) == 1) break;
    }
    std::fclose(status);
    return kb / 1024.0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int resets = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const Clock::time_point start = Clock::now();

    DWORD version = 0;
    char text[10];
    if (FAILED(GetDirectXVersion(&version, text, sizeof text)) || version < kRequiredDirectXVersion) {
        std::fprintf(stderr, "the graphics check failed\n");
        return 1;
    }
    const Clock::time_point checked = Clock::now();
    const double peakChecked = PeakMb();

    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (d3d == nullptr) {
        std::fprintf(stderr, "no Direct3D\n");
        return 1;
    }
    const Clock::time_point created = Clock::now();
    const double peakCreated = PeakMb();

    D3DDISPLAYMODE desktop{};
    d3d->GetAdapterDisplayMode(0, &desktop);
    WNDCLASSA wc{};
    wc.lpfnWndProc = TimingWindowProc;
    wc.lpszClassName = "StartupTiming";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, "StartupTiming", "timing", WS_POPUP | WS_VISIBLE, 0, 0,
                                static_cast<int>(desktop.Width), static_cast<int>(desktop.Height), nullptr, nullptr,
                                nullptr, nullptr);
    const Clock::time_point windowed = Clock::now();

    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = FALSE;
    pp.BackBufferWidth = desktop.Width;
    pp.BackBufferHeight = desktop.Height;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = hwnd;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D24S8;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS createParameters = pp;
    if (hwnd == nullptr ||
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, hwnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &createParameters, &device) !=
            D3D_OK) {
        std::fprintf(stderr, "no full-screen device\n");
        return 1;
    }
    const Clock::time_point deviceMade = Clock::now();
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF203040, 1.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    const Clock::time_point firstFrame = Clock::now();

    std::printf("graphics check        %8.1f ms, peak %6.1f MB\n", Ms(start, checked), peakChecked);
    std::printf("Direct3DCreate9       %8.1f ms, peak %6.1f MB\n", Ms(checked, created), peakCreated);
    std::printf("window                %8.1f ms\n", Ms(created, windowed));
    std::printf("full-screen device    %8.1f ms\n", Ms(windowed, deviceMade));
    std::printf("first Present         %8.1f ms\n", Ms(deviceMade, firstFrame));
    std::printf("start to first frame  %8.1f ms, peak %6.1f MB\n", Ms(start, firstFrame), PeakMb());

    std::vector<double> times;
    for (int i = 0; i < resets; ++i) {
        Pump();
        D3DPRESENT_PARAMETERS again = pp;
        const Clock::time_point before = Clock::now();
        HRESULT hr = device->Reset(&again);
        times.push_back(Ms(before, Clock::now()));
        if (hr != D3D_OK) {
            std::fprintf(stderr, "Reset failed: 0x%08X\n", static_cast<unsigned>(hr));
            break;
        }
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    std::printf("full-screen Reset     %8.2f ms (median of %zu)\n", Median(times), times.size());

    device->Release();
    DestroyWindow(hwnd);
    d3d->Release();
    return 0;
}
