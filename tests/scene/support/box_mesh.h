// A coloured unit cube as a scene mesh, for tests, demonstrations and benchmarks of the scene
// walk: the proxy cube's 36 vertices with a colour per face (shaded so that edges show), in a
// buffer of its own, and the unit box as its own box (as a mesh keeps the box of its data).
#pragma once

#include "render/app_framework.h"
#include "render/geometry.h"
#include "render/mesh.h"
#include "scene/render_queue.h"

#include <cstdint>
#include <cstring>

namespace rh::test {

class BoxMesh : public Mesh, public BufferBlockUser {
public:
    // colour: 0xAARRGGBB; faces -z, +z, -x, +x, +y, -y get the colour scaled by a face factor.
    explicit BoxMesh(uint32_t colour) : colour_(colour) {
        box_.centre = Vec3{0.0f, 0.0f, 0.0f};
        box_.size = Vec3{1.0f, 1.0f, 1.0f};
        valid_ = true;
    }

    // Makes the buffer on the current device; false without one.
    bool Create() {
        GeometryDesc desc;
        if (!desc.format.SetFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE)) return false;
        desc.streams[0].format = desc.format;
        desc.streams[0].stride = OcclusionBoxMesh::kStride;
        desc.streams[0].size = OcclusionBoxMesh::kVertexCount * OcclusionBoxMesh::kStride;
        if (!CreateGeometry(&desc)) return false;
        // The description now holds the effective sizes: ask for the vertices' bytes.
        block_ = GetGeometry().Get()->streamBuffer(0)->AllocateBlock(
            OcclusionBoxMesh::kVertexCount * OcclusionBoxMesh::kStride, 0, this);
        return block_ != nullptr && OnBlockMoved(block_);
    }

    bool OnBlockMoved(BufferBlock* block) override {
        void* data = nullptr;
        if (!block->Lock(0, &data)) return false;
        OcclusionBoxMesh::WriteVertices(data);
        static const float kShade[6] = {1.0f, 0.55f, 0.7f, 0.85f, 0.95f, 0.45f};
        auto* bytes = static_cast<unsigned char*>(data);
        for (int v = 0; v < OcclusionBoxMesh::kVertexCount; ++v) {
            const float s = kShade[v / 6];
            const uint32_t r = static_cast<uint32_t>(((colour_ >> 16) & 0xFF) * s);
            const uint32_t g = static_cast<uint32_t>(((colour_ >> 8) & 0xFF) * s);
            const uint32_t b = static_cast<uint32_t>((colour_ & 0xFF) * s);
            const uint32_t c = (colour_ & 0xFF000000u) | (r << 16) | (g << 8) | b;
            std::memcpy(bytes + v * OcclusionBoxMesh::kStride + 12, &c, sizeof c);
        }
        return block->Unlock();
    }

private:
    uint32_t colour_;
    BufferBlock* block_ = nullptr;
};

}  // namespace rh::test
