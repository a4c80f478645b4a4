// D3DX meshes: an indexed triangle list with its vertices, kept in system memory. D3DX makes
// its meshes' buffers through the device; the engine only builds system-memory meshes to
// reorder them and reads them back, so the bytes live here and the device only vouches for
// the declaration and is kept alive, as D3DX keeps it.

#include "platform/com/com_object.h"
#include "platform/d3dx9/vertex_cache.h"

#include <d3dx9mesh.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();
constexpr DWORD kKnownOptions = D3DXMESH_32BIT | D3DXMESH_SYSTEMMEM | D3DXMESH_MANAGED | D3DXMESH_WRITEONLY |
                                D3DXMESH_DYNAMIC;
// Byte counts stay below 2 GiB so that every size the engine derives fits its ints.
constexpr uint64_t kMaxBytes = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
// Sixteen-bit indices reach vertices 0 to 65,535.
constexpr DWORD kMaxVertices16 = 65536;

bool IsEnd(const D3DVERTEXELEMENT9& e) { return std::memcmp(&e, &kEnd, sizeof e) == 0; }

// Bytes of one element of each D3DDECLTYPE; 0 for a type no declaration may use.
int DeclTypeSize(BYTE type) {
    switch (type) {
        case D3DDECLTYPE_FLOAT1: return 4;
        case D3DDECLTYPE_FLOAT2: return 8;
        case D3DDECLTYPE_FLOAT3: return 12;
        case D3DDECLTYPE_FLOAT4: return 16;
        case D3DDECLTYPE_D3DCOLOR:
        case D3DDECLTYPE_UBYTE4:
        case D3DDECLTYPE_SHORT2:
        case D3DDECLTYPE_UBYTE4N:
        case D3DDECLTYPE_SHORT2N:
        case D3DDECLTYPE_USHORT2N:
        case D3DDECLTYPE_UDEC3:
        case D3DDECLTYPE_DEC3N:
        case D3DDECLTYPE_FLOAT16_2: return 4;
        case D3DDECLTYPE_SHORT4:
        case D3DDECLTYPE_SHORT4N:
        case D3DDECLTYPE_USHORT4N:
        case D3DDECLTYPE_FLOAT16_4: return 8;
        default: return 0;
    }
}

// A buffer of bytes handed to the caller.
class ByteBuffer final : public rh::com::ComObject<ID3DXBuffer> {
public:
    explicit ByteBuffer(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
    LPVOID STDMETHODCALLTYPE GetBufferPointer() override { return bytes_.data(); }
    DWORD STDMETHODCALLTYPE GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    std::vector<BYTE> bytes_;
};

class Mesh final : public rh::com::ComObject<ID3DXMesh> {
public:
    Mesh(IDirect3DDevice9* device, DWORD faces, DWORD vertices, DWORD options,
         std::vector<D3DVERTEXELEMENT9> declaration, DWORD stride)
        : device_(device),
          faces_(faces),
          vertexCount_(vertices),
          options_(options),
          declaration_(std::move(declaration)),
          stride_(stride),
          vertices_(static_cast<size_t>(vertices) * stride, 0),
          indices_(static_cast<size_t>(faces) * 3 * IndexSize(), 0) {
        device_->AddRef();
    }
    ~Mesh() override { device_->Release(); }

    DWORD STDMETHODCALLTYPE GetNumFaces() override { return faces_; }
    DWORD STDMETHODCALLTYPE GetNumVertices() override { return vertexCount_; }
    DWORD STDMETHODCALLTYPE GetOptions() override { return options_; }
    DWORD STDMETHODCALLTYPE GetNumBytesPerVertex() override { return stride_; }

    HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) override {
        if (Declaration == nullptr) return D3DERR_INVALIDCALL;
        std::memcpy(Declaration, declaration_.data(), declaration_.size() * sizeof(D3DVERTEXELEMENT9));
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE LockVertexBuffer(DWORD, LPVOID* ppData) override {
        return Lock(vertices_, vertexLocks_, ppData);
    }
    HRESULT STDMETHODCALLTYPE UnlockVertexBuffer() override { return Unlock(vertexLocks_); }
    HRESULT STDMETHODCALLTYPE LockIndexBuffer(DWORD, LPVOID* ppData) override {
        return Lock(indices_, indexLocks_, ppData);
    }
    HRESULT STDMETHODCALLTYPE UnlockIndexBuffer() override { return Unlock(indexLocks_); }

    HRESULT STDMETHODCALLTYPE OptimizeInplace(DWORD Flags, const DWORD*, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
                                              LPD3DXBUFFER* ppVertexRemap) override {
        if (ppVertexRemap != nullptr) *ppVertexRemap = nullptr;
        if (Flags != D3DXMESHOPT_VERTEXCACHE || vertexLocks_ != 0 || indexLocks_ != 0) return D3DERR_INVALIDCALL;
        try {
            return Optimize(pAdjacencyOut, pFaceRemap, ppVertexRemap);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    size_t IndexSize() const { return (options_ & D3DXMESH_32BIT) != 0 ? 4 : 2; }

    static HRESULT Lock(std::vector<BYTE>& bytes, int& locks, LPVOID* out) {
        if (out == nullptr) return D3DERR_INVALIDCALL;
        ++locks;
        *out = bytes.data();
        return D3D_OK;
    }
    static HRESULT Unlock(int& locks) {
        if (locks == 0) return D3DERR_INVALIDCALL;
        --locks;
        return D3D_OK;
    }

    std::vector<uint32_t> ReadIndices() const {
        std::vector<uint32_t> out(static_cast<size_t>(faces_) * 3);
        if (IndexSize() == 4) {
            std::memcpy(out.data(), indices_.data(), out.size() * 4);
        } else {
            for (size_t i = 0; i < out.size(); ++i) {
                uint16_t index;
                std::memcpy(&index, &indices_[i * 2], 2);
                out[i] = index;
            }
        }
        return out;
    }
    void WriteIndices(const std::vector<uint32_t>& in) {
        if (IndexSize() == 4) {
            std::memcpy(indices_.data(), in.data(), in.size() * 4);
        } else {
            for (size_t i = 0; i < in.size(); ++i) {
                const auto index = static_cast<uint16_t>(in[i]);
                std::memcpy(&indices_[i * 2], &index, 2);
            }
        }
    }

    // Everything is computed aside first, so that running out of memory leaves the mesh as it was.
    HRESULT Optimize(DWORD* adjacencyOut, DWORD* faceRemapOut, LPD3DXBUFFER* vertexRemapOut) {
        std::vector<uint32_t> indices = ReadIndices();
        for (uint32_t index : indices) {
            if (index >= vertexCount_) return D3DERR_INVALIDCALL;
        }
        std::vector<uint32_t> order(faces_);
        rh::d3dx9::OrderFacesForVertexCache(indices.data(), faces_, vertexCount_, order.data());
        std::vector<uint32_t> reordered(indices.size());
        for (size_t f = 0; f < faces_; ++f) {
            std::memcpy(&reordered[3 * f], &indices[3 * static_cast<size_t>(order[f])], 3 * sizeof(uint32_t));
        }
        std::vector<uint32_t> remap(vertexCount_);
        rh::d3dx9::NumberVerticesByFirstUse(reordered.data(), reordered.size(), vertexCount_, remap.data());
        std::vector<BYTE> vertices(vertices_.size());
        for (size_t v = 0; v < vertexCount_; ++v) {
            std::memcpy(&vertices[v * stride_], &vertices_[static_cast<size_t>(remap[v]) * stride_], stride_);
        }
        std::vector<uint32_t> adjacency;
        if (adjacencyOut != nullptr) {
            adjacency.resize(reordered.size());
            rh::d3dx9::ComputeAdjacency(reordered.data(), faces_, vertexCount_, adjacency.data());
        }
        ID3DXBuffer* remapBuffer = nullptr;
        if (vertexRemapOut != nullptr) {
            std::vector<BYTE> remapBytes(remap.size() * sizeof(uint32_t));
            std::memcpy(remapBytes.data(), remap.data(), remapBytes.size());
            remapBuffer = new ByteBuffer(std::move(remapBytes));
        }

        // Nothing below allocates.
        vertices_.swap(vertices);
        WriteIndices(reordered);
        if (adjacencyOut != nullptr) std::memcpy(adjacencyOut, adjacency.data(), adjacency.size() * sizeof(DWORD));
        if (faceRemapOut != nullptr) std::memcpy(faceRemapOut, order.data(), order.size() * sizeof(DWORD));
        if (vertexRemapOut != nullptr) *vertexRemapOut = remapBuffer;
        return D3D_OK;
    }

    IDirect3DDevice9* device_;
    DWORD faces_;
    DWORD vertexCount_;
    DWORD options_;
    std::vector<D3DVERTEXELEMENT9> declaration_;  // D3DDECL_END included
    DWORD stride_;
    std::vector<BYTE> vertices_;
    std::vector<BYTE> indices_;
    int vertexLocks_ = 0;
    int indexLocks_ = 0;
};

// The declaration up to and including its end, and its stride; false when it is not a mesh's:
// no end within MAXD3DDECLLENGTH elements, no element, an element outside stream 0 or of an
// unknown type. The device checks the rest.
bool ReadDeclaration(const D3DVERTEXELEMENT9* elements, std::vector<D3DVERTEXELEMENT9>& out, DWORD& stride) {
    stride = 0;
    for (int i = 0; i <= MAXD3DDECLLENGTH; ++i) {
        out.push_back(elements[i]);
        if (IsEnd(elements[i])) return i > 0;
        const int size = DeclTypeSize(elements[i].Type);
        if (elements[i].Stream != 0 || size == 0) return false;
        stride = std::max<DWORD>(stride, elements[i].Offset + static_cast<DWORD>(size));
    }
    return false;
}

}  // namespace

HRESULT WINAPI D3DXCreateMesh(DWORD NumFaces, DWORD NumVertices, DWORD Options, const D3DVERTEXELEMENT9* pDeclaration,
                              LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXMESH* ppMesh) {
    if (ppMesh == nullptr) return D3DERR_INVALIDCALL;
    *ppMesh = nullptr;
    if (pDeclaration == nullptr || pD3DDevice == nullptr || NumFaces == 0 || NumVertices == 0 ||
        (Options & ~kKnownOptions) != 0) {
        return D3DERR_INVALIDCALL;
    }
    const bool wide = (Options & D3DXMESH_32BIT) != 0;
    if (!wide && NumVertices > kMaxVertices16) return D3DERR_INVALIDCALL;
    try {
        std::vector<D3DVERTEXELEMENT9> declaration;
        DWORD stride = 0;
        if (!ReadDeclaration(pDeclaration, declaration, stride)) return D3DERR_INVALIDCALL;
        IDirect3DVertexDeclaration9* checked = nullptr;
        if (pD3DDevice->CreateVertexDeclaration(declaration.data(), &checked) != D3D_OK) return D3DERR_INVALIDCALL;
        checked->Release();
        const uint64_t indexBytes = uint64_t{NumFaces} * 3 * (wide ? 4 : 2);
        const uint64_t vertexBytes = uint64_t{NumVertices} * stride;
        if (indexBytes > kMaxBytes || vertexBytes > kMaxBytes) return D3DERR_INVALIDCALL;
        *ppMesh = new Mesh(pD3DDevice, NumFaces, NumVertices, Options, std::move(declaration), stride);
        return D3D_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
