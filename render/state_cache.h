// The render-state cache: remembers the last value handed to the global device for every render
// state, sampler state, texture-stage state, texture stage, transform and the material, and drops
// a call that repeats it. Every renderer sets device state through here, so that materials,
// effects and the render queue may set their states on every draw without paying for redundant
// device calls.
//
// All functions use the global device (g_device, render/app_framework.h). Values compare as
// 32-bit words: a transform that differs only by 0.0 against -0.0 is sent again. An index outside
// a table (only the Direct3D enumerations below are meant) is a caller's bug: it asserts in
// debug builds and is refused with false otherwise.
#pragma once

#include "core/math/typed_matrix.h"

#include <d3d9.h>

#include <cstdint>

namespace StateCache {

// Table sizes, indexed directly by the Direct3D enumerations.
constexpr int kRenderStateCount = 1024;
constexpr int kSamplerCount = 8;
constexpr int kSamplerStateTypes = 16;
constexpr int kTextureStageCount = 8;
constexpr int kTextureStageStateTypes = 64;
constexpr int kTransformCount = 512;  // D3DTS_VIEW 2 ... D3DTS_WORLD 256 ... world matrix 255

// The shared setter contract: true without a device call when the entry is known to hold the
// value; false without a device (nothing changes); otherwise the value is stored and sent, and
// the answer is true exactly when the device returned S_OK. A refused value leaves the entry
// unknown, so the next set of any value reaches the device again.
bool SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
// As SetRenderState, but always calls the device (for states changed behind the cache's back).
bool ForceRenderState(D3DRENDERSTATETYPE state, DWORD value);
// The cached value; an unknown entry is first read from the device (false when that fails or
// there is no device; *value is then untouched).
bool GetRenderState(D3DRENDERSTATETYPE state, DWORD* value);
bool SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value);
bool SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
// The texture is compared by address and not reference-counted by the cache.
bool SetTexture(DWORD stage, IDirect3DBaseTexture9* texture);
// matrix: 16 floats, row-major for row vectors (the D3DMATRIX layout); null gives false.
bool SetTransform(D3DTRANSFORMSTATETYPE state, const float* matrix);
// An equal material (word for word) is dropped. A null material is remembered as 17 zero words
// and handed to the device as null. The answer is the device's (true exactly on S_OK).
bool SetMaterial(const D3DMATERIAL9* material);

// Forgets every texture, sampler-state and texture-stage-state entry: effect passes set them
// directly on the device. Render states, transforms and the material stay known.
void InvalidateTextureStates();

}  // namespace StateCache

// StateCache::SetTransform with D3DTS_WORLD, D3DTS_VIEW or D3DTS_PROJECTION on the matrix's 16
// floats. These three answer 0 on success and 1 on failure (the opposite sense of the others).
int SetWorldTransform(const TypedMatrix& matrix);
int SetViewTransform(const TypedMatrix& matrix);
int SetProjectionTransform(const TypedMatrix& matrix);

// Forgets every entry of every table, the material too: after device creation and every reset
// the device holds the Direct3D defaults, not what the cache remembers.
void InvalidateStateCache();

// Changes with every InvalidateStateCache: holders of device state the cache does not keep
// (the light slots) compare it to learn that the device lost what they sent.
uint32_t StateCacheGeneration();
