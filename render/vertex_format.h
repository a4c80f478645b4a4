// The engine's vertex layout: a Direct3D 9 vertex declaration with its per-stream strides,
// carried by value by buffers, geometry, meshes and effects, and the order under which the
// framework's declaration cache shares one device declaration per distinct layout.
#pragma once

#include <d3d9.h>

#include <cstdint>

// Room for 31 elements and the end marker.
constexpr int32_t kMaxVertexElements = 32;
// Stream indices are 0 to 7.
constexpr int32_t kMaxVertexStreams = 8;

class VertexFormat;

// The device declaration for a format, from the framework's cache (created on first use).
// Not add-referenced for the caller: do not release it and do not keep it across a device
// loss. Null without a device or when the device rejects the elements (nothing is cached
// then). Defined with the application framework.
IDirect3DVertexDeclaration9* GetVertexDeclaration(const VertexFormat& format);

// Invariant after every operation but the default constructor: elements()[elementCount()] is
// D3DDECL_END, the records after it are zero, and the strides are derived from the elements
// (ExtractStream with a new stream number is the documented exception).
class VertexFormat {
public:
    // Everything zero: no elements and no end marker yet, no streams, stride 0.
    VertexFormat();
    // Copy the count, the elements with the end marker, the stream count, the used streams'
    // strides and the total stride.
    VertexFormat(const VertexFormat& other);
    VertexFormat& operator=(const VertexFormat& other);
    void Assign(const VertexFormat& other);

    // Copies the elements up to D3DDECL_END, then appends the marker and derives the strides.
    // At most 31 elements are taken: a declaration read from a file without its marker stops
    // there instead of running on.
    void SetFromElements(const D3DVERTEXELEMENT9* elements);
    // The layout of an FVF code (D3DXDeclaratorFromFVF). False when D3DX cannot express the
    // code: the format is then empty (no elements, one stream of stride 0).
    bool SetFromFVF(DWORD fvf);

    // Appends an element behind the last one (same stream, offset = its offset + its size;
    // stream 0 offset 0 on an empty format) and returns -1. An element with the same four
    // bytes already present: returns its index and changes nothing. A full format (31
    // elements): returns kAddElementFull and changes nothing.
    int32_t AddElement(BYTE type, BYTE method, BYTE usage, BYTE usageIndex);
    static constexpr int32_t kAddElementFull = -2;

    // Index of the first element with this usage and usage index, or -1.
    int32_t FindElement(BYTE usage, BYTE usageIndex) const;
    // Index of the first element whose type, method, usage and usage index all match, or -1.
    int32_t FindElementExact(BYTE type, BYTE method, BYTE usage, BYTE usageIndex) const;
    // The same with the four bytes packed: type in the lowest byte, then method, usage and
    // usage index.
    int32_t FindPackedElement(uint32_t packed) const;

    // Same element count and the same bytes in the counted elements; strides and the marker
    // are not compared.
    bool Equals(const VertexFormat& other) const;
    // Negative, zero or positive: fewer elements is smaller; equal counts compare the counted
    // elements' bytes (stream and offset as little-endian words, then type, method, usage and
    // usage index) as unsigned bytes, the first difference deciding.
    int32_t Compare(const VertexFormat& other) const;

    // The elements of one stream, in order, with count, stream count, strides and total
    // computed from them as they are (so ExtractStream(2, x) has a stream count of 3). When
    // newStream is not -1 the elements are then renumbered to it without recomputing.
    VertexFormat ExtractStream(int32_t stream, int32_t newStream) const;
    // The FVF code of one stream's elements, or 0 when no FVF expresses them.
    DWORD StreamFVF(int32_t stream) const;

    // GetVertexDeclaration(*this).
    IDirect3DVertexDeclaration9* GetDeclaration() const { return GetVertexDeclaration(*this); }

    int32_t elementCount() const { return elementCount_; }
    // kMaxVertexElements records: the used ones, the marker, then zeros.
    const D3DVERTEXELEMENT9* elements() const { return elements_; }
    const D3DVERTEXELEMENT9& element(int32_t index) const { return elements_[index]; }
    // Highest stream used + 1: 1 for an empty format, 0 only for the default value.
    int32_t streamCount() const { return streamCount_; }
    // Stride of stream 0..7 in bytes.
    int32_t stride(int32_t stream) const { return strides_[stream]; }
    // Sum of the strides of streams 0 to streamCount() - 1.
    int32_t totalStride() const { return totalStride_; }

private:
    // Re-derives element count, stream count, strides and total from the elements up to the
    // marker (at most 31). A stream's stride is the largest end (offset + type size) of its
    // elements; elements may overlap.
    void ComputeStrides();

    int32_t elementCount_;
    D3DVERTEXELEMENT9 elements_[kMaxVertexElements];
    int32_t streamCount_;
    int32_t strides_[kMaxVertexStreams];
    int32_t totalStride_;
};

// The order of the framework's declaration cache: VertexFormat::Compare. Usable as the
// comparison of an OrderedMap<VertexFormat, IDirect3DVertexDeclaration9*,
// VertexDeclarationCache>.
struct VertexDeclarationCache {
    static int CompareKeys(const VertexFormat& a, const VertexFormat& b) { return a.Compare(b); }
    int operator()(const VertexFormat& a, const VertexFormat& b) const { return CompareKeys(a, b); }
};
