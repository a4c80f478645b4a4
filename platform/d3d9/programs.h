// The generated GLSL 1.20 programs that stand for Direct3D's fixed-function pipeline: one per
// pipeline key, made on first use and kept in a bounded cache. The vertex program is the one
// place where Direct3D's conventions become GL's:
// - matrices are uploaded as their 16 floats, so GLSL's M * v is Direct3D's row-vector v * M;
// - clip z and pixel centres as clip_space.h turns them (shared with effect programs);
// - pre-transformed (POSITIONT) vertices are render-target pixels, z is the depth itself and
//   the fourth value is 1 / w: no transform and no lighting.
// Lighting, fog and texture coordinates are worked out in camera space, as Direct3D does:
// lights arrive there already transformed by the view matrix.
// Everything that changes the code is in the key; colours, matrices, light records, fog
// distances and the texture factor are uniforms.
// Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

#include <cstdint>
#include <list>
#include <string>
#include <type_traits>
#include <unordered_map>

namespace rh::d3d9 {

class GlCache;

inline constexpr int kMaxLights = 8;
inline constexpr int kMaxStages = 8;

// Where a lit colour of the material comes from, after COLORVERTEX and the declaration were
// taken into account.
enum MaterialSource : uint8_t { kFromMaterial = 0, kFromColor0 = 1, kFromColor1 = 2 };

// Fog as the program computes it.
enum FogKind : uint8_t {
    kFogOff = 0,
    kFogVertex = 1,    // the factor per vertex from FOGVERTEXMODE
    kFogTable = 2,     // the factor per pixel from FOGTABLEMODE
    kFogSpecular = 3,  // the factor is the specular colour's alpha (both modes NONE, or pre-transformed)
};

// One texture stage. A colour operation of 0 ends the cascade (D3DTOP_DISABLE).
struct StageKey {
    uint8_t colorOp = 0;      // D3DTOP_*, known and offered
    uint8_t alphaOp = 0;      // D3DTOP_*; DISABLE keeps the current alpha
    uint8_t colorArg[3] = {};  // D3DTA_* of ARG0, ARG1, ARG2: the select and its modifiers
    uint8_t alphaArg[3] = {};
    uint8_t resultTemp = 0;   // RESULTARG is TEMP (else CURRENT)
    uint8_t texture = 0;      // what the stage samples: PipelineKey::TextureKind
    // The coordinates: the set read (8: none, reads (0, 0, 0, 1)), its element count in the
    // declaration, the generation mode (D3DTSS_TCI_* >> 16), and the transform's count
    // (D3DTTFF_COUNT1..4, 0 off) and projection.
    uint8_t coordSet = 0;
    uint8_t coordSize = 0;
    uint8_t coordGen = 0;
    uint8_t transformCount = 0;
    uint8_t projected = 0;
};

// What selects a program: plain bytes, compared and hashed as such.
struct PipelineKey {
    enum TextureKind : uint8_t { kNoTexture = 0, kTexture2d = 1, kTextureCube = 2 };

    uint8_t pretransformed = 0;
    uint8_t color0 = 0;  // the declaration has COLOR0 (else it reads opaque white)
    uint8_t color0Bgra = 0;  // as D3DCOLOR
    uint8_t color1 = 0;  // COLOR1 (else 0)
    uint8_t color1Bgra = 0;
    uint8_t normal = 0;  // the declaration has NORMAL
    uint8_t lighting = 0;  // D3DRS_LIGHTING for transformed vertices
    uint8_t specular = 0;  // D3DRS_SPECULARENABLE: specular lighting, and the colour added after the stages
    uint8_t localViewer = 0;
    uint8_t normalizeNormals = 0;
    uint8_t lightCount = 0;
    uint8_t lightTypes[kMaxLights] = {};  // D3DLIGHTTYPE of the enabled lights in index order
    uint8_t diffuseSource = 0, ambientSource = 0, specularSource = 0, emissiveSource = 0;  // MaterialSource
    uint8_t fog = 0;       // FogKind
    uint8_t fogMode = 0;   // D3DFOG_* of the vertex or table fog
    uint8_t rangeFog = 0;  // vertex fog from the distance instead of camera-space z
    uint8_t alphaFunc = 0;  // D3DCMP_* of the alpha test, 0 when it is off
    uint8_t stageCount = 0;
    // A point list: the program writes the point size. Sprites take their texture
    // coordinates from the point; scaling attenuates the size with the eye distance; the
    // size comes from the vertex's PSIZE when the declaration has one.
    uint8_t points = 0;
    uint8_t pointSprite = 0;
    uint8_t pointScale = 0;
    uint8_t pointSizeAttrib = 0;
    StageKey stages[kMaxStages] = {};

    bool operator==(const PipelineKey& other) const;
    // FNV-1a over the bytes.
    size_t Hash() const;
};
static_assert(std::has_unique_object_representations_v<PipelineKey>, "the key is hashed byte by byte");

struct PipelineKeyHash {
    size_t operator()(const PipelineKey& key) const { return key.Hash(); }
};

// The sources of the generated programs (for the cache and for tests that want to read them).
std::string VertexProgramSource(const PipelineKey& key);
std::string FragmentProgramSource(const PipelineKey& key);

// A linked program and where its uniforms are (-1 for those it lacks).
struct Program {
    GLuint name = 0;
    // Transformed: the world, view and projection product; world times view; the inverse
    // transpose of world times view (normals).
    GLint worldViewProjection = -1;
    GLint worldView = -1;
    GLint normalMatrix = -1;
    // Transformed: x, y the half-pixel shift per unit of w. Pre-transformed: x, y scale and
    // z, w offset from render-target pixels to GL's normalised coordinates.
    GLint pixel = -1;
    // Lighting: the material's diffuse, ambient, specular, emissive colours and (power, 0, 0,
    // 0); the ambient light; per light seven vec4s (see Device::UploadLights).
    GLint material = -1;
    GLint ambientLight = -1;
    GLint lights = -1;
    // Fog: (end, 1 / (end - start), density, 0) and the colour.
    GLint fog = -1;
    GLint fogColor = -1;
    // The texture factor, the alpha reference (0..255) and the texture matrices of stages 0..7.
    GLint textureFactor = -1;
    GLint alphaRef = -1;
    // Points: (size, smallest, largest, viewport height) and the scale factors (A, B, C).
    GLint point = -1;
    GLint pointScale = -1;
    GLint textureMatrix[kMaxStages] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

class ProgramCache {
public:
    // The programs kept at most; the least recently used goes first.
    static constexpr size_t kCapacity = 128;

    ProgramCache() = default;
    ProgramCache(const ProgramCache&) = delete;
    ProgramCache& operator=(const ProgramCache&) = delete;

    // With the device's context current: the program of key, made on first use; null when GL
    // would not compile or link it (logged; the draw then fails). A program dropped to keep
    // the bound is deleted and forgotten by cache; the pointer handed out stays valid until
    // kCapacity other keys were asked for.
    const Program* Find(const PipelineKey& key, GlCache& cache);
    // With the device's context current: deletes every program.
    void Destroy();
    // The programs held.
    int size() const;
    // Programs dropped to keep the bound.
    uint64_t evictions() const { return evictions_; }

private:
    struct Entry {
        PipelineKey key;
        Program program;
    };
    std::list<Entry> order_;  // most recently used first
    std::unordered_map<PipelineKey, std::list<Entry>::iterator, PipelineKeyHash> entries_;
    uint64_t evictions_ = 0;
};

}  // namespace rh::d3d9
