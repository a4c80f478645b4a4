// One drawable set of device buffers: a vertex format, a growable buffer per vertex stream and
// an optional growable index buffer, drawn with one call; and GeometryDesc, the description a
// geometry is built from (usually made from a mesh's data).
#pragma once

#include "core/object/ref_counted.h"
#include "render/hardware_buffer.h"
#include "render/vertex_format.h"

#include <d3d9.h>

#include <cstdint>

class MeshData;
class Geometry;

// Primitives drawn from n vertices or indices: point list n, line list n / 2, line strip
// n - 1, triangle list n / 3, strip and fan n - 2, any other type n; never below 0.
int32_t PrimitiveCount(D3DPRIMITIVETYPE type, int32_t elements);
int32_t PrimitiveCount(const Geometry& geometry, int32_t elements);

// Index counts above this take 32-bit indices.
constexpr int32_t kMaxShortIndexCount = 32767;
// So do meshes with more vertices than 16-bit indices can name.
constexpr int32_t kMaxShortIndexVertices = 65536;

struct GeometryDesc {
    D3DPRIMITIVETYPE primitiveType = D3DPT_TRIANGLELIST;
    VertexFormat format;
    // Per stream: the stream's elements renumbered to stream 0, its stride and size.
    BufferDesc streams[kMaxVertexStreams];
    BufferDesc indices;

    // The description of a mesh's buffers in format (the mesh's own when null): for each
    // stream a vertex buffer of stride x vertex count bytes (flags size given and the geometry
    // mark; dynamic adds D3DPOOL_SYSTEMMEM and D3DUSAGE_DYNAMIC, both to be matched), and an
    // index buffer whose format must match: 32-bit when the mesh has more than 32,767 indices
    // or more than 65,536 vertices, else 16-bit. False, with the description unusable, for a
    // mesh without vertices, a format with a stream of stride 0 below its stream count, a
    // negative index count, or a size that overflows an int.
    bool InitFromMeshData(const MeshData& mesh, const VertexFormat* format, bool dynamic);
    // Redoes only the format and each stream's format, stride and size for the mesh; kinds,
    // flags, pools and usages stay. False as InitFromMeshData.
    bool SetVertexFormat(const MeshData& mesh, const VertexFormat& format);
};

class Geometry : public virtual RefCounted {
public:
    // Triangle list, empty format, no buffers.
    Geometry() = default;
    explicit Geometry(const VertexFormat& format) : format_(format) {}
    Geometry(const Geometry&) = delete;
    Geometry& operator=(const Geometry&) = delete;
    ~Geometry() override;

    // Releases the present buffers, takes the description's primitive type and format and
    // makes a growable buffer for each stream of the format and, when the index description
    // has a size, one for the indices; the effective sizes, pools and usages are written back
    // into desc. On any failure every buffer made so far is released again: a geometry has all
    // its buffers or none.
    bool CreateBuffers(GeometryDesc* desc);
    // Deletes every buffer (their blocks go with them).
    void ReleaseBuffers();
    // Binds the format's declaration, each stream's vertex buffer (offset 0, the format's
    // stride) and the index buffer, and draws the used spans in one call: indexed when the
    // index buffer's span is not empty, else from stream 0's span. Adds the primitives to the
    // frame statistics' "tris". False when anything is missing (declaration, a stream's buffer
    // or its device memory, a stride) or the device refuses a binding or the draw. An empty
    // span draws nothing and answers true.
    bool DrawGeometry();

    // Answers its own id and RefCounted's.
    bool QueryInterface(int32_t id, void** out) override;

    D3DPRIMITIVETYPE primitiveType() const { return primitiveType_; }
    const VertexFormat& format() const { return format_; }
    // Null when absent.
    GrowableBuffer* streamBuffer(int32_t stream) const { return streams_[stream]; }
    GrowableBuffer* indexBuffer() const { return indices_; }

private:
    D3DPRIMITIVETYPE primitiveType_ = D3DPT_TRIANGLELIST;
    VertexFormat format_;
    GrowableBuffer* streams_[kMaxVertexStreams] = {};
    GrowableBuffer* indices_ = nullptr;
};
