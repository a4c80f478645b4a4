// The test hooks.

#include "platform/d3d9/d3d9_testing.h"

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"

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

bool BackBufferOnWindow(IDirect3DDevice9* device) { return static_cast<Device*>(device)->BackBufferOnWindow(); }

void PrepareDraw(IDirect3DDevice9* device) { static_cast<Device*>(device)->PrepareDraw(); }

int ProgramCount(IDirect3DDevice9* device) { return static_cast<Device*>(device)->programCount(); }

uint64_t ProgramEvictions(IDirect3DDevice9* device) { return static_cast<Device*>(device)->programEvictions(); }

void BypassGlCache(bool on) { GlCache::Bypass(on); }

GlObjects LiveGlObjects() {
    const GlObjectCounts& c = g_glObjects;
    return GlObjects{c.textures, c.buffers, c.queries, c.framebuffers, c.renderbuffers, c.shaders, c.programs};
}

UINT DrawCallCount(IDirect3DDevice9* device) { return static_cast<Device*>(device)->drawCalls(); }

uint64_t TriangleCount(IDirect3DDevice9* device) { return static_cast<Device*>(device)->trianglesDrawn(); }

void ResetDrawCallCount(IDirect3DDevice9* device) { static_cast<Device*>(device)->ResetDrawCalls(); }

bool ReadBufferObject(IDirect3DResource9* buffer, std::vector<BYTE>* bytes) {
    const BufferStore* store = nullptr;
    GLenum target = GL_ARRAY_BUFFER;
    if (auto* vertices = dynamic_cast<VertexBuffer*>(buffer)) {
        store = &vertices->store();
    } else if (auto* indices = dynamic_cast<IndexBuffer*>(buffer)) {
        store = &indices->store();
        target = GL_ELEMENT_ARRAY_BUFFER;
    }
    if (store == nullptr || store->name() == 0) return false;
    auto* device = static_cast<Device*>(DeviceObjectOf(buffer)->device());
    if (!device->MakeCurrent()) return false;
    bytes->assign(store->length(), 0);
    device->glCache().BindBuffer(target, store->name());
    gl.GetBufferSubData(target, 0, static_cast<GLsizeiptr>(bytes->size()), bytes->data());
    return true;
}

size_t BufferCpuBytes(IDirect3DResource9* buffer) {
    if (auto* vertices = dynamic_cast<VertexBuffer*>(buffer)) return vertices->store().cpuBytes();
    if (auto* indices = dynamic_cast<IndexBuffer*>(buffer)) return indices->store().cpuBytes();
    return 0;
}

}  // namespace rh::d3d9::testing
