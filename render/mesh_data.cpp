#include "render/mesh_data.h"

#include "core/bounds/bounding_box.h"
#include "render/app_framework.h"
#include "render/format_facts.h"

#include <d3dx9mesh.h>

#include <climits>
#include <cstring>
#include <utility>

namespace {

// count x size as an int, or -1 when it is negative or would not fit.
int32_t CheckedBytes(int32_t count, int32_t size) {
    if (count < 0 || size < 0) return -1;
    const int64_t bytes = static_cast<int64_t>(count) * size;
    return bytes > INT_MAX ? -1 : static_cast<int32_t>(bytes);
}

uint32_t PackElement(const D3DVERTEXELEMENT9& e) {
    return static_cast<uint32_t>(e.Type) | static_cast<uint32_t>(e.Method) << 8 |
           static_cast<uint32_t>(e.Usage) << 16 | static_cast<uint32_t>(e.UsageIndex) << 24;
}

// An element that lies inside its stream's vertex: a stream the device has, a type with a size,
// and its bytes within the stride.
bool ElementFits(const D3DVERTEXELEMENT9& e, const int32_t strides[kMaxVertexStreams]) {
    if (e.Stream >= kMaxVertexStreams) return false;
    const int32_t size = DeclTypeSize(e.Type);
    return size > 0 && e.Offset + size <= strides[e.Stream];
}

}  // namespace

// ---- VertexData and IndexData -----------------------------------------------------------------

bool VertexData::Allocate(int32_t count, const VertexFormat& format) {
    if (count == count_ && format.Equals(format_) && format.streamCount() == format_.streamCount()) return true;
    Free();
    if (count < 0) return false;
    for (int32_t s = 0; s < format.streamCount(); ++s) {
        const int32_t bytes = CheckedBytes(count, format.stride(s));
        if (bytes < 0) {
            Free();
            return false;
        }
        streams_[s].Resize(bytes);
        if (bytes > 0) std::memset(streams_[s].Data(), 0, static_cast<size_t>(bytes));
    }
    count_ = count;
    format_ = format;
    return true;
}

void VertexData::Free() {
    for (ByteBuffer& stream : streams_) stream.Free();
    count_ = 0;
    format_ = VertexFormat();
}

VertexStreams VertexData::Streams() const {
    VertexStreams view;
    for (int32_t s = 0; s < kMaxVertexStreams; ++s) {
        view.data[s] = const_cast<uint8_t*>(streams_[s].Data());
        view.strides[s] = format_.stride(s);
    }
    view.count = count_;
    view.format = &format_;
    return view;
}

bool IndexData::Allocate(int32_t count, int32_t bytesPerIndex) {
    if (count == count_ && bytesPerIndex == bytesPerIndex_ && (count == 0 || data_.Data() != nullptr)) return true;
    Free();
    if (bytesPerIndex != 2 && bytesPerIndex != 4) return false;
    const int32_t bytes = CheckedBytes(count, bytesPerIndex);
    if (bytes < 0) return false;
    data_.Resize(bytes);
    if (bytes > 0) std::memset(data_.Data(), 0, static_cast<size_t>(bytes));
    count_ = count;
    bytesPerIndex_ = bytesPerIndex;
    return true;
}

void IndexData::Free() {
    data_.Free();
    count_ = 0;
    bytesPerIndex_ = 2;
}

IndexStream IndexData::Stream() const {
    return IndexStream{const_cast<uint8_t*>(data_.Data()), count_, bytesPerIndex_};
}

// ---- Copies -----------------------------------------------------------------------------------

bool CopyVertices(const VertexStreams& target, const VertexStreams& source) {
    if (target.format == nullptr || source.format == nullptr || source.count < 0 || target.count < source.count) {
        return false;
    }
    if (source.count == 0) return true;
    struct Pair {
        const uint8_t* from;
        int32_t fromStride;
        uint8_t* to;
        int32_t toStride;
        int32_t size;
    };
    Pair pairs[kMaxVertexElements];
    int32_t pairCount = 0;
    const VertexFormat& from = *source.format;
    const VertexFormat& to = *target.format;
    for (int32_t i = 0; i < from.elementCount(); ++i) {
        const D3DVERTEXELEMENT9& se = from.element(i);
        if (!ElementFits(se, source.strides)) continue;
        const int32_t found = to.FindPackedElement(PackElement(se));
        if (found < 0) continue;
        const D3DVERTEXELEMENT9& te = to.element(found);
        if (!ElementFits(te, target.strides)) continue;
        const uint8_t* fromData = source.data[se.Stream];
        uint8_t* toData = target.data[te.Stream];
        if (fromData == nullptr || toData == nullptr) return false;
        pairs[pairCount++] = Pair{fromData + se.Offset, source.strides[se.Stream], toData + te.Offset,
                                  target.strides[te.Stream], DeclTypeSize(se.Type)};
    }
    for (int32_t v = 0; v < source.count; ++v) {
        for (int32_t p = 0; p < pairCount; ++p) {
            const Pair& pair = pairs[p];
            std::memcpy(pair.to + static_cast<size_t>(v) * pair.toStride,
                        pair.from + static_cast<size_t>(v) * pair.fromStride, static_cast<size_t>(pair.size));
        }
    }
    return true;
}

bool CopyIndices(const IndexStream& target, const IndexStream& source) {
    const bool widths = (target.bytesPerIndex == 2 || target.bytesPerIndex == 4) &&
                        (source.bytesPerIndex == 2 || source.bytesPerIndex == 4);
    if (!widths || source.count < 0 || target.count < source.count) return false;
    if (source.count == 0) return true;
    if (target.data == nullptr || source.data == nullptr) return false;
    const size_t n = static_cast<size_t>(source.count);
    if (target.bytesPerIndex == source.bytesPerIndex) {
        std::memmove(target.data, source.data, n * static_cast<size_t>(source.bytesPerIndex));
    } else if (source.bytesPerIndex == 2) {
        for (size_t i = 0; i < n; ++i) {
            uint16_t index;
            std::memcpy(&index, source.data + 2 * i, 2);
            const uint32_t wide = index;
            std::memcpy(target.data + 4 * i, &wide, 4);
        }
    } else {
        for (size_t i = 0; i < n; ++i) {
            uint32_t index;
            std::memcpy(&index, source.data + 4 * i, 4);
            const uint16_t narrow = static_cast<uint16_t>(index);
            std::memcpy(target.data + 2 * i, &narrow, 2);
        }
    }
    return true;
}

bool TransformPoints(void* points, int32_t stride, int32_t count, const D3DXMATRIX& matrix) {
    if (points == nullptr || stride < static_cast<int32_t>(sizeof(D3DXVECTOR3)) || count < 0) return false;
    auto* bytes = static_cast<uint8_t*>(points);
    for (int32_t i = 0; i < count; ++i) {
        uint8_t* record = bytes + static_cast<size_t>(i) * stride;
        D3DXVECTOR3 point;
        std::memcpy(&point, record, sizeof(point));
        D3DXVECTOR3 moved;
        D3DXVec3TransformCoord(&moved, &point, &matrix);
        std::memcpy(record, &moved, sizeof(moved));
    }
    return true;
}

// ---- MeshData ---------------------------------------------------------------------------------

bool MeshData::ComputeBounds() {
    const int32_t count = vertices.count();
    if (count <= 0) return false;
    const VertexFormat& format = vertices.format();
    const int32_t index = format.FindElement(D3DDECLUSAGE_POSITION, 0);
    valid_ = false;
    if (index < 0) return true;
    const D3DVERTEXELEMENT9& position = format.element(index);
    // Three floats are read per vertex: anything shorter would read past the vertex, and the
    // packed types are not coordinates.
    if (position.Type != D3DDECLTYPE_FLOAT3 && position.Type != D3DDECLTYPE_FLOAT4) return true;
    int32_t strides[kMaxVertexStreams];
    for (int32_t s = 0; s < kMaxVertexStreams; ++s) strides[s] = format.stride(s);
    if (!ElementFits(position, strides)) return true;
    const uint8_t* data = vertices.stream(position.Stream);
    if (data == nullptr) return false;
    box_ = ComputeVertexBounds(data + position.Offset, static_cast<uint32_t>(strides[position.Stream]),
                               static_cast<uint32_t>(count));
    valid_ = true;
    return true;
}

VertexFormat MeshData::RenderFormat() const {
    const VertexFormat& own = vertices.format();
    VertexFormat format;
    format.SetFromElements(nullptr);
    format.AddElement(D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0);
    format.AddElement(D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0);
    // Colours are the fixed-function pipeline's packed D3DCOLOR, as the scene's vertex colours
    // are stored.
    if (own.FindElement(D3DDECLUSAGE_COLOR, 0) >= 0) {
        format.AddElement(D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0);
    }
    if (own.FindElement(D3DDECLUSAGE_TEXCOORD, 0) >= 0) {
        format.AddElement(D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0);
    }
    if (own.FindElement(D3DDECLUSAGE_TEXCOORD, 1) >= 0) {
        format.AddElement(D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1);
    }
    return format;
}

// ---- The D3DX round trip ----------------------------------------------------------------------

ID3DXMesh* MeshData::CreateD3DXMesh(DWORD options, bool copy) const {
    const int32_t vertexCount = vertices.count();
    const int32_t faces = indices.count() / 3;
    if (g_device == nullptr || vertexCount <= 0 || faces <= 0) return nullptr;
    ID3DXMesh* mesh = nullptr;
    if (D3DXCreateMesh(static_cast<DWORD>(faces), static_cast<DWORD>(vertexCount), options,
                       vertices.format().elements(), g_device, &mesh) != D3D_OK ||
        mesh == nullptr) {
        return nullptr;
    }
    if (!copy) return mesh;

    bool copied = false;
    void* data = nullptr;
    const int32_t stride = vertices.format().stride(0);
    if (static_cast<int32_t>(mesh->GetNumBytesPerVertex()) == stride && vertices.stream(0) != nullptr &&
        mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data) == D3D_OK) {
        std::memcpy(data, vertices.stream(0), static_cast<size_t>(vertexCount) * static_cast<size_t>(stride));
        copied = mesh->UnlockVertexBuffer() == D3D_OK;
    }
    // The mesh holds whole faces in its own width: a count that is not a multiple of three, or
    // data of the other width, would otherwise be copied past its index buffer.
    if (copied && mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data) == D3D_OK) {
        const int32_t width = (options & D3DXMESH_32BIT) != 0 ? 4 : 2;
        IndexStream source = indices.Stream();
        source.count = faces * 3;
        copied = CopyIndices(IndexStream{static_cast<uint8_t*>(data), faces * 3, width}, source);
        copied = mesh->UnlockIndexBuffer() == D3D_OK && copied;
    } else {
        copied = false;
    }
    if (!copied) {
        mesh->Release();
        return nullptr;
    }
    return mesh;
}

bool MeshData::CopyFromD3DXMesh(ID3DXMesh* mesh) {
    if (mesh == nullptr) return false;
    D3DVERTEXELEMENT9 declaration[MAX_FVF_DECL_SIZE];
    if (mesh->GetDeclaration(declaration) != D3D_OK) return false;
    VertexFormat format;
    format.SetFromElements(declaration);
    const DWORD vertexCount = mesh->GetNumVertices();
    const DWORD indexCount = mesh->GetNumFaces() * 3;
    const int32_t width = (mesh->GetOptions() & D3DXMESH_32BIT) != 0 ? 4 : 2;
    if (vertexCount > INT_MAX || mesh->GetNumFaces() > INT_MAX / 3 ||
        static_cast<int32_t>(mesh->GetNumBytesPerVertex()) != format.stride(0)) {
        return false;
    }

    // Both locked before anything here changes, so a failed lock leaves the data as it was.
    void* vertexBytes = nullptr;
    void* indexBytes = nullptr;
    if (mesh->LockVertexBuffer(D3DLOCK_READONLY, &vertexBytes) != D3D_OK) return false;
    if (mesh->LockIndexBuffer(D3DLOCK_READONLY, &indexBytes) != D3D_OK) {
        mesh->UnlockVertexBuffer();
        return false;
    }
    bool ok = vertices.Allocate(static_cast<int32_t>(vertexCount), format) &&
              indices.Allocate(static_cast<int32_t>(indexCount), width);
    if (ok) {
        if (vertexCount > 0) {
            std::memcpy(vertices.stream(0), vertexBytes, static_cast<size_t>(vertexCount) * format.stride(0));
        }
        if (indexCount > 0) std::memcpy(indices.data(), indexBytes, static_cast<size_t>(indexCount) * width);
    }
    ok = mesh->UnlockIndexBuffer() == D3D_OK && ok;
    ok = mesh->UnlockVertexBuffer() == D3D_OK && ok;
    return ok;
}

bool MeshData::OptimizeForVertexCache(SkinArrays* skin) {
    const int32_t faces = indices.count() / 3;
    const int32_t vertexCount = vertices.count();
    if (faces <= 0 || adjacency.Size() != faces * 3 * static_cast<int32_t>(sizeof(DWORD))) return false;
    const DWORD options = D3DXMESH_SYSTEMMEM | D3DXMESH_DYNAMIC | (indices.bytesPerIndex() == 4 ? D3DXMESH_32BIT : 0);
    ID3DXMesh* mesh = CreateD3DXMesh(options, true);
    if (mesh == nullptr) return false;

    ByteBuffer newAdjacency;
    newAdjacency.Resize(adjacency.Size());
    ID3DXBuffer* remap = nullptr;
    const bool withSkin = skin != nullptr && skin->boneOffsets != nullptr && skin->boneCounts != nullptr;
    bool ok = mesh->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, reinterpret_cast<const DWORD*>(adjacency.Data()),
                                    reinterpret_cast<DWORD*>(newAdjacency.Data()), nullptr,
                                    withSkin ? &remap : nullptr) == D3D_OK;
    if (ok && withSkin) {
        ok = remap != nullptr && remap->GetBufferSize() >= static_cast<DWORD>(vertexCount) * sizeof(DWORD);
    }
    // The mesh data changes only once everything it needs is in hand.
    ok = ok && CopyFromD3DXMesh(mesh);
    if (ok) {
        adjacency = std::move(newAdjacency);
        if (withSkin) {
            const auto* order = static_cast<const DWORD*>(remap->GetBufferPointer());
            const int32_t bytes = vertexCount * static_cast<int32_t>(sizeof(int32_t));
            ByteBuffer offsets, counts;
            offsets.Assign(skin->boneOffsets, bytes);
            counts.Assign(skin->boneCounts, bytes);
            const auto* oldOffsets = reinterpret_cast<const int32_t*>(offsets.Data());
            const auto* oldCounts = reinterpret_cast<const int32_t*>(counts.Data());
            for (int32_t i = 0; i < vertexCount; ++i) {
                const DWORD old = order[i] < static_cast<DWORD>(vertexCount) ? order[i] : static_cast<DWORD>(i);
                skin->boneOffsets[i] = oldOffsets[old];
                skin->boneCounts[i] = oldCounts[old];
            }
        }
    }
    if (remap != nullptr) remap->Release();
    mesh->Release();
    return ok;
}
