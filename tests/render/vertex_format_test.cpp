// VertexFormat: strides derived from the elements, FVF conversions, element edits, stream
// extraction and the order of the declaration cache.
#include "render/vertex_format.h"

#include "core/containers/ordered_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Elements = std::vector<D3DVERTEXELEMENT9>;

constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();

D3DVERTEXELEMENT9 El(WORD stream, WORD offset, BYTE type, BYTE usage, BYTE usageIndex = 0) {
    return D3DVERTEXELEMENT9{stream, offset, type, D3DDECLMETHOD_DEFAULT, usage, usageIndex};
}

VertexFormat FromElements(Elements elements) {
    elements.push_back(kEnd);
    VertexFormat format;
    format.SetFromElements(elements.data());
    return format;
}

bool IsEnd(const D3DVERTEXELEMENT9& e) { return std::memcmp(&e, &kEnd, sizeof(e)) == 0; }

// Position in stream 0, texture coordinates in stream 2 (stream 1 unused).
VertexFormat TwoStreams() {
    return FromElements({El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                         El(0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
                         El(2, 0, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0),
                         El(2, 8, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1)});
}

TEST(VertexFormat, DefaultIsAllZero) {
    const VertexFormat format;
    EXPECT_EQ(format.elementCount(), 0);
    EXPECT_EQ(format.streamCount(), 0);
    EXPECT_EQ(format.totalStride(), 0);
    const D3DVERTEXELEMENT9 zero = {};
    for (int i = 0; i < kMaxVertexElements; ++i) {
        EXPECT_EQ(std::memcmp(&format.element(i), &zero, sizeof(zero)), 0) << i;
    }
}

TEST(VertexFormat, FvfStrides) {
    const struct {
        DWORD fvf;
        int stride;
        int elements;
    } cases[] = {
        {0x42, 16, 2},  {0x44, 20, 2},  {0x72, 32, 4},  {0x102, 20, 2},
        {0x104, 24, 2}, {0x144, 28, 3}, {0x152, 36, 4},
    };
    for (const auto& c : cases) {
        VertexFormat format;
        ASSERT_TRUE(format.SetFromFVF(c.fvf)) << std::hex << c.fvf;
        EXPECT_EQ(format.totalStride(), c.stride) << std::hex << c.fvf;
        EXPECT_EQ(format.stride(0), c.stride) << std::hex << c.fvf;
        EXPECT_EQ(format.streamCount(), 1) << std::hex << c.fvf;
        EXPECT_EQ(format.elementCount(), c.elements) << std::hex << c.fvf;
        EXPECT_TRUE(IsEnd(format.element(c.elements))) << std::hex << c.fvf;
        EXPECT_EQ(format.StreamFVF(0), c.fvf) << std::hex << c.fvf;
    }
}

TEST(VertexFormat, AnFvfWithoutDeclarationLeavesAnEmptyFormat) {
    VertexFormat format;
    ASSERT_TRUE(format.SetFromFVF(0x152));
    EXPECT_FALSE(format.SetFromFVF(D3DFVF_XYZB5));  // five weights: no element type holds them
    EXPECT_EQ(format.elementCount(), 0);
    EXPECT_EQ(format.streamCount(), 1);
    EXPECT_EQ(format.totalStride(), 0);
    EXPECT_TRUE(IsEnd(format.element(0)));
    EXPECT_TRUE(format.Equals(FromElements({})));
}

TEST(VertexFormat, SetFromElementsStopsAtTheMarkerOrAfter31Elements) {
    // A declaration read from a file without its marker: 40 records, none of them the marker.
    Elements unterminated;
    for (int i = 0; i < 40; ++i) {
        unterminated.push_back(El(0, static_cast<WORD>(4 * i), D3DDECLTYPE_FLOAT1,
                                  D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i)));
    }
    VertexFormat format;
    format.SetFromElements(unterminated.data());
    EXPECT_EQ(format.elementCount(), 31);
    EXPECT_TRUE(IsEnd(format.element(31)));
    EXPECT_EQ(format.stride(0), 31 * 4);

    // The marker is compared as a whole record: stream 0xFF with another type is an element.
    Elements elements = {El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                         El(0xFF, 0, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_POSITION), kEnd,
                         El(0, 12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)};
    format.SetFromElements(elements.data());
    EXPECT_EQ(format.elementCount(), 2);
    EXPECT_TRUE(IsEnd(format.element(2)));
    EXPECT_EQ(format.element(3).Type, 0) << "records after the marker are zero";
}

TEST(VertexFormat, StridesAreTheFurthestElementEndPerStream) {
    // Overlapping elements; the colour ends furthest out.
    const VertexFormat format = FromElements({El(0, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION),
                                              El(0, 12, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD),
                                              El(0, 4, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE),
                                              El(1, 20, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR)});
    EXPECT_EQ(format.streamCount(), 2);
    EXPECT_EQ(format.stride(0), 20);
    EXPECT_EQ(format.stride(1), 24);
    EXPECT_EQ(format.totalStride(), 44);

    const VertexFormat two = TwoStreams();
    EXPECT_EQ(two.streamCount(), 3);
    EXPECT_EQ(two.stride(0), 16);
    EXPECT_EQ(two.stride(1), 0);
    EXPECT_EQ(two.stride(2), 16);
    EXPECT_EQ(two.totalStride(), 32);
}

TEST(VertexFormat, AddElementAppendsBehindTheLastElement) {
    VertexFormat format;
    EXPECT_EQ(format.AddElement(D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0), -1);
    EXPECT_EQ(format.element(0).Stream, 0);
    EXPECT_EQ(format.element(0).Offset, 0);
    EXPECT_EQ(format.AddElement(D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0), 0)
        << "already there";
    EXPECT_EQ(format.AddElement(D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0), -1);
    EXPECT_EQ(format.element(1).Offset, 12);
    EXPECT_EQ(format.elementCount(), 2);
    EXPECT_TRUE(IsEnd(format.element(2)));
    EXPECT_EQ(format.totalStride(), 20);

    // The new element follows the last one in its stream, not the widest stream.
    VertexFormat split = TwoStreams();
    EXPECT_EQ(split.AddElement(D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0), -1);
    EXPECT_EQ(split.element(4).Stream, 2);
    EXPECT_EQ(split.element(4).Offset, 16);
    EXPECT_EQ(split.stride(2), 28);

    // Full at 31 elements: refused, nothing changes.
    VertexFormat full;
    for (int i = 0; i < 31; ++i) {
        ASSERT_EQ(
            full.AddElement(D3DDECLTYPE_FLOAT1, 0, D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i)), -1)
            << i;
    }
    const VertexFormat before = full;
    EXPECT_EQ(full.AddElement(D3DDECLTYPE_FLOAT1, 0, D3DDECLUSAGE_NORMAL, 0),
              VertexFormat::kAddElementFull);
    EXPECT_EQ(full.elementCount(), 31);
    EXPECT_TRUE(IsEnd(full.element(31)));
    EXPECT_EQ(std::memcmp(full.elements(), before.elements(),
                          sizeof(D3DVERTEXELEMENT9) * kMaxVertexElements),
              0);
    EXPECT_EQ(full.totalStride(), 124);
    EXPECT_EQ(full.AddElement(D3DDECLTYPE_FLOAT1, 0, D3DDECLUSAGE_TEXCOORD, 30), 30)
        << "existing ones still found";
}

TEST(VertexFormat, FindElementVariants) {
    const VertexFormat format = TwoStreams();
    EXPECT_EQ(format.FindElement(D3DDECLUSAGE_TEXCOORD, 1), 3);
    EXPECT_EQ(format.FindElement(D3DDECLUSAGE_NORMAL, 0), -1);
    EXPECT_EQ(format.FindElementExact(D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0), 2);
    EXPECT_EQ(format.FindElementExact(D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_TEXCOORD, 0), -1);
    // type | method << 8 | usage << 16 | usage index << 24
    EXPECT_EQ(format.FindPackedElement(D3DDECLTYPE_D3DCOLOR | (D3DDECLUSAGE_COLOR << 16)), 1);
    EXPECT_EQ(
        format.FindPackedElement(D3DDECLTYPE_FLOAT2 | (D3DDECLUSAGE_TEXCOORD << 16) | (1u << 24)),
        3);
    EXPECT_EQ(
        format.FindPackedElement(D3DDECLTYPE_FLOAT2 | (1u << 8) | (D3DDECLUSAGE_TEXCOORD << 16)),
        -1);
}

TEST(VertexFormat, ExtractStreamKeepsTheStreamsStride) {
    const VertexFormat part = TwoStreams().ExtractStream(2, 0);
    ASSERT_EQ(part.elementCount(), 2);
    EXPECT_EQ(part.element(0).Stream, 0);
    EXPECT_EQ(part.element(1).Stream, 0);
    EXPECT_EQ(part.element(1).Offset, 8);
    EXPECT_TRUE(IsEnd(part.element(2)));
    EXPECT_EQ(part.streamCount(), 3);
    EXPECT_EQ(part.stride(0), 0);
    EXPECT_EQ(part.stride(1), 0);
    EXPECT_EQ(part.stride(2), 16);
    EXPECT_EQ(part.totalStride(), 16);

    const VertexFormat kept = TwoStreams().ExtractStream(2, -1);
    EXPECT_EQ(kept.element(0).Stream, 2);
    const VertexFormat none = TwoStreams().ExtractStream(5, 0);
    EXPECT_EQ(none.elementCount(), 0);
    EXPECT_EQ(none.totalStride(), 0);
}

TEST(VertexFormat, StreamFvf) {
    const VertexFormat format = FromElements({El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                                              El(0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
                                              El(1, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TANGENT)});
    EXPECT_EQ(format.StreamFVF(0), static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE));
    EXPECT_EQ(format.StreamFVF(1), 0u) << "a tangent has no FVF field";
    EXPECT_EQ(format.StreamFVF(3), 0u) << "an unused stream";
    // The per-stream format the geometry code makes converts as stream 0.
    EXPECT_EQ(TwoStreams().ExtractStream(2, 0).StreamFVF(0), static_cast<DWORD>(D3DFVF_TEX2));
}

TEST(VertexFormat, EqualElementsWithDifferentStridesAreEqual) {
    const VertexFormat extracted = TwoStreams().ExtractStream(2, 0);  // strides 0, 0, 16
    const VertexFormat plain =
        FromElements({El(0, 0, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0),
                      El(0, 8, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1)});
    ASSERT_NE(extracted.stride(0), plain.stride(0));
    EXPECT_TRUE(extracted.Equals(plain));
    EXPECT_EQ(extracted.Compare(plain), 0);
    EXPECT_EQ(VertexDeclarationCache::CompareKeys(extracted, plain), 0);

    OrderedMap<VertexFormat, int, VertexDeclarationCache> cache;
    cache.Insert(plain, 7, 1);
    EXPECT_EQ(cache.ValueRef(extracted), 7) << "one cache entry serves both";
    cache.Insert(extracted, 8, 1);
    EXPECT_EQ(cache.count(), 1);
}

TEST(VertexFormat, CompareOrdersByCountThenElementBytes) {
    const VertexFormat position =
        FromElements({El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)});
    const struct {
        const char* name;
        VertexFormat smaller;
        VertexFormat larger;
    } cases[] = {
        {"fewer elements first", position,
         FromElements({El(0, 0, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_POSITION),
                       El(0, 4, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_NORMAL)})},
        {"stream low byte before offset",
         FromElements({El(0, 0xFF, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)}),
         FromElements({El(1, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)})},
        {"offsets compare little-endian: 256 before 1",
         FromElements({El(0, 256, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)}),
         FromElements({El(0, 1, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)})},
        {"type before usage", FromElements({El(0, 0, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD)}),
         position},
        {"usage index last", position,
         FromElements({El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 1)})},
        {"the first differing element decides",
         FromElements({El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                       El(0, 12, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_NORMAL)}),
         FromElements({El(0, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION),
                       El(0, 16, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_NORMAL)})},
    };
    for (const auto& c : cases) {
        EXPECT_LT(c.smaller.Compare(c.larger), 0) << c.name;
        EXPECT_GT(c.larger.Compare(c.smaller), 0) << c.name;
        EXPECT_FALSE(c.smaller.Equals(c.larger)) << c.name;
        EXPECT_EQ(VertexDeclarationCache::CompareKeys(c.smaller, c.larger),
                  c.smaller.Compare(c.larger))
            << c.name;
    }
}

TEST(VertexFormat, CopiesAreIndependentValues) {
    VertexFormat original = TwoStreams();
    VertexFormat copy(original);
    VertexFormat assigned;
    assigned.Assign(original);
    original.AddElement(D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0);
    for (const VertexFormat* f : {&copy, &assigned}) {
        EXPECT_TRUE(f->Equals(TwoStreams()));
        EXPECT_EQ(f->streamCount(), 3);
        EXPECT_EQ(f->stride(2), 16);
        EXPECT_EQ(f->totalStride(), 32);
        EXPECT_TRUE(IsEnd(f->element(4)));
    }
    assigned = assigned;  // self-assignment keeps the value
    EXPECT_TRUE(assigned.Equals(TwoStreams()));
}

}  // namespace
