// The skin of a mesh: for every vertex the weight records that tie it to its bones, and the
// names of the bones. Filled by the scene loader from a mesh's skin arrays; read by the skinned
// mesh every time it is drawn.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/text/string.h"
#include "render/mesh_data.h"

#include <cstdint>
#include <vector>

// One record: the vertex follows bone `bone` (an index into the bone names) with `weight`.
// Stored in files exactly as in memory: int32 then float.
struct SkinWeight {
    int32_t bone;
    float weight;
};
static_assert(sizeof(SkinWeight) == 8, "skin weight records are 8 bytes in files");

class SkinInfo {
public:
    // Per vertex: the index of its first record and the number of its records.
    std::vector<int32_t> firstWeight;
    std::vector<int32_t> weightCount;
    std::vector<SkinWeight> weights;
    // Bone index -> the name of the scene node that is the bone.
    DynArray<String> boneNames;

    int32_t vertexCount() const { return static_cast<int32_t>(firstWeight.size()); }

    // Whether the skin fits a mesh of `vertices` vertices: both per-vertex arrays have exactly
    // that many entries; every vertex's records lie inside the records (a count of 0 is a
    // vertex without records); every bone index names a bone; every weight is finite. Skins
    // come from files: nothing reads a skin that fails this.
    bool Fits(int32_t vertices) const;

    // The per-vertex arrays, for the vertex-cache optimisation to reorder with the vertices.
    SkinArrays Arrays() { return SkinArrays{firstWeight.data(), weightCount.data()}; }
};
