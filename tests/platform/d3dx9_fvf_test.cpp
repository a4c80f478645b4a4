// Conformance of D3DXDeclaratorFromFVF / D3DXFVFFromDeclarator with the documented FVF
// layout: fields packed in the fixed order position, blend weights, blend indices, normal,
// point size, diffuse, specular, texture sets; everything in stream 0.
#include <d3dx9mesh.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Elements = std::vector<D3DVERTEXELEMENT9>;

constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();

D3DVERTEXELEMENT9 El(WORD offset, BYTE type, BYTE usage, BYTE usageIndex = 0, WORD stream = 0,
                     BYTE method = D3DDECLMETHOD_DEFAULT) {
    return D3DVERTEXELEMENT9{stream, offset, type, method, usage, usageIndex};
}

std::string Describe(const D3DVERTEXELEMENT9& e) {
    return "{stream " + std::to_string(e.Stream) + " offset " + std::to_string(e.Offset) +
           " type " + std::to_string(e.Type) + " method " + std::to_string(e.Method) + " usage " +
           std::to_string(e.Usage) + " index " + std::to_string(e.UsageIndex) + "}";
}

// The elements before the end marker (at most MAX_FVF_DECL_SIZE are looked at).
Elements UpToEnd(const D3DVERTEXELEMENT9* declaration) {
    Elements out;
    for (int i = 0; i < MAX_FVF_DECL_SIZE && std::memcmp(&declaration[i], &kEnd, sizeof(kEnd)) != 0;
         ++i) {
        out.push_back(declaration[i]);
    }
    return out;
}

Elements WithEnd(Elements elements) {
    elements.push_back(kEnd);
    return elements;
}

struct FvfCase {
    const char* name;
    DWORD fvf;
    Elements expected;
};

const FvfCase kValidCases[] = {
    {"nothing", 0, {}},
    {"XYZ|DIFFUSE",
     D3DFVF_XYZ | D3DFVF_DIFFUSE,
     {El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
      El(12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR)}},
    {"XYZRHW|DIFFUSE|TEX1",
     D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1,
     {El(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT),
      El(16, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
      El(20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD)}},
    {"XYZW|NORMAL",
     D3DFVF_XYZW | D3DFVF_NORMAL,
     {El(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION),
      El(16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)}},
    {"XYZ|NORMAL|PSIZE|DIFFUSE|SPECULAR",
     D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR,
     {El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
      El(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL),
      El(24, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE),
      El(28, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0),
      El(32, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1)}},
    {"SPECULAR alone is colour 1",
     D3DFVF_SPECULAR,
     {El(0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1)}},
    {"XYZB3: three weights",
     D3DFVF_XYZB3,
     {El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
      El(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_BLENDWEIGHT)}},
    {"XYZB4|LASTBETA_UBYTE4: three weights and indices",
     D3DFVF_XYZB4 | D3DFVF_LASTBETA_UBYTE4,
     {El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
      El(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_BLENDWEIGHT),
      El(24, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES)}},
    {"XYZB5|LASTBETA_UBYTE4: four weights and indices",
     D3DFVF_XYZB5 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL,
     {El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
      El(12, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT),
      El(28, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES),
      El(32, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)}},
    {"XYZB1|LASTBETA_D3DCOLOR: indices only",
     D3DFVF_XYZB1 | D3DFVF_LASTBETA_D3DCOLOR,
     {El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
      El(12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES)}},
    {"TEX3 with sizes 3, 1, 4",
     D3DFVF_XYZ | D3DFVF_TEX3 | D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE1(1) |
         D3DFVF_TEXCOORDSIZE4(2),
     {El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
      El(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD, 0),
      El(24, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_TEXCOORD, 1),
      El(28, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_TEXCOORD, 2)}},
};

TEST(D3DXDeclaratorFromFVF, LaysOutTheFieldsPackedInFvfOrder) {
    for (const FvfCase& c : kValidCases) {
        D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
        std::memset(declaration, 0xCD, sizeof(declaration));
        ASSERT_EQ(D3DXDeclaratorFromFVF(c.fvf, declaration), S_OK) << c.name;
        const Elements actual = UpToEnd(declaration);
        ASSERT_EQ(actual.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < actual.size(); ++i) {
            EXPECT_EQ(Describe(actual[i]), Describe(c.expected[i])) << c.name << " element " << i;
        }
    }
}

TEST(D3DXDeclaratorFromFVF, EightTextureSetsFitAndEndWithTheMarker) {
    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(D3DXDeclaratorFromFVF(D3DFVF_XYZ | D3DFVF_TEX8, declaration), S_OK);
    const Elements actual = UpToEnd(declaration);
    ASSERT_EQ(actual.size(), 9u);
    EXPECT_EQ(Describe(actual[8]),
              Describe(El(12 + 7 * 8, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 7)));
}

TEST(D3DXDeclaratorFromFVF, RefusesCodesNoDeclarationExpresses) {
    const struct {
        const char* name;
        DWORD fvf;
    } cases[] = {
        {"reserved bit 0", D3DFVF_XYZ | 0x1},
        {"reserved bit 0x2000", D3DFVF_XYZ | 0x2000},
        {"W bit with RHW", 0x4004},
        {"nine texture sets", D3DFVF_XYZ | 0x900},
        {"five weights without indices", D3DFVF_XYZB5},
        {"LASTBETA without blending", D3DFVF_XYZ | D3DFVF_LASTBETA_UBYTE4},
        {"both LASTBETA flags", D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR},
    };
    for (const auto& c : cases) {
        D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
        std::memset(declaration, 0xCD, sizeof(declaration));
        EXPECT_EQ(D3DXDeclaratorFromFVF(c.fvf, declaration), D3DERR_INVALIDCALL) << c.name;
        EXPECT_EQ(std::memcmp(&declaration[0], &kEnd, sizeof(kEnd)), 0)
            << c.name << ": output is an empty declaration";
    }
    EXPECT_EQ(D3DXDeclaratorFromFVF(D3DFVF_XYZ, nullptr), D3DERR_INVALIDCALL);
}

TEST(D3DXFVFFromDeclarator, InvertsDeclaratorFromFVF) {
    for (const FvfCase& c : kValidCases) {
        const Elements declaration = WithEnd(c.expected);
        DWORD fvf = 0xDEADBEEF;
        ASSERT_EQ(D3DXFVFFromDeclarator(declaration.data(), &fvf), S_OK) << c.name;
        EXPECT_EQ(fvf, c.fvf) << c.name;
    }
    // Every texture set of width 2 leaves its size bits zero.
    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(D3DXDeclaratorFromFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX8, declaration), S_OK);
    DWORD fvf = 0;
    ASSERT_EQ(D3DXFVFFromDeclarator(declaration, &fvf), S_OK);
    EXPECT_EQ(fvf, static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX8));
}

TEST(D3DXFVFFromDeclarator, RefusesDeclarationsNoFvfExpresses) {
    const D3DVERTEXELEMENT9 position = El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
    const struct {
        const char* name;
        Elements elements;
    } cases[] = {
        {"out of FVF order",
         {position, El(12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
          El(16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)}},
        {"two streams", {position, El(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0, 1)}},
        {"a non-default method",
         {position, El(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0, 0, D3DDECLMETHOD_CROSSUV)}},
        {"a usage without an FVF field",
         {position, El(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TANGENT)}},
        {"a type without an FVF field",
         {position, El(12, D3DDECLTYPE_SHORT4, D3DDECLUSAGE_NORMAL)}},
        {"a gap between fields", {position, El(16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)}},
        {"texture set 1 without set 0",
         {position, El(12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1)}},
        {"the same field twice",
         {position, El(12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL),
          El(24, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)}},
        {"two weight elements",
         {position, El(12, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT),
          El(16, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_BLENDWEIGHT)}},
        {"weights behind a transformed position",
         {El(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT),
          El(16, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT)}},
        {"a third colour", {El(0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 2)}},
    };
    for (const auto& c : cases) {
        const Elements declaration = WithEnd(c.elements);
        DWORD fvf = 0xDEADBEEF;
        EXPECT_EQ(D3DXFVFFromDeclarator(declaration.data(), &fvf), D3DERR_INVALIDCALL) << c.name;
        EXPECT_EQ(fvf, 0u) << c.name;
    }
    DWORD fvf = 0;
    EXPECT_EQ(D3DXFVFFromDeclarator(nullptr, &fvf), D3DERR_INVALIDCALL);
    const Elements empty = WithEnd({});
    EXPECT_EQ(D3DXFVFFromDeclarator(empty.data(), nullptr), D3DERR_INVALIDCALL);
}

}  // namespace
