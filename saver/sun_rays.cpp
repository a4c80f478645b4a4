// The sun-ray fan: geometry made once, vertices rewritten at every draw.

#include "saver/sun_rays.h"

#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/material.h"

#include <climits>
#include <cmath>

namespace {

struct RayVertex {
    float x, y, z;
    DWORD colour;
};
static_assert(sizeof(RayVertex) == 16);

constexpr int32_t kStride = 16;
constexpr int32_t kVerticesPerRay = 6;

RayVertex At(Vec3 p, DWORD colour) { return RayVertex{p.x, p.y, p.z, colour}; }

}  // namespace

FlagWord SunRays::Render(MultiMaterial* material) {
    RenderContext* context = material != nullptr ? material->renderContext() : nullptr;
    if (context == nullptr) return FlagWord(false);
    const int64_t bytes = int64_t{rays.count()} * kStride * kVerticesPerRay;
    if (bytes > INT32_MAX) return FlagWord(false);
    if (GetGeometry().Get() == nullptr) {
        GeometryDesc& desc = GetGeometryDesc();
        desc.primitiveType = D3DPT_TRIANGLELIST;
        if (!desc.format.SetFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE)) return FlagWord(false);
        BufferDesc& stream = desc.streams[0];
        stream.kind = BufferKind::Vertex;
        stream.format = desc.format;
        stream.stride = kStride;
        stream.pool = D3DPOOL_SYSTEMMEM;
        stream.usage = D3DUSAGE_DYNAMIC;
        stream.size = static_cast<int32_t>(bytes);
        // The usage must be given too: without it the buffer is made without DYNAMIC and
        // refuses the discard lock.
        stream.flags = kBufferPoolGiven | kBufferSizeGiven | kBufferUsageGiven;
        // Every draw rewrites its block.
        stream.clearFreedBlocks = false;
        // No rays: a buffer of no bytes, which cannot be made.
        if (bytes == 0 || !CreateGeometry(&desc)) return FlagWord(false);
    }
    Geometry* geometry = GetGeometry().Get();
    GrowableBuffer* buffer = geometry != nullptr ? geometry->streamBuffer(0) : nullptr;
    if (buffer == nullptr || bytes == 0 || bytes > buffer->size()) return FlagWord(false);
    BufferBlock* block = buffer->AllocateBlock(static_cast<int32_t>(bytes), 0, nullptr);
    // Without a block, or with one that cannot be locked, the draw would show stale bytes.
    if (block == nullptr) return FlagWord(false);
    const float t = static_cast<float>(timer.Elapsed());
    void* data = nullptr;
    if (!block->Lock(D3DLOCK_DISCARD, &data) || data == nullptr) {
        block->Free();
        return FlagWord(false);
    }

    context->world = IdentityMatrix();
    const TypedMatrix& v = context->view;
    const Vec3 up = Vec3Normalize(Vec3{v.At(0, 1), v.At(1, 1), v.At(2, 1)});
    const Vec3 forward = Vec3Normalize(Vec3{v.At(0, 2), v.At(1, 2), v.At(2, 2)});
    const Vec3 across = Vec3Normalize(Vec3Cross(forward, up));
    const Vec3 sun = Vec3Subtract(context->eye, Vec3Scale(direction, distance));
    constexpr float kTwoPi = 6.2831855f;

    auto* out = static_cast<RayVertex*>(data);
    for (int32_t i = 0; i < rays.count(); ++i) {
        const SunRayParams& ray = rays.items()[i];
        const float a = std::sin(kTwoPi * ray.anglePhase + t * ray.angleRate) * ray.angleAmplitude + ray.baseAngle;
        const float length =
            (std::sin(kTwoPi * ray.lengthPhase + t * ray.lengthRate) * ray.lengthAmplitude + 1.0f) * ray.length;
        const float sa = std::sin(a), ca = std::cos(a);
        const Vec3 d = Vec3Normalize(Vec3Add(Vec3Scale(up, sa), Vec3Scale(across, ca)));
        const Vec3 side = Vec3Normalize(Vec3Subtract(Vec3Scale(up, ca), Vec3Scale(across, sa)));
        const Vec3 b1 = Vec3Add(sun, Vec3Scale(side, ray.halfWidth));
        const Vec3 b2 = Vec3Subtract(sun, Vec3Scale(side, ray.halfWidth));
        const Vec3 tip = Vec3Add(sun, Vec3Scale(d, length));
        const DWORD inner = ray.colour.ToARGB();
        const DWORD outer = 0;
        RayVertex* o = out + static_cast<size_t>(i) * kVerticesPerRay;
        o[0] = At(b1, outer);
        o[1] = At(sun, inner);
        o[2] = At(tip, outer);
        o[3] = At(sun, inner);
        o[4] = At(b2, outer);
        o[5] = At(tip, outer);
    }
    block->Unlock();
    FlagWord result = Mesh::Render(material);
    block->Free();
    return result;
}
