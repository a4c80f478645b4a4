#include "render/geometry.h"

#include "core/settings/frame_stats.h"
#include "render/mesh_data.h"

#include <climits>

namespace {

int32_t IndexBytes(D3DFORMAT format) { return format == D3DFMT_INDEX16 ? 2 : 4; }

}  // namespace

int32_t PrimitiveCount(D3DPRIMITIVETYPE type, int32_t elements) {
    int32_t count = elements;
    switch (type) {
    case D3DPT_POINTLIST: count = elements; break;
    case D3DPT_LINELIST: count = elements / 2; break;
    case D3DPT_LINESTRIP: count = elements - 1; break;
    case D3DPT_TRIANGLELIST: count = elements / 3; break;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: count = elements - 2; break;
    default: break;
    }
    return count > 0 ? count : 0;
}

int32_t PrimitiveCount(const Geometry& geometry, int32_t elements) {
    return PrimitiveCount(geometry.primitiveType(), elements);
}

// ---- GeometryDesc -----------------------------------------------------------------------------

bool GeometryDesc::SetVertexFormat(const MeshData& mesh, const VertexFormat& newFormat) {
    const int32_t vertexCount = mesh.vertices.count();
    if (vertexCount <= 0 || newFormat.streamCount() <= 0) return false;
    format = newFormat;
    for (int32_t s = 0; s < format.streamCount(); ++s) {
        const int32_t stride = format.stride(s);
        if (stride <= 0 || vertexCount > INT_MAX / stride) return false;
        streams[s].format = format.ExtractStream(s, 0);
        streams[s].stride = stride;
        streams[s].size = stride * vertexCount;
    }
    return true;
}

bool GeometryDesc::InitFromMeshData(const MeshData& mesh, const VertexFormat* given, bool dynamic) {
    const VertexFormat& chosen = given != nullptr ? *given : mesh.vertices.format();
    for (BufferDesc& stream : streams) stream = BufferDesc{};
    indices = BufferDesc{};
    for (int32_t s = 0; s < chosen.streamCount() && s < kMaxVertexStreams; ++s) {
        BufferDesc& stream = streams[s];
        stream.kind = BufferKind::Vertex;
        stream.flags = kBufferSizeGiven | kBufferGeometryMark;
        if (dynamic) {
            stream.pool = D3DPOOL_SYSTEMMEM;
            stream.usage = D3DUSAGE_DYNAMIC;
            stream.flags |= kBufferPoolGiven | kBufferUsageGiven;
        }
    }
    if (!SetVertexFormat(mesh, chosen)) return false;

    const int32_t indexCount = mesh.indices.count();
    if (indexCount < 0) return false;
    indices.kind = BufferKind::Index;
    indices.flags = kBufferIndexFormatMatches | kBufferSizeGiven;
    // 16-bit indices name at most 65,536 vertices: a mesh with more needs 32 bits however few
    // indices it has, or its high vertices would be cut to their low 16 bits.
    const bool wide = indexCount > kMaxShortIndexCount || mesh.vertices.count() > kMaxShortIndexVertices;
    indices.indexFormat = wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16;
    const int32_t bytes = IndexBytes(indices.indexFormat);
    if (indexCount > INT_MAX / bytes) return false;
    indices.size = indexCount * bytes;
    return true;
}

// ---- Geometry ---------------------------------------------------------------------------------

Geometry::~Geometry() { ReleaseBuffers(); }

bool Geometry::QueryInterface(int32_t id, void** out) { return AnswerQuery<Geometry, RefCounted>(this, id, out); }

void Geometry::ReleaseBuffers() {
    for (GrowableBuffer*& stream : streams_) {
        delete stream;
        stream = nullptr;
    }
    delete indices_;
    indices_ = nullptr;
}

bool Geometry::CreateBuffers(GeometryDesc* desc) {
    ReleaseBuffers();
    primitiveType_ = desc->primitiveType;
    format_ = desc->format;
    for (int32_t s = 0; s < format_.streamCount() && s < kMaxVertexStreams; ++s) {
        streams_[s] = new GrowableBuffer;
        if (!streams_[s]->Create(&desc->streams[s])) {
            ReleaseBuffers();
            return false;
        }
    }
    if (desc->indices.size != 0) {
        indices_ = new GrowableBuffer;
        if (!indices_->Create(&desc->indices)) {
            ReleaseBuffers();
            return false;
        }
    }
    return true;
}

bool Geometry::DrawGeometry() {
    if (g_device == nullptr) return false;
    IDirect3DVertexDeclaration9* declaration = format_.GetDeclaration();
    if (declaration == nullptr || g_device->SetVertexDeclaration(declaration) != D3D_OK) return false;
    for (int32_t s = 0; s < format_.streamCount(); ++s) {
        // A buffer whose device memory could not be made again after a growth keeps its blocks
        // without memory until the next restore; it is not drawn.
        IDirect3DVertexBuffer9* buffer = streams_[s] != nullptr ? streams_[s]->GetVertexBuffer() : nullptr;
        const int32_t stride = format_.stride(s);
        if (buffer == nullptr || stride <= 0) return false;
        if (g_device->SetStreamSource(static_cast<UINT>(s), buffer, 0, static_cast<UINT>(stride)) != D3D_OK) {
            return false;
        }
    }
    if (streams_[0] == nullptr) return false;

    int32_t indexStart = 0, indexLength = 0, vertexStart = 0, vertexLength = 0;
    if (indices_ != nullptr) indices_->GetUsedSpan(&indexStart, &indexLength);
    streams_[0]->GetUsedSpan(&vertexStart, &vertexLength);
    const int32_t stride = format_.stride(0);

    HRESULT drawn = D3D_OK;
    int32_t primitives = 0;
    if (indexLength > 0) {
        IDirect3DIndexBuffer9* buffer = indices_->GetIndexBuffer();
        if (buffer == nullptr || g_device->SetIndices(buffer) != D3D_OK) return false;
        const int32_t indexSize = IndexBytes(indices_->GetIndexFormat());
        primitives = PrimitiveCount(primitiveType_, indexLength / indexSize);
        if (primitives == 0) return true;
        drawn = g_device->DrawIndexedPrimitive(primitiveType_, 0, 0, static_cast<UINT>(vertexLength / stride),
                                               static_cast<UINT>(indexStart / indexSize),
                                               static_cast<UINT>(primitives));
    } else {
        primitives = PrimitiveCount(primitiveType_, vertexLength / stride);
        if (primitives == 0) return true;
        drawn = g_device->DrawPrimitive(primitiveType_, static_cast<UINT>(vertexStart / stride),
                                        static_cast<UINT>(primitives));
    }
    if (drawn != D3D_OK) return false;
    static const String kTriangles(kStatTriangles);
    g_frameStats.Add(kTriangles, primitives);
    return true;
}
