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

#include <cstdint>
#include <string>
#include <unordered_map>

namespace rh::d3d9 {

// How stage 0 combines the texture (T) and the diffuse colour (D) into one channel group.
enum class StageBlend : uint8_t {
    Modulate = 0,  // T x D, the default of stage 0's colour
    Texture = 1,   // T, the default of stage 0's alpha
    Diffuse = 2,   // D
};

// What selects a program. Stage 0's texture, its coordinates and its default cascade are in;
// lights, fog and the full cascade of texture stages come with the materials.
struct PipelineKey {
    bool pretransformed = false;
    bool color0 = false;  // the declaration has COLOR0 (else it reads opaque white)
    bool color0Bgra = false;  // as D3DCOLOR
    bool color1 = false;  // COLOR1 (else 0)
    bool color1Bgra = false;
    bool lighting = false;  // D3DRS_LIGHTING for transformed vertices
    bool specular = false;  // D3DRS_SPECULARENABLE adds COLOR1 to unlit colours
    // Stage 0 samples a texture: 0 none (the diffuse colour passes), else its target's kind.
    enum TextureKind : uint8_t { kNoTexture = 0, kTexture2d = 1, kTextureCube = 2 };
    TextureKind texture = kNoTexture;
    // With a texture: the coordinate set it reads (D3DTSS_TEXCOORDINDEX) and whether the
    // declaration has it (else the coordinates are (0, 0, 0, 1)).
    uint8_t texCoordSet = 0;
    bool texCoordPresent = false;
    StageBlend colour = StageBlend::Modulate;
    StageBlend alpha = StageBlend::Texture;

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
    // Stage 0's sampler (set to texture unit 0 when the program is made).
    GLint texture0 = -1;
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
    std::unordered_map<uint32_t, Entry> entries_;  // by PipelineKey::Bits
};

}  // namespace rh::d3d9
