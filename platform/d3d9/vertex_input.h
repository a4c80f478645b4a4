// How a vertex declaration reaches GL: each element type as a GL attribute array, each usage
// at a fixed attribute location, and what a draw must check before GL reads the streams.
// Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

#include <array>
#include <cstdint>
#include <vector>

namespace rh::d3d9 {

inline constexpr UINT kStreamCount = 8;  // SetStreamSource's streams 0..7

// One D3DDECLTYPE as GL reads it. D3DCOLOR's bytes are B, G, R, A: GL reads them in that
// order and the generated program swaps red and blue.
struct DeclTypeInfo {
    UINT bytes = 0;
    GLint size = 0;
    GLenum type = 0;
    bool normalized = false;
};
// Null for UNUSED, unknown values and the types the device does not read (UDEC3, DEC3N, and
// FLOAT16_2/4 when halfFloat is false).
const DeclTypeInfo* FindDeclType(BYTE type, bool halfFloat);

// Fixed attribute locations of the generated programs. Position is 0, as compatibility
// contexts want it.
enum AttribLocation : GLuint {
    kAttribPosition = 0,
    kAttribBlendWeight = 1,
    kAttribNormal = 2,
    kAttribColor0 = 3,
    kAttribColor1 = 4,
    kAttribPointSize = 5,
    kAttribBlendIndices = 6,
    kAttribTangent = 7,
    kAttribTexCoord0 = 8,  // to 15
    // GL 2.1 promises 16 locations: the binormal of effect code shares the blend indices'
    // location, which nothing reads (no indexed vertex blending is offered).
    kAttribBinormal = kAttribBlendIndices,
    kNoAttrib = 0xFFFFFFFF,
};
// The location of usage/usageIndex; kNoAttrib for what no program reads (FOG,
// DEPTH, SAMPLE, TESSFACTOR, indices past those above).
GLuint AttribLocationOf(BYTE usage, BYTE usageIndex);

// A declaration as the draws use it, worked out once when it is made.
struct DeclarationLayout {
    struct Attrib {
        GLuint location = 0;
        UINT stream = 0;
        UINT offset = 0;  // in the vertex
        DeclTypeInfo type;
        bool bgra = false;  // D3DCOLOR
    };
    bool supported = true;  // every element's type can be read
    bool hasPosition = false;
    bool pretransformed = false;  // POSITIONT instead of POSITION
    bool hasColor[2] = {false, false};
    bool colorBgra[2] = {false, false};
    uint32_t texCoordSets = 0;  // bit i: the declaration has TEXCOORD i (0..7)
    uint32_t streamMask = 0;  // the streams any element reads (bit per stream, 0..15)
    // Per stream: bytes of a vertex that elements read, from its start (offset + size of
    // the furthest element). A draw reading vertex v needs v * stride + this within the buffer.
    std::array<UINT, 16> streamExtent{};
    std::vector<Attrib> attribs;  // the elements with an attribute location
};
// elements end with D3DDECL_END and were validated.
DeclarationLayout LayoutOf(const std::vector<D3DVERTEXELEMENT9>& elements, bool halfFloat);

// The vertices or indices a primitive count draws; 0 for an unknown type.
uint64_t VerticesOfPrimitives(D3DPRIMITIVETYPE type, uint64_t primitives);
// GL_TRIANGLES and the like, for a type VerticesOfPrimitives knows.
GLenum GlPrimitive(D3DPRIMITIVETYPE type);

}  // namespace rh::d3d9
