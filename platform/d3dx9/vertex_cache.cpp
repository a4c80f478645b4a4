// Face order for the post-transform vertex cache, renumbering by first use and adjacency.
// The face order is the greedy linear-speed vertex cache optimisation: every vertex carries a
// score, a face scores the sum of its three, and after each face only the vertices of the
// simulated cache change their scores, so each step looks at a bounded number of faces.

#include "platform/d3dx9/vertex_cache.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace rh::d3dx9 {
namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

// The scoring has the published method's shape: the three newest entries of the cache (the
// face just drawn) share one fixed score, older ones fall off with a power of their age, and a
// boost falls with a power of the faces a vertex has left (finishing a vertex off spares
// fetching it again much later). The constants are our own, tuned on grids, cut grids,
// spheres, closed tubes and shuffled meshes for a first-in-first-out cache of 16 entries. Such
// a cache does not refresh a vertex that is used again, so the face just drawn earns its
// vertices nothing beyond their boost, and older entries score only a little less than the
// youngest, so that the faces reusing them come before they are lost.
constexpr float kLastFaceScore = 0.0f;
constexpr float kCacheDecayPower = 0.359f;
constexpr float kValenceBoostScale = 3.355f;
constexpr float kValenceBoostPower = 0.766f;
// Beyond this many faces the boost hardly changes; larger counts share its last entry.
constexpr uint32_t kValenceTableSize = 32;

struct ScoreTables {
    float cache[kScoredCacheSize];
    float valence[kValenceTableSize + 1];

    ScoreTables() {
        for (int i = 0; i < kScoredCacheSize; ++i) {
            if (i < 3) {
                cache[i] = kLastFaceScore;
            } else {
                const float scale = 1.0f / static_cast<float>(kScoredCacheSize - 3);
                cache[i] = std::pow(1.0f - static_cast<float>(i - 3) * scale, kCacheDecayPower);
            }
        }
        valence[0] = 0.0f;  // a vertex without faces left is in no face's sum
        for (uint32_t n = 1; n <= kValenceTableSize; ++n) {
            valence[n] = kValenceBoostScale * std::pow(static_cast<float>(n), -kValenceBoostPower);
        }
    }

    float Score(int cachePosition, uint32_t facesLeft) const {
        const float boost = valence[std::min(facesLeft, kValenceTableSize)];
        return cachePosition >= 0 ? cache[cachePosition] + boost : boost;
    }
};

const ScoreTables& Tables() {
    static const ScoreTables tables;
    return tables;
}

}  // namespace

void OrderFacesForVertexCache(const uint32_t* indices, size_t faceCount, size_t vertexCount, uint32_t* order) {
    if (faceCount == 0) return;
    const ScoreTables& tables = Tables();
    const size_t cornerCount = faceCount * 3;

    // Each vertex's faces not yet drawn: faces[first[v]] .. faces[first[v] + left[v] - 1]. A
    // face naming a vertex twice is listed twice, as its score counts that vertex twice.
    std::vector<uint32_t> left(vertexCount, 0);
    for (size_t i = 0; i < cornerCount; ++i) ++left[indices[i]];
    std::vector<uint32_t> first(vertexCount);
    uint32_t offset = 0;
    for (size_t v = 0; v < vertexCount; ++v) {
        first[v] = offset;
        offset += left[v];
    }
    std::vector<uint32_t> faces(cornerCount);
    for (size_t i = 0; i < cornerCount; ++i) faces[first[indices[i]]++] = static_cast<uint32_t>(i / 3);
    for (size_t v = 0; v < vertexCount; ++v) first[v] -= left[v];

    std::vector<float> score(vertexCount);
    for (size_t v = 0; v < vertexCount; ++v) score[v] = tables.Score(-1, left[v]);
    std::vector<uint8_t> drawn(faceCount, 0);

    auto faceScore = [&](uint32_t f) {
        const uint32_t* c = indices + 3 * static_cast<size_t>(f);
        return score[c[0]] + score[c[1]] + score[c[2]];
    };
    // Keeps in best the first best-scoring of v's faces left and best itself (scores are
    // never negative, so -1 takes any face).
    auto considerFacesOf = [&](uint32_t v, uint32_t& best, float& bestScore) {
        const uint32_t* run = faces.data() + first[v];
        for (uint32_t j = 0, count = left[v]; j < count; ++j) {
            const float s = faceScore(run[j]);
            if (s > bestScore) {
                bestScore = s;
                best = run[j];
            }
        }
    };

    // The first face: the best of all, which on a fresh mesh is one among the fewest faces
    // per vertex (a corner or a border).
    uint32_t best = 0;
    float bestScore = faceScore(0);
    for (uint32_t f = 1; f < faceCount; ++f) {
        const float s = faceScore(f);
        if (s > bestScore) {
            bestScore = s;
            best = f;
        }
    }

    // The simulated cache, newest first. A step puts at most three new vertices in front, so
    // up to three fall out of the back; they are rescored as outside the cache.
    uint32_t buffers[2][kScoredCacheSize + 3];
    uint32_t* cache = buffers[0];
    uint32_t* next = buffers[1];
    int cacheSize = 0;

    // Dead ends: the vertices drawn, newest last, are searched back for one with faces left,
    // which lie near what was drawn last; each entry is dropped once, so the search stays
    // linear overall. Failing that, the first face not yet drawn in the input order.
    std::vector<uint32_t> recent;
    recent.reserve(cornerCount);
    size_t cursor = 0;  // no face before it is left undrawn
    auto deadEndFace = [&]() {
        while (!recent.empty() && left[recent.back()] == 0) recent.pop_back();
        if (!recent.empty()) {
            uint32_t face = kNone;
            float top = -1.0f;
            considerFacesOf(recent.back(), face, top);
            return face;
        }
        while (drawn[cursor] != 0) ++cursor;
        return static_cast<uint32_t>(cursor);
    };

    for (size_t n = 0; n < faceCount; ++n) {
        order[n] = best;
        drawn[best] = 1;
        const uint32_t* c = indices + 3 * static_cast<size_t>(best);
        recent.insert(recent.end(), c, c + 3);

        for (int k = 0; k < 3; ++k) {
            const uint32_t v = c[k];
            uint32_t* run = faces.data() + first[v];
            const uint32_t count = left[v];
            uint32_t j = 0;
            while (run[j] != best) ++j;
            run[j] = run[count - 1];
            left[v] = count - 1;
        }

        int size = 0;
        for (int k = 0; k < 3; ++k) {
            if (std::find(next, next + size, c[k]) == next + size) next[size++] = c[k];
        }
        for (int i = 0; i < cacheSize; ++i) {
            const uint32_t v = cache[i];
            if (v != c[0] && v != c[1] && v != c[2]) next[size++] = v;
        }
        for (int i = 0; i < size; ++i) {
            const uint32_t v = next[i];
            score[v] = tables.Score(i < kScoredCacheSize ? i : -1, left[v]);
        }
        cacheSize = std::min(size, kScoredCacheSize);
        std::swap(cache, next);

        // Only faces touching the cache changed their scores; the best of them goes next.
        best = kNone;
        bestScore = -1.0f;
        for (int i = 0; i < cacheSize; ++i) considerFacesOf(cache[i], best, bestScore);
        if (best == kNone && n + 1 < faceCount) best = deadEndFace();
    }
}

void NumberVerticesByFirstUse(uint32_t* indices, size_t indexCount, size_t vertexCount, uint32_t* remap) {
    std::vector<uint32_t> newNumber(vertexCount, kNone);
    uint32_t used = 0;
    for (size_t i = 0; i < indexCount; ++i) {
        uint32_t& number = newNumber[indices[i]];
        if (number == kNone) {
            remap[used] = indices[i];
            number = used++;
        }
        indices[i] = number;
    }
    for (size_t v = 0; v < vertexCount; ++v) {
        if (newNumber[v] == kNone) remap[used++] = static_cast<uint32_t>(v);
    }
}

void ComputeAdjacency(const uint32_t* indices, size_t faceCount, size_t vertexCount, uint32_t* adjacency) {
    const size_t cornerCount = faceCount * 3;
    std::fill(adjacency, adjacency + cornerCount, kNone);
    auto degenerate = [&](size_t f) {
        const uint32_t* c = indices + 3 * f;
        return c[0] == c[1] || c[1] == c[2] || c[2] == c[0];
    };

    // Edges bucketed by their lower vertex, each bucket in order of face and edge; an edge is
    // named by its slot f * 3 + k, which is also where its neighbour is written.
    std::vector<uint32_t> start(vertexCount + 1, 0);
    for (size_t f = 0; f < faceCount; ++f) {
        if (degenerate(f)) continue;
        const uint32_t* c = indices + 3 * f;
        for (int k = 0; k < 3; ++k) ++start[std::min(c[k], c[(k + 1) % 3]) + 1];
    }
    for (size_t v = 0; v < vertexCount; ++v) start[v + 1] += start[v];
    std::vector<uint32_t> slots(start[vertexCount]);
    {
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (size_t f = 0; f < faceCount; ++f) {
            if (degenerate(f)) continue;
            const uint32_t* c = indices + 3 * f;
            for (int k = 0; k < 3; ++k) {
                slots[fill[std::min(c[k], c[(k + 1) % 3])]++] = static_cast<uint32_t>(3 * f + k);
            }
        }
    }

    // Within a bucket, edges with the same upper vertex pair up as they come: the waiting one
    // with the next one. The waiting marks are cleared before the next bucket.
    auto upper = [&](uint32_t slot) {
        const uint32_t* c = indices + (slot / 3) * 3;
        const uint32_t k = slot % 3;
        return std::max(c[k], c[(k + 1) % 3]);
    };
    std::vector<uint32_t> waiting(vertexCount, kNone);
    for (size_t v = 0; v < vertexCount; ++v) {
        for (uint32_t i = start[v]; i < start[v + 1]; ++i) {
            const uint32_t slot = slots[i];
            uint32_t& other = waiting[upper(slot)];
            if (other == kNone) {
                other = slot;
            } else {
                adjacency[slot] = other / 3;
                adjacency[other] = slot / 3;
                other = kNone;
            }
        }
        for (uint32_t i = start[v]; i < start[v + 1]; ++i) waiting[upper(slots[i])] = kNone;
    }
}

}  // namespace rh::d3dx9
