// The application-visible state of a device as plain data: what Set* stored and Get* answers.
// GL never reads it directly; the apply path (gl_state.h) translates the dirty groups.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <optional>

namespace rh::d3d9 {

inline constexpr DWORD kRenderStateCount = 256;  // D3DRENDERSTATETYPE values are below 210
// The samplers a device has: the pixel samplers 0..15, then D3DDMAPSAMPLER and
// D3DVERTEXTEXTURESAMPLER0..3, which state arrays keep in slots 16..20 (see SamplerSlot).
inline constexpr DWORD kPixelSamplerCount = 16;
inline constexpr DWORD kSamplerCount = kPixelSamplerCount + 5;
inline constexpr DWORD kSamplerStateCount = 14;  // D3DSAMP_* values 1..13
inline constexpr DWORD kStageCount = 8;
inline constexpr DWORD kStageStateCount = 33;    // D3DTSS_* values 1..32
inline constexpr DWORD kTransformCount = 512;    // D3DTS_* values, the world matrices at 256..511

// Groups the apply path works in, in the order it applies them.
enum DirtyGroup : uint32_t {
    kDirtyViewport = 1u << 0,
    kDirtyDepth = 1u << 1,
    kDirtyStencil = 1u << 2,
    kDirtyBlend = 1u << 3,
    kDirtyAlphaTest = 1u << 4,
    kDirtyRaster = 1u << 5,       // cull, fill, shade, colour mask, scissor, depth bias
    kDirtyFog = 1u << 6,
    kDirtyLighting = 1u << 7,     // lighting switches, ambient, material sources, lights
    kDirtyMaterial = 1u << 8,
    kDirtyTransforms = 1u << 9,
    kDirtyPoints = 1u << 10,
    kDirtyClipPlanes = 1u << 11,
    kDirtyTextures = 1u << 12,
    kDirtySamplers = 1u << 13,
    kDirtyStages = 1u << 14,
    kDirtyVertexInput = 1u << 15,  // declaration or FVF
    kDirtyOther = 1u << 16,        // states no group draws from yet
    kDirtyAll = (1u << 17) - 1,
};

// The slot of a Direct3D sampler index in the device's sampler arrays; nullopt for an index
// that names no sampler. Inline: every sampler state and texture an effect pass sets goes
// through it.
inline std::optional<DWORD> SamplerSlot(DWORD sampler) {
    if (sampler < kPixelSamplerCount) return sampler;
    if (sampler >= D3DDMAPSAMPLER && sampler <= D3DVERTEXTEXTURESAMPLER3) {
        return kPixelSamplerCount + (sampler - D3DDMAPSAMPLER);
    }
    return std::nullopt;
}

// Whether state names a render state Direct3D 9 defines.
bool IsRenderState(DWORD state);
// Whether state names a transform slot: view, projection, texture 0-7, world 0-255.
bool IsTransformState(DWORD state);
// The dirty group a defined render state belongs to.
uint32_t DirtyGroupOfRenderState(D3DRENDERSTATETYPE state);

struct DeviceState {
    DWORD renderStates[kRenderStateCount];
    DWORD samplerStates[kSamplerCount][kSamplerStateCount];
    DWORD stageStates[kStageCount][kStageStateCount];
    D3DMATRIX transforms[kTransformCount];
    D3DMATERIAL9 material;
    D3DVIEWPORT9 viewport;
    RECT scissorRect;  // in render-target pixels, y downwards; right and bottom exclusive
    uint32_t dirty;

    // Direct3D 9's defaults for a device whose back buffer is width x height and whose caps
    // give maxPointSize; D3DRS_ZENABLE is TRUE only with an automatic depth buffer. Marks
    // everything dirty. Bound objects (textures, declarations) are the device's to release.
    void SetDefaults(bool autoDepthStencil, UINT width, UINT height, float maxPointSize);
};

// The bits of a float render-state value.
DWORD FloatBits(float value);

}  // namespace rh::d3d9
