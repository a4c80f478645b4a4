// Vertex element types, attribute locations and declaration layouts.

#include "platform/d3d9/vertex_input.h"

#include <algorithm>

namespace rh::d3d9 {

const DeclTypeInfo* FindDeclType(BYTE type, bool halfFloat) {
    // Indexed by D3DDECLTYPE; a zero size marks the types the device does not read.
    static constexpr DeclTypeInfo kTypes[] = {
        {4, 1, GL_FLOAT, false},            // FLOAT1
        {8, 2, GL_FLOAT, false},            // FLOAT2
        {12, 3, GL_FLOAT, false},           // FLOAT3
        {16, 4, GL_FLOAT, false},           // FLOAT4
        {4, 4, GL_UNSIGNED_BYTE, true},     // D3DCOLOR
        {4, 4, GL_UNSIGNED_BYTE, false},    // UBYTE4
        {4, 2, GL_SHORT, false},            // SHORT2
        {8, 4, GL_SHORT, false},            // SHORT4
        {4, 4, GL_UNSIGNED_BYTE, true},     // UBYTE4N
        {4, 2, GL_SHORT, true},             // SHORT2N
        {8, 4, GL_SHORT, true},             // SHORT4N
        {4, 2, GL_UNSIGNED_SHORT, true},    // USHORT2N
        {8, 4, GL_UNSIGNED_SHORT, true},    // USHORT4N
        {4, 0, 0, false},                   // UDEC3: no GL 2.1 type holds 10-bit fields
        {4, 0, 0, false},                   // DEC3N
        {4, 2, GL_HALF_FLOAT, false},       // FLOAT16_2
        {8, 4, GL_HALF_FLOAT, false},       // FLOAT16_4
    };
    if (type >= std::size(kTypes) || kTypes[type].size == 0) return nullptr;
    if (kTypes[type].type == GL_HALF_FLOAT && !halfFloat) return nullptr;
    return &kTypes[type];
}

GLuint AttribLocationOf(BYTE usage, BYTE usageIndex) {
    switch (usage) {
        case D3DDECLUSAGE_POSITION:
        case D3DDECLUSAGE_POSITIONT: return usageIndex == 0 ? kAttribPosition : kNoAttrib;
        case D3DDECLUSAGE_BLENDWEIGHT: return usageIndex == 0 ? kAttribBlendWeight : kNoAttrib;
        case D3DDECLUSAGE_BLENDINDICES: return usageIndex == 0 ? kAttribBlendIndices : kNoAttrib;
        case D3DDECLUSAGE_NORMAL: return usageIndex == 0 ? kAttribNormal : kNoAttrib;
        case D3DDECLUSAGE_PSIZE: return usageIndex == 0 ? kAttribPointSize : kNoAttrib;
        case D3DDECLUSAGE_TANGENT: return usageIndex == 0 ? kAttribTangent : kNoAttrib;
        case D3DDECLUSAGE_BINORMAL: return usageIndex == 0 ? kAttribBinormal : kNoAttrib;
        case D3DDECLUSAGE_COLOR:
            if (usageIndex == 0) return kAttribColor0;
            return usageIndex == 1 ? kAttribColor1 : kNoAttrib;
        case D3DDECLUSAGE_TEXCOORD: return usageIndex < 8 ? kAttribTexCoord0 + usageIndex : kNoAttrib;
        default: return kNoAttrib;
    }
}

DeclarationLayout LayoutOf(const std::vector<D3DVERTEXELEMENT9>& elements, bool halfFloat) {
    DeclarationLayout layout;
    for (size_t i = 0; i + 1 < elements.size(); ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        const DeclTypeInfo* type = FindDeclType(e.Type, halfFloat);
        if (type == nullptr) {
            layout.supported = false;
            continue;
        }
        // Elements are read whether or not a program uses them: the range checks count them all.
        layout.streamMask |= 1u << e.Stream;
        layout.streamExtent[e.Stream] = std::max<UINT>(layout.streamExtent[e.Stream], e.Offset + type->bytes);
        GLuint location = AttribLocationOf(e.Usage, e.UsageIndex);
        if (location == kNoAttrib) continue;
        // A position and a pre-transformed position at once: the first one wins.
        if (location == kAttribPosition && layout.hasPosition) continue;
        bool bgra = e.Type == D3DDECLTYPE_D3DCOLOR;
        layout.attribs.push_back(DeclarationLayout::Attrib{location, e.Stream, e.Offset, *type, bgra});
        if (location == kAttribPosition) {
            layout.hasPosition = true;
            layout.pretransformed = e.Usage == D3DDECLUSAGE_POSITIONT;
        }
        if (location >= kAttribTexCoord0) layout.texCoordSets |= 1u << (location - kAttribTexCoord0);
        if (location == kAttribColor0 || location == kAttribColor1) {
            int c = location == kAttribColor0 ? 0 : 1;
            layout.hasColor[c] = true;
            layout.colorBgra[c] = bgra;
        }
    }
    return layout;
}

uint64_t VerticesOfPrimitives(D3DPRIMITIVETYPE type, uint64_t primitives) {
    switch (type) {
        case D3DPT_POINTLIST: return primitives;
        case D3DPT_LINELIST: return primitives * 2;
        case D3DPT_LINESTRIP: return primitives + 1;
        case D3DPT_TRIANGLELIST: return primitives * 3;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: return primitives + 2;
        default: return 0;
    }
}

GLenum GlPrimitive(D3DPRIMITIVETYPE type) {
    switch (type) {
        case D3DPT_POINTLIST: return GL_POINTS;
        case D3DPT_LINELIST: return GL_LINES;
        case D3DPT_LINESTRIP: return GL_LINE_STRIP;
        case D3DPT_TRIANGLELIST: return GL_TRIANGLES;
        case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
        default: return GL_TRIANGLE_FAN;
    }
}

}  // namespace rh::d3d9
