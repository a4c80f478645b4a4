// The test hooks.

#include "platform/d3d9/d3d9_testing.h"

#include "platform/d3d9/d3d9_local.h"

#include <utility>

namespace rh::d3d9::testing {

void ForceDeviceLoss(IDirect3DDevice9* device, bool lost) { static_cast<Device*>(device)->ForceLoss(lost); }

bool ReadBackBuffer(IDirect3DDevice9* device, RECT rect, std::vector<DWORD>* pixels) {
    return static_cast<Device*>(device)->ReadBackBuffer(rect, pixels);
}

HRESULT PresentAndReadWindow(IDirect3DDevice9* device, std::vector<DWORD>* pixels, int* width, int* height) {
    Device::WindowImage shown;
    HRESULT hr = static_cast<Device*>(device)->PresentToWindow(&shown);
    *pixels = std::move(shown.pixels);
    *width = shown.width;
    *height = shown.height;
    return hr;
}

void PrepareDraw(IDirect3DDevice9* device) { static_cast<Device*>(device)->PrepareDraw(); }

void BypassGlCache(bool on) { GlCache::Bypass(on); }

UINT DrawCallCount(IDirect3DDevice9* device) { return static_cast<Device*>(device)->drawCalls(); }

void ResetDrawCallCount(IDirect3DDevice9* device) { static_cast<Device*>(device)->ResetDrawCalls(); }

void HoldQueryResults(bool) {}

void MakeQueriesUnsupported(bool) {}

}  // namespace rh::d3d9::testing
