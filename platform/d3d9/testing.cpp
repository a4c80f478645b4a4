// The test hooks.

#include "platform/d3d9/d3d9_testing.h"

#include "platform/d3d9/d3d9_local.h"

namespace rh::d3d9::testing {

void ForceDeviceLoss(IDirect3DDevice9* device, bool lost) { static_cast<Device*>(device)->ForceLoss(lost); }

bool ReadBackBuffer(IDirect3DDevice9* device, RECT rect, std::vector<DWORD>* pixels) {
    return static_cast<Device*>(device)->ReadBackBuffer(rect, pixels);
}

void PrepareDraw(IDirect3DDevice9* device) { static_cast<Device*>(device)->PrepareDraw(); }

void BypassGlCache(bool on) { GlCache::Bypass(on); }

}  // namespace rh::d3d9::testing
