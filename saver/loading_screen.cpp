// The loading screen and the black fades: screen-space quads in pixels, drawn through a mesh and
// a material made for the one call, with the depth test and depth writes off for the quad.

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/file_ref.h"
#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/state_cache.h"
#include "render/texture.h"
#include "saver/saver_app.h"

#include <cstring>
#include <memory>

namespace {

struct PictureVertex {
    float x, y, z, rhw;
    float u, v;
};
static_assert(sizeof(PictureVertex) == 24);

struct FadeVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
};
static_assert(sizeof(FadeVertex) == 20);

constexpr DWORD kPictureFvf = D3DFVF_XYZRHW | D3DFVF_TEX1;  // 0x104
constexpr DWORD kFadeFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;   // 0x44
// Size given, pool given, and the geometry's mark.
constexpr int32_t kQuadBufferFlags = kBufferSizeGiven | kBufferPoolGiven | kBufferGeometryMark;

// The corners of a quad in drawing order: left-top, right-top, right-bottom, left-top,
// right-bottom, left-bottom, as (x is right, y is bottom) pairs.
constexpr bool kCornerRight[6] = {false, true, true, false, true, false};
constexpr bool kCornerBottom[6] = {false, false, true, false, true, true};

// Draws six vertices of `stride` bytes with the material, depth off for the quad and back on
// after it.
template <typename Vertex>
void DrawQuad(DWORD fvf, const Vertex (&vertices)[6], MultiMaterial* material) {
    const int32_t size = static_cast<int32_t>(sizeof vertices);
    GeometryDesc desc;
    desc.primitiveType = D3DPT_TRIANGLELIST;
    if (!desc.format.SetFromFVF(fvf)) return;
    desc.streams[0].kind = BufferKind::Vertex;
    desc.streams[0].format = desc.format;
    desc.streams[0].stride = static_cast<int32_t>(sizeof(Vertex));
    desc.streams[0].size = size;
    desc.streams[0].pool = D3DPOOL_DEFAULT;
    desc.streams[0].flags = kQuadBufferFlags;

    Mesh mesh;
    if (!mesh.CreateGeometry(&desc)) return;
    GrowableBuffer* buffer = mesh.GetGeometry().Get()->streamBuffer(0);
    BufferBlock* block = buffer != nullptr ? buffer->AllocateBlock(size, 0, nullptr) : nullptr;
    if (block == nullptr) return;
    void* data = nullptr;
    if (!block->Lock(0, &data)) return;
    std::memcpy(data, vertices, sizeof vertices);
    block->Unlock();

    StateCache::SetRenderState(D3DRS_ZENABLE, 0);
    StateCache::SetRenderState(D3DRS_ZWRITEENABLE, 0);
    mesh.Render(material);
    StateCache::SetRenderState(D3DRS_ZENABLE, 1);
    StateCache::SetRenderState(D3DRS_ZWRITEENABLE, 1);
}

}  // namespace

void SaverApp::DrawPicture(Texture* picture, float opacity, int placement) {
    // A picture that failed to load has nothing to show.
    if (picture == nullptr) return;
    const Rect render = GetRenderRect();
    const float w = static_cast<float>(render.right);
    const float h = static_cast<float>(render.bottom);
    const D3DXIMAGE_INFO info = picture->GetImageInfo();
    const float pw = static_cast<float>(info.Width);
    const float ph = static_cast<float>(info.Height);
    float left = 0.0f, top = 0.0f, right = w, bottom = h;
    switch (placement) {
        case 2: left = w - pw; top = h - ph; break;
        case 4: top = h - ph; right = pw; break;
        case 5: right = pw; bottom = ph; break;
        case 6: left = w - pw; bottom = ph; break;
        default: break;
    }

    PictureVertex vertices[6];
    for (int i = 0; i < 6; ++i) {
        vertices[i] = PictureVertex{kCornerRight[i] ? right : left, kCornerBottom[i] ? bottom : top, 0.1f, 1.0f,
                                    kCornerRight[i] ? 1.0f : 0.0f, kCornerBottom[i] ? 1.0f : 0.0f};
    }
    RenderContext context;
    MultiMaterial material;
    material.SetRenderContext(&context);
    SubMaterial& sub = material.sub(0);
    sub.opacity = opacity;
    sub.stages[0].map.texture = picture;
    sub.maps[kDiffuseMap].texture = picture;
    sub.stages[0].SetAlphaSource(3);
    sub.zFunc = D3DCMP_ALWAYS;
    sub.zWrite = 0;
    DrawQuad(kPictureFvf, vertices, &material);
}

void SaverApp::DrawFade(float opacity) {
    const Rect render = GetRenderRect();
    const float w = static_cast<float>(render.right);
    const float h = static_cast<float>(render.bottom);
    FadeVertex vertices[6];
    for (int i = 0; i < 6; ++i) {
        vertices[i] = FadeVertex{kCornerRight[i] ? w : -1.0f, kCornerBottom[i] ? h : -1.0f, 0.1f, 1.0f, 0};
    }
    RenderContext context;
    MultiMaterial material;
    material.SetRenderContext(&context);
    SubMaterial& sub = material.sub(0);
    sub.opacity = opacity;
    sub.stages[0].SetAlphaSource(1);
    sub.zFunc = D3DCMP_ALWAYS;
    sub.zWrite = 0;
    DrawQuad(kFadeFvf, vertices, &material);
}

void SaverApp::DrawLoadingScreen(Texture* picture, float opacity, int placement) {
    if (!CheckDevice()) return;
    IDirect3DDevice9* device = Device();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    if (device->BeginScene() != D3D_OK) return;
    DrawPicture(picture, opacity, placement);
    const int cornerPlacements[4] = {5, 6, 4, 2};
    for (int i = 0; i < 4; ++i) DrawPicture(corners_[i], opacity, cornerPlacements[i]);
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
}

void SaverApp::LoadCameraPath(const String& name) { ::LoadCameraPath(pathPlayer_, &mediaArchive_, mediaRoot_, name); }
