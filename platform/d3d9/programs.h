// The generated GLSL 1.20 programs that stand for Direct3D's fixed-function pipeline: one per
// pipeline key, made on first use and kept for the device's life. The vertex program is the
// one place where Direct3D's conventions become GL's:
// - matrices are uploaded as their 16 floats, so GLSL's M * v is Direct3D's row-vector v * M;
// - clip z runs from 0 to w in Direct3D and from -w to w in GL: z' = 2z - w, so that z < 0 is
//   clipped as in Direct3D;
// - Direct3D samples pixel centres at integer coordinates, GL half a pixel further on: x moves
//   right by half a pixel (w / viewport width in clip space) and y up by half a pixel;
// - pre-transformed (POSITIONT) vertices are render-target pixels, z is the depth itself and
//   the fourth value is 1 / w: no transform and no lighting.
// Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

#include <array>
#include <cstdint>
#include <string>

namespace rh::d3d9 {

// What selects a program. Textures join it with the textures; lights, fog and texture stages
// with the materials.
struct PipelineKey {
    bool pretransformed = false;
    bool color0 = false;  // the declaration has COLOR0 (else it reads opaque white)
    bool color0Bgra = false;  // as D3DCOLOR
    bool color1 = false;  // COLOR1 (else 0)
    bool color1Bgra = false;
    bool lighting = false;  // D3DRS_LIGHTING for transformed vertices
    bool specular = false;  // D3DRS_SPECULARENABLE adds COLOR1 to unlit colours

    static constexpr uint32_t kCount = 1u << 7;
    uint32_t Bits() const;
};

// The sources of the generated programs (for the cache and for tests that want to read them).
std::string VertexProgramSource(const PipelineKey& key);
std::string FragmentProgramSource(const PipelineKey& key);

// A linked program and where its uniforms are (-1 for those it lacks).
struct Program {
    GLuint name = 0;
    // Transformed: the world, view and projection product.
    GLint worldViewProjection = -1;
    // Transformed: x, y the half-pixel shift per unit of w. Pre-transformed: x, y scale and
    // z, w offset from render-target pixels to GL's normalised coordinates.
    GLint pixel = -1;
    // Lighting: the material's diffuse, ambient and emissive colours; for each of them the
    // weights of (material, COLOR0, COLOR1) that pick its source; the ambient light.
    GLint material = -1;
    GLint source = -1;
    GLint ambientLight = -1;
};

class ProgramCache {
public:
    ProgramCache() = default;
    ProgramCache(const ProgramCache&) = delete;
    ProgramCache& operator=(const ProgramCache&) = delete;

    // With the device's context current: the program of key, made on first use; null when GL
    // would not compile or link it (logged once; the draw then fails).
    const Program* Find(const PipelineKey& key);
    // With the device's context current: deletes every program.
    void Destroy();
    // The programs made so far.
    int size() const;

private:
    struct Entry {
        bool tried = false;
        Program program;
    };
    std::array<Entry, PipelineKey::kCount> entries_{};
};

}  // namespace rh::d3d9
