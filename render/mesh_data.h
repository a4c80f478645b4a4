// The source data of a scene mesh in system memory (vertex streams, indices, adjacency) and the
// conversions the geometry code runs on it: copying vertices between layouts, indices between
// widths, the fixed-function render layout, point transforms and the round trip through a D3DX
// mesh for the vertex-cache optimisation.
//
// Counts and layouts come from scene files: every function here checks sizes against what the
// memory holds and refuses (false) rather than reading or writing past it.
#pragma once

#include "core/bounds/bounds_provider.h"
#include "core/types/byte_buffer.h"
#include "render/vertex_format.h"

#include <d3dx9math.h>

#include <cstdint>

struct ID3DXMesh;

// Where one set of vertices lies, without owning it: a pointer per stream, the vertices each
// stream has room for, the layout and each stream's bytes per vertex. The strides are given
// apart from the format because a buffer's format is one stream renumbered to stream 0
// (VertexFormat::ExtractStream), whose own stride table still has the stride under the old
// stream number.
struct VertexStreams {
    uint8_t* data[kMaxVertexStreams] = {};
    int32_t count = 0;
    const VertexFormat* format = nullptr;
    int32_t strides[kMaxVertexStreams] = {};
};

// Where one set of indices lies, without owning it.
struct IndexStream {
    uint8_t* data = nullptr;
    int32_t count = 0;
    int32_t bytesPerIndex = 2;  // 2 or 4
};

// Owned vertex streams: for each stream below the format's stream count, count x that stream's
// stride bytes, zero-filled when allocated.
class VertexData {
public:
    VertexData() = default;
    VertexData(const VertexData&) = delete;
    VertexData& operator=(const VertexData&) = delete;

    // Nothing when count and format equal the present ones (the bytes stay); otherwise the
    // streams are freed and made again. False, leaving no vertices, for a negative count or a
    // stream size that overflows an int.
    bool Allocate(int32_t count, const VertexFormat& format);
    void Free();

    // The view CopyVertices reads and writes. Views carry writable pointers: write through one
    // only when the data is yours to change.
    VertexStreams Streams() const;
    uint8_t* stream(int32_t index) { return streams_[index].Data(); }
    const uint8_t* stream(int32_t index) const { return streams_[index].Data(); }
    int32_t count() const { return count_; }
    const VertexFormat& format() const { return format_; }

private:
    ByteBuffer streams_[kMaxVertexStreams];
    int32_t count_ = 0;
    VertexFormat format_;
};

// Owned indices of 2 or 4 bytes each.
class IndexData {
public:
    IndexData() = default;
    IndexData(const IndexData&) = delete;
    IndexData& operator=(const IndexData&) = delete;

    // Nothing when both equal the present ones; otherwise a new zero-filled block of count x
    // bytesPerIndex bytes. False, leaving no indices, for a negative count, a width other than
    // 2 or 4, or a size that overflows an int.
    bool Allocate(int32_t count, int32_t bytesPerIndex);
    void Free();

    // As VertexData::Streams.
    IndexStream Stream() const;
    uint8_t* data() { return data_.Data(); }
    const uint8_t* data() const { return data_.Data(); }
    int32_t count() const { return count_; }
    int32_t bytesPerIndex() const { return bytesPerIndex_; }

private:
    ByteBuffer data_;
    int32_t count_ = 0;
    int32_t bytesPerIndex_ = 2;
};

// The per-vertex arrays a skinned mesh keeps beside its vertices (bone offsets and bone counts),
// reordered with the vertices by the vertex-cache optimisation.
struct SkinArrays {
    int32_t* boneOffsets = nullptr;
    int32_t* boneCounts = nullptr;
};

// A scene mesh's data. Its box is the box of the positions.
class MeshData : public BoundsProvider {
public:
    MeshData() = default;
    MeshData(const MeshData&) = delete;
    MeshData& operator=(const MeshData&) = delete;

    // The box of the positions: the first POSITION element of usage index 0, read at its offset
    // in its stream at that stream's stride. False without vertices (or stream memory); true
    // with the box marked invalid when there is no such element or it is not three or four
    // floats.
    bool ComputeBounds() override;

    // The fixed-function layout, all in stream 0: POSITION FLOAT3 at 0, NORMAL FLOAT3 at 12,
    // then, each only when the mesh's own format has it, COLOR 0 as D3DCOLOR, TEXCOORD 0 as
    // FLOAT2 and TEXCOORD 1 as FLOAT2, each right behind the previous element (all three:
    // 24, 28, 36, stride 44).
    VertexFormat RenderFormat() const;

    // A D3DX mesh with the mesh's layout on the global device (faces = index count / 3),
    // filled with the vertices of stream 0 and the indices when copy is set. Null on any
    // failure. The caller releases it.
    ID3DXMesh* CreateD3DXMesh(DWORD options, bool copy) const;
    // Vertices and indices taken from the mesh (32-bit indices when it has D3DXMESH_32BIT).
    bool CopyFromD3DXMesh(ID3DXMesh* mesh);
    // Reorders faces and vertices for the vertex cache through D3DX; the adjacency is replaced
    // by the new one and the skin arrays (when given) follow the vertices. False without
    // adjacency or when D3DX fails (the data is then unchanged).
    bool OptimizeForVertexCache(SkinArrays* skin);

    VertexData vertices;
    IndexData indices;
    // Three 32-bit face indices per face, as D3DX produces them.
    ByteBuffer adjacency;
};

// Copies every element of the source layout that the target layout has with the same type,
// method, usage and usage index, for each of the source's vertices; elements without a
// counterpart are left as they are. False, copying nothing, when a format is missing, a count
// is negative, the target has room for fewer vertices than the source holds, or a stream that
// an element is copied from or to has no memory. Elements on streams past 7 or lying past
// their stream's stride are skipped.
bool CopyVertices(const VertexStreams& target, const VertexStreams& source);

// Copies source.count indices into the target: equal widths byte for byte, 16 to 32 bits
// widened, 32 to 16 bits keeping the low 16 bits. False, copying nothing, when the target has
// room for fewer indices, a width is not 2 or 4, a count is negative or memory is missing.
bool CopyIndices(const IndexStream& target, const IndexStream& source);

// Each point (three floats at the start of each stride-byte record) := the point transformed
// as a coordinate (divided by w). False, changing nothing, for a stride below 12, a negative
// count or null points.
bool TransformPoints(void* points, int32_t stride, int32_t count, const D3DXMATRIX& matrix);
