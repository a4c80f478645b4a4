// The index work behind ID3DXMesh::OptimizeInplace, free of any mesh object: face order for
// the post-transform vertex cache, vertex numbering by first use and edge adjacency. Every
// index must be below vertexCount (the caller checks); all of it runs in time linear in the
// number of faces and vertices.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rh::d3dx9 {

// The number of vertices of the least-recently-used cache the face order is scored against.
// With the scores of vertex_cache.cpp it suits a first-in-first-out cache of 16 entries, the
// size the order is judged by (the smallest the engine's hardware has).
inline constexpr int kScoredCacheSize = 20;

// Fills order (faceCount entries) with the faces of indices (three per face) in the order to
// draw them: order[new] = old. The greedy order of the linear-speed vertex cache optimisation:
// each vertex scores by its place in a simulated cache plus a boost for having few faces left
// to draw, and a face by the sum of its vertices; the next face is the best-scoring one among
// those touching the cache. At a dead end (no face touches the cache) it is the best face of
// the most recently drawn vertex that has faces left, else the first face not yet drawn.
// faceCount x 3 must be below 2^32.
void OrderFacesForVertexCache(const uint32_t* indices, size_t faceCount, size_t vertexCount, uint32_t* order);

// Renumbers the vertices by their first use in indices (indexCount entries, rewritten in
// place). remap (vertexCount entries) receives, for each new number, the old one; vertices
// the indices do not name follow the used ones in their old order.
void NumberVerticesByFirstUse(uint32_t* indices, size_t indexCount, size_t vertexCount, uint32_t* remap);

// Fills adjacency (three entries per face) with, for edge k of face f (corner k to corner
// (k + 1) % 3), the face that shares that edge's two vertex indices in either order, or
// 0xFFFFFFFF. When more than two faces share an edge, its occurrences pair up in order of
// face and edge (the first with the second, the third with the fourth, ...), so the relation
// stays symmetric. A face naming a vertex twice has no neighbours and is no one's neighbour.
// faceCount x 3 must be below 2^32.
void ComputeAdjacency(const uint32_t* indices, size_t faceCount, size_t vertexCount, uint32_t* adjacency);

}  // namespace rh::d3dx9
