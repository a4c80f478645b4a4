#include "render/state_cache.h"

#include "render/app_framework.h"

#include <cassert>
#include <cstring>

namespace {

// A valid flag and the remembered value per entry. Plain globals: single thread, nothing
// allocated, a redundant set costs one flag test and one comparison.
template <typename T, int N>
struct Table {
    bool valid[N];
    T value[N];
    // Whether any entry was marked valid since the last Invalidate: the texture states are
    // invalidated after every effect draw, mostly with nothing learnt in between. (Tables are
    // globals, zero-initialised before any code runs; no initialiser that could run later.)
    bool any;

    void Mark(int i) {
        valid[i] = true;
        any = true;
    }
    void Invalidate() {
        if (!any) return;
        std::memset(valid, 0, sizeof(valid));
        any = false;
    }
    // Word-wise equality: 0.0 and -0.0 differ, equal bit patterns match (NaNs included).
    bool Holds(int i, const T& v) const { return valid[i] && std::memcmp(&value[i], &v, sizeof(T)) == 0; }
};

Table<DWORD, StateCache::kRenderStateCount> g_renderStates;
Table<DWORD, StateCache::kSamplerCount * StateCache::kSamplerStateTypes> g_samplerStates;
Table<DWORD, StateCache::kTextureStageCount * StateCache::kTextureStageStateTypes> g_stageStates;
Table<IDirect3DBaseTexture9*, StateCache::kTextureStageCount> g_textures;
Table<D3DMATRIX, StateCache::kTransformCount> g_transforms;
Table<D3DMATERIAL9, 1> g_material;

// Indices come from the engine's own code, never from files: out of range is a bug.
bool InRange(DWORD index, int count) {
    const bool ok = index < static_cast<DWORD>(count);
    assert(ok && "state cache index out of range");
    return ok;
}

// Steps 2-4 of every setter: store, mark, send. A refused value is forgotten rather than left
// claiming a state the device does not have.
template <typename T, int N, typename Send>
bool StoreAndSend(Table<T, N>& table, int i, const T& v, Send send) {
    if (g_device == nullptr) return false;
    table.value[i] = v;
    table.Mark(i);
    if (send() == S_OK) return true;
    table.valid[i] = false;
    return false;
}

}  // namespace

namespace StateCache {

bool SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!InRange(state, kRenderStateCount)) return false;
    if (g_renderStates.Holds(state, value)) return true;
    return StoreAndSend(g_renderStates, state, value, [&] { return g_device->SetRenderState(state, value); });
}

bool ForceRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!InRange(state, kRenderStateCount)) return false;
    return StoreAndSend(g_renderStates, state, value, [&] { return g_device->SetRenderState(state, value); });
}

bool GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!InRange(state, kRenderStateCount) || value == nullptr) return false;
    if (!g_renderStates.valid[state]) {
        if (g_device == nullptr) return false;
        DWORD read = 0;
        if (g_device->GetRenderState(state, &read) != S_OK) return false;
        g_renderStates.value[state] = read;
        g_renderStates.Mark(state);
    }
    *value = g_renderStates.value[state];
    return true;
}

bool SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (!InRange(sampler, kSamplerCount) || !InRange(type, kSamplerStateTypes)) return false;
    const int i = static_cast<int>(sampler) * kSamplerStateTypes + type;
    if (g_samplerStates.Holds(i, value)) return true;
    return StoreAndSend(g_samplerStates, i, value,
                        [&] { return g_device->SetSamplerState(sampler, type, value); });
}

bool SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (!InRange(stage, kTextureStageCount) || !InRange(type, kTextureStageStateTypes)) return false;
    const int i = static_cast<int>(stage) * kTextureStageStateTypes + type;
    if (g_stageStates.Holds(i, value)) return true;
    return StoreAndSend(g_stageStates, i, value,
                        [&] { return g_device->SetTextureStageState(stage, type, value); });
}

bool SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (!InRange(stage, kTextureStageCount)) return false;
    const int i = static_cast<int>(stage);
    if (g_textures.Holds(i, texture)) return true;
    return StoreAndSend(g_textures, i, texture, [&] { return g_device->SetTexture(stage, texture); });
}

bool SetTransform(D3DTRANSFORMSTATETYPE state, const float* matrix) {
    if (matrix == nullptr || !InRange(state, kTransformCount)) return false;
    D3DMATRIX m;
    std::memcpy(&m, matrix, sizeof(m));
    if (g_transforms.Holds(state, m)) return true;
    // The device reads the cached copy: the caller's 16 floats need not be a D3DMATRIX.
    return StoreAndSend(g_transforms, state, m,
                        [&] { return g_device->SetTransform(state, &g_transforms.value[state]); });
}

bool SetMaterial(const D3DMATERIAL9* material) {
    if (g_device == nullptr) return false;
    if (material != nullptr && g_material.Holds(0, *material)) return true;
    D3DMATERIAL9 m{};
    if (material != nullptr) m = *material;
    return StoreAndSend(g_material, 0, m, [&] { return g_device->SetMaterial(material); });
}

void InvalidateTextureStates() {
    g_textures.Invalidate();
    g_samplerStates.Invalidate();
    g_stageStates.Invalidate();
}

}  // namespace StateCache

int SetWorldTransform(const TypedMatrix& matrix) {
    return StateCache::SetTransform(D3DTS_WORLD, matrix.m) ? 0 : 1;
}

int SetViewTransform(const TypedMatrix& matrix) {
    return StateCache::SetTransform(D3DTS_VIEW, matrix.m) ? 0 : 1;
}

int SetProjectionTransform(const TypedMatrix& matrix) {
    return StateCache::SetTransform(D3DTS_PROJECTION, matrix.m) ? 0 : 1;
}

namespace {
uint32_t g_stateCacheGeneration = 0;
}  // namespace

uint32_t StateCacheGeneration() { return g_stateCacheGeneration; }

void InvalidateStateCache() {
    ++g_stateCacheGeneration;
    g_renderStates.Invalidate();
    g_samplerStates.Invalidate();
    g_stageStates.Invalidate();
    g_textures.Invalidate();
    g_transforms.Invalidate();
    g_material.Invalidate();
}
