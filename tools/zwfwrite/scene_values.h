// The value forms of scene files, packed for the data-file writer: colours (alpha first),
// matrices (16 floats, row 3 the translation, then the kind: 7 only for the exact identity),
// boxes, vertex declarations, "Props" compounds and mesh nodes.
#pragma once

#include "tools/zwfwrite/zwf_writer.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rh::zwf {

using Matrix16 = std::array<float, 16>;

inline constexpr Matrix16 kIdentity16 = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// 16 bytes: a, r, g, b.
Bytes PackColor(float a, float r, float g, float b);
// 68 bytes; the kind is 7 for the exact identity, else 0.
Bytes PackMatrix(const Matrix16& m);
// 24 bytes: centre, then full size.
Bytes PackBox(float cx, float cy, float cz, float sx, float sy, float sz);

// A translation matrix (identity axes).
Matrix16 Translation(float x, float y, float z);

// One vertex element as the file holds it (8 bytes).
struct DeclElement {
    uint16_t stream;
    uint16_t offset;
    uint8_t type, method, usage, usageIndex;
};
// The elements followed by the end marker {0xFF, 0, 17, 0, 0, 0}.
Bytes PackDecl(const std::vector<DeclElement>& elements);
// Position FLOAT3 @0, normal FLOAT3 @12, TEXCOORD0 FLOAT2 @24, TEXCOORD1 FLOAT2 @32: stride 40.
std::vector<DeclElement> LitMapLayout();
// Position, normal, TEXCOORD0 only: stride 32.
std::vector<DeclElement> SimpleLayout();

// A "Props" compound of text leaves (an empty list gives an empty compound).
Node Props(const std::vector<std::pair<std::string, std::string>>& values);

// The blocks of a mesh node.
struct MeshBlocks {
    std::string materialName;  // empty: no "MaterialName"
    std::vector<DeclElement> decl;
    std::vector<float> vertices;  // stride / 4 floats per vertex
    std::vector<uint32_t> indices;
    int32_t indexSize = 2;
};
// A "Mesh" compound: Props, NodeTM, ObjectTM, MaterialName, IndexSize, NumVerts, NumIndexes,
// Verts, Indexes and DECL.
Node MeshNode(const std::string& name, const MeshBlocks& blocks, const Node& props,
              const Matrix16& nodeTM = kIdentity16, const Matrix16& objectTM = kIdentity16);

}  // namespace rh::zwf
