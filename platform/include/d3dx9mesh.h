// D3DX 9 mesh helpers the engine calls.
#pragma once

#include "d3d9.h"
#include "d3d9types.h"
#include "d3dx9math.h"

// The smallest box around NumVertices points: the first at pFirstPosition, each next one
// dwStride bytes further on. NumVertices 0 gives min = max = (0, 0, 0). D3DERR_INVALIDCALL
// when pFirstPosition, pMin or pMax is null (the outputs are then untouched); S_OK otherwise.
HRESULT WINAPI D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                                      D3DXVECTOR3* pMin, D3DXVECTOR3* pMax);

// Room for the longest declaration and its end marker (MAXD3DDECLLENGTH + 1).
#define MAX_FVF_DECL_SIZE 65

// The vertex declaration equivalent to an FVF code, in the FVF's order, all in stream 0,
// ended by D3DDECL_END: position (XYZ, XYZW, XYZRHW as POSITIONT, or XYZB1-5 with blend
// weights and, with D3DFVF_LASTBETA_UBYTE4 / D3DFVF_LASTBETA_D3DCOLOR, the last beta as
// blend indices), normal, point size, diffuse (COLOR 0), specular (COLOR 1), then each texture
// coordinate set with its D3DFVF_TEXCOORDSIZE width. D3DERR_INVALIDCALL for a null
// pDeclarator or a code no declaration expresses (reserved bits, more than 8 texture sets,
// a LASTBETA flag without a blended position); pDeclarator[0] is then D3DDECL_END.
HRESULT WINAPI D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]);

// The FVF code of a declaration, the inverse of D3DXDeclaratorFromFVF. D3DERR_INVALIDCALL
// (and *pFVF 0) for a null argument and for a declaration no FVF can express: elements out of
// the FVF order or at other offsets than the packed FVF layout, more than one stream, a
// non-default method, or a type or usage without an FVF field.
HRESULT WINAPI D3DXFVFFromDeclarator(const D3DVERTEXELEMENT9* pDeclarator, DWORD* pFVF);

// Mesh creation options (D3DXCreateMesh, ID3DXMesh::GetOptions): 32-bit indices, and the pool
// and usage of the vertex and index buffers (each value sets the VB_ and IB_ bit together).
#define D3DXMESH_32BIT 0x001
#define D3DXMESH_SYSTEMMEM 0x110
#define D3DXMESH_MANAGED 0x220
#define D3DXMESH_WRITEONLY 0x440
#define D3DXMESH_DYNAMIC 0x880

// ID3DXMesh::OptimizeInplace: reorder the faces for the post-transform vertex cache.
#define D3DXMESHOPT_VERTEXCACHE 0x04000000

// A block of bytes D3DX hands out (a vertex remap, ...). Released by the caller.
struct ID3DXBuffer : public IUnknown {
    virtual LPVOID STDMETHODCALLTYPE GetBufferPointer() = 0;
    virtual DWORD STDMETHODCALLTYPE GetBufferSize() = 0;
};
typedef ID3DXBuffer* LPD3DXBUFFER;

// An indexed triangle list in one vertex stream, kept in system memory: GetNumFaces triangles
// of three indices (16-bit, or 32-bit with D3DXMESH_32BIT) into GetNumVertices vertices of
// GetNumBytesPerVertex bytes laid out by GetDeclaration. The mesh holds a reference on the
// device it was made for.
struct ID3DXMesh : public IUnknown {
    virtual DWORD STDMETHODCALLTYPE GetNumFaces() = 0;
    virtual DWORD STDMETHODCALLTYPE GetNumVertices() = 0;
    // The options the mesh was created with.
    virtual DWORD STDMETHODCALLTYPE GetOptions() = 0;
    // Copies the declaration, D3DDECL_END included. D3DERR_INVALIDCALL for a null array.
    virtual HRESULT STDMETHODCALLTYPE GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) = 0;
    // The stride of the vertex stream.
    virtual DWORD STDMETHODCALLTYPE GetNumBytesPerVertex() = 0;

    // *ppData receives the start of the vertices (or of the indices, GetNumFaces x 3 of
    // them); the bytes stay at that address until the matching unlock. Any D3DLOCK_ flags are
    // taken: the data is in system memory, so D3DLOCK_DISCARD keeps it and reads are always
    // allowed. Locks nest; an unlock without a lock answers D3DERR_INVALIDCALL. A null ppData
    // gives D3DERR_INVALIDCALL.
    virtual HRESULT STDMETHODCALLTYPE LockVertexBuffer(DWORD Flags, LPVOID* ppData) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockVertexBuffer() = 0;
    virtual HRESULT STDMETHODCALLTYPE LockIndexBuffer(DWORD Flags, LPVOID* ppData) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockIndexBuffer() = 0;

    // Reorders the faces for the post-transform vertex cache and the vertices by first use in
    // the new face order; each face keeps its three vertices in their winding order. Flags
    // must be D3DXMESHOPT_VERTEXCACHE. pAdjacencyIn (three face numbers per face) may be null:
    // the order follows from the indices alone. Outputs, each optional:
    // - pAdjacencyOut (GetNumFaces x 3 DWORDs, may be pAdjacencyIn): for edge k of face f,
    //   from corner k to corner (k + 1) % 3, the face sharing that edge (the same two vertex
    //   indices, either way round), 0xFFFFFFFF for none. Sharing is symmetric: where more than
    //   two faces share an edge they pair up in face order. A face naming a vertex twice has no
    //   neighbours.
    // - pFaceRemap (GetNumFaces DWORDs): pFaceRemap[new face] = its old face number.
    // - *ppVertexRemap: a new buffer of GetNumVertices DWORDs, [new vertex] = its old number,
    //   so that new[i] = old[remap[i]] for any per-vertex data. Vertices no face uses keep
    //   their relative order behind the used ones; the vertex count does not change.
    // D3DERR_INVALIDCALL, with the mesh unchanged, for other flags, while a buffer is locked
    // or when an index is not below GetNumVertices; E_OUTOFMEMORY when memory runs out.
    virtual HRESULT STDMETHODCALLTYPE OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut,
                                                      DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap) = 0;
};
typedef ID3DXMesh* LPD3DXMESH;

// A mesh of NumFaces triangles and NumVertices vertices laid out by pDeclaration, with its
// bytes zeroed. Options: D3DXMESH_32BIT and the pool and usage values above (which change
// nothing here: the mesh lives in system memory). The declaration must be one the device
// accepts, all in stream 0 and not empty; the stride is the end of its furthest element.
// D3DERR_INVALIDCALL (and *ppMesh null) for a null argument, zero counts, other options, more
// than 65,536 vertices with 16-bit indices, another declaration or a mesh of 2 GiB or more;
// E_OUTOFMEMORY when memory runs out. The mesh holds a reference on pD3DDevice.
HRESULT WINAPI D3DXCreateMesh(DWORD NumFaces, DWORD NumVertices, DWORD Options, const D3DVERTEXELEMENT9* pDeclaration,
                              LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXMESH* ppMesh);
