#include "tests/scene/support/box_scene.h"

#include <gtest/gtest.h>

#include <cstring>

namespace box_scene {

namespace {

constexpr D3DVERTEXELEMENT9 kColouredElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

}  // namespace

std::unique_ptr<MeshData> BoxData(Vec3 centre, Vec3 half, DWORD colour, bool shade) {
    auto data = std::make_unique<MeshData>();
    VertexFormat format;
    format.SetFromElements(kColouredElements);
    EXPECT_TRUE(data->vertices.Allocate(24, format));
    EXPECT_TRUE(data->indices.Allocate(36, 2));
    auto* indices = reinterpret_cast<uint16_t*>(data->indices.data());
    const float shades[6] = {1.0f, 0.55f, 0.85f, 0.7f, 0.95f, 0.6f};
    for (int face = 0; face < 6; ++face) {
        const int axis = face / 2;
        const float sign = (face & 1) ? -1.0f : 1.0f;
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        DWORD c = colour;
        if (shade) {
            const auto channel = [&](int shift) { return DWORD(float((colour >> shift) & 0xFF) * shades[face]) << shift; };
            c = 0xFF000000u | channel(16) | channel(8) | channel(0);
        }
        for (int corner = 0; corner < 4; ++corner) {
            float p[3];
            p[axis] = sign;
            p[u] = (corner & 1) ? 1.0f : -1.0f;
            p[v] = (corner & 2) ? 1.0f : -1.0f;
            const float vertex[3] = {centre.x + p[0] * half.x, centre.y + p[1] * half.y, centre.z + p[2] * half.z};
            uint8_t* out = data->vertices.stream(0) + 16 * (face * 4 + corner);
            std::memcpy(out, vertex, 12);
            std::memcpy(out + 12, &c, 4);
        }
        // Clockwise seen from outside, the front faces of the default cull mode.
        const uint16_t base = uint16_t(face * 4);
        const uint16_t second = uint16_t(base + (sign > 0 ? 2 : 1)), third = uint16_t(base + (sign > 0 ? 1 : 2));
        const uint16_t quad[6] = {base, second, third, third, second, uint16_t(base + 3)};
        std::memcpy(indices + face * 6, quad, sizeof quad);
    }
    data->ComputeBounds();
    return data;
}

std::unique_ptr<Box> MakeBox(Vec3 centre, Vec3 half, DWORD colour, bool shade) {
    auto box = std::make_unique<Box>();
    box->data = BoxData(centre, half, colour, shade);
    box->mesh.SetSourceLink(box->data.get());
    EXPECT_TRUE(box->mesh.GetGeometryDesc().InitFromMeshData(*box->data, nullptr, false));
    return box;
}

Blob FindMarker(const std::vector<DWORD>& frame, int width, int height) {
    Blob blob;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if ((frame[size_t(y) * size_t(width) + size_t(x)] & 0xFFFFFFu) != (kMarkerRed & 0xFFFFFFu)) continue;
            // A pixel's centre is half a pixel in from its corner.
            blob.x += x + 0.5;
            blob.y += y + 0.5;
            ++blob.count;
        }
    }
    if (blob.count > 0) {
        blob.x /= blob.count;
        blob.y /= blob.count;
    }
    return blob;
}

}  // namespace box_scene
